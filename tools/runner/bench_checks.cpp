#include "tools/runner/bench_checks.h"

#include <dirent.h>
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
// Windows does not tell which process holds a port; nothing is opened with a descriptor that a
// program started later could inherit.
std::string holders_of(const std::string&) {
  return {};
}
constexpr int O_CLOEXEC = 0;
#else
// The processes that hold `device` open, as /proc tells (only the processes this user may see).
std::string holders_of(const std::string& device) {
  struct stat target {};
  if (::stat(device.c_str(), &target) != 0) return {};
  std::string found;
  std::error_code ec;
  for (const auto& proc : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string pid = proc.path().filename();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code fd_ec;
    for (const auto& fd : std::filesystem::directory_iterator(proc.path() / "fd", fd_ec)) {
      struct stat st {};
      if (::stat(fd.path().c_str(), &st) != 0 || st.st_rdev != target.st_rdev ||
          !S_ISCHR(st.st_mode))
        continue;
      std::string name;
      if (FILE* comm = std::fopen((proc.path() / "comm").c_str(), "r")) {
        char buf[64] = {};
        if (std::fgets(buf, sizeof buf, comm)) name = buf;
        std::fclose(comm);
        if (!name.empty() && name.back() == '\n') name.pop_back();
      }
      if (!found.empty()) found += ", ";
      found += "process " + pid + (name.empty() ? "" : " (" + name + ")");
      break;
    }
  }
  return found;
}
#endif

}  // namespace

bool check_settings_file(const std::string& path, std::string* why) {
  struct stat st {};
  if (path.empty()) {
    *why = "ZEBL.ini: the working directory cannot be determined";
    return false;
  }
  if (::stat(path.c_str(), &st) != 0) {
    *why = path + ": " + std::strerror(errno) + " (start quillmark-run in the bench folder)";
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

std::string port_open_failure(unsigned n) {
  std::string why;
  if (platform::open_com_port(n, &why)) return {};
  const std::string com = "COM" + std::to_string(n);
#ifdef _WIN32
  // The system numbers the ports; its reason says whether the port is missing or in use.
  if (why.rfind(com + " ", 0) == 0) return why;
  return com + ": " + (why.empty() ? "cannot be opened" : why);
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
  if (why.find("in use") != std::string::npos ||
      why.find(std::strerror(EBUSY)) != std::string::npos) {
    std::string holders = holders_of(*device);
    return com + ": " + why + (holders.empty() ? "" : " (held by " + holders + ")");
  }
  return com + ": " + (why.empty() ? "cannot be opened" : why);
}

}  // namespace runner
