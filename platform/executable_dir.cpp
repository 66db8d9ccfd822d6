#include "platform/executable_dir.h"

#include <unistd.h>

#include <climits>

namespace platform {

std::string executable_directory() {
  char path[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  std::string exe(path, static_cast<size_t>(n));
  return exe.substr(0, exe.rfind('/') + 1);
}

std::string working_directory() {
  char cwd[PATH_MAX];
  if (!::getcwd(cwd, sizeof cwd)) return {};
  std::string dir(cwd);
  if (dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace platform
