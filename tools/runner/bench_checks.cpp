#include "tools/runner/bench_checks.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>

#include "engine/file_image.h"
#include "platform/com_ports.h"
#include "platform/files.h"

namespace runner {

// The files are looked at through the platform's file calls, which take UTF-8 paths everywhere
// (the C library's narrow calls read a path in the ANSI code page on Windows).

bool check_settings_file(const std::string& path, std::string* why) {
  if (path.empty()) {
    *why = "ZEBL.ini: the working directory cannot be determined";
    return false;
  }
  platform::FileError error;
  const platform::File file = platform::File::open(path, platform::FileAccess::read, &error);
  platform::FileStatus status;
  if (!file.is_open() || !file.status(&status, &error)) {
    *why = path + ": " + error.text +
           (error.missing ? " (start quillmark-run in the bench folder, or name it with --bench)" : "");
    return false;
  }
  if (status.directory) {
    *why = path + ": is a folder, not the settings file";
    return false;
  }
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
  platform::FileError error;
  const platform::File file = platform::File::open(path, platform::FileAccess::read, &error);
  platform::FileStatus status;
  if (!file.is_open() || !file.status(&status, &error))
    *why = path + ": " + error.text;
  else if (status.directory)
    *why = path + ": is a folder, not an update file";
  else if (!status.regular)
    *why = path + ": is not a regular file";
  else if (status.size == 0)
    *why = path + ": is empty";
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
