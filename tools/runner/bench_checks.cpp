#include "tools/runner/bench_checks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>

#include "engine/file_image.h"
#include "platform/com_ports.h"

namespace runner {

namespace {

#ifdef _WIN32
// Nothing is opened with a descriptor that a program started later could inherit.
constexpr int O_CLOEXEC = 0;
#endif

}  // namespace

bool check_settings_file(const std::string& path, std::string* why) {
  struct stat st {};
  if (path.empty()) {
    *why = "ZEBL.ini: the working directory cannot be determined";
    return false;
  }
  if (::stat(path.c_str(), &st) != 0) {
    *why = path + ": " + std::strerror(errno) +
           " (start quillmark-run in the bench folder, or name it with --bench)";
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    *why = path + ": is a folder, not the settings file";
    return false;
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *why = path + ": " + std::strerror(errno);
    return false;
  }
  ::close(fd);
  return true;
}

bool check_update_file(const std::string& path, std::string* why) {
  if (path.empty()) {
    *why = "ZEBL.ini: no update file is set (Path in [FilePath])";
    return false;
  }
  std::string name_problem;
  if (engine::module_file_name(path, &name_problem).empty()) {
    *why = path + ": the name cannot be stored on a module: " + name_problem;
    return false;
  }
  int32_t size = 0;
  if (engine::file_read(path, &size)) return true;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    *why = path + ": " + std::strerror(errno);
  else if (S_ISDIR(st.st_mode))
    *why = path + ": is a folder, not an update file";
  else if (!S_ISREG(st.st_mode))
    *why = path + ": is not a regular file";
  else if (st.st_size == 0)
    *why = path + ": is empty";
  else if (::access(path.c_str(), R_OK) != 0)
    *why = path + ": " + std::strerror(errno);
  else
    *why = path + ": cannot be read whole (over 2 GiB, or changed while it was read)";
  return false;
}

std::string port_open_failure(unsigned n, const std::string& why) {
  if (why.empty()) return {};
  const std::string com = "COM" + std::to_string(n);
#ifdef _WIN32
  // The system numbers the ports; its reason says whether the port is missing or in use.
  if (why.rfind(com + " ", 0) == 0) return why;
  return com + ": " + why;
#endif
  std::optional<std::string> device = platform::resolve_com_port(n);
  if (!device) {
    std::error_code ec;
    if (std::filesystem::is_symlink(platform::com_link_path(n), ec))
      return com + ": device gone (" + platform::com_link_path(n) + " leads nowhere)";
    return com + ": no such port in " + platform::ports_directory() +
           " (run quillmark-ports to number the bench's ports)";
  }
  if (why.find(std::strerror(EACCES)) != std::string::npos)
    return com + ": " + why + " (add the user to the 'dialout' group, then log in again)";
  if (why.find(std::strerror(ENOENT)) != std::string::npos ||
      why.find(std::strerror(ENXIO)) != std::string::npos ||
      why.find(std::strerror(ENODEV)) != std::string::npos)
    return com + ": device gone (" + why + ")";
  // A port in use is named with the programs that hold it by the opening itself.
  return com + ": " + why;
}

}  // namespace runner
