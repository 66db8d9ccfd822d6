#include "platform/executable_dir.h"

#include <unistd.h>

#include <climits>
#include <string_view>

namespace platform {

namespace {

std::string executable_path() {
  char path[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  return std::string(path, static_cast<size_t>(n));
}

}  // namespace

std::string executable_directory() {
  std::string exe = executable_path();
  return exe.substr(0, exe.rfind('/') + 1);
}

std::string executable_name() {
  std::string exe = executable_path();
  // The kernel marks a program whose file was replaced after it started.
  constexpr std::string_view kDeleted = " (deleted)";
  if (exe.size() > kDeleted.size() &&
      exe.compare(exe.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
    exe.resize(exe.size() - kDeleted.size());
  return exe.substr(exe.rfind('/') + 1);
}

std::string working_directory() {
  char cwd[PATH_MAX];
  if (!::getcwd(cwd, sizeof cwd)) return {};
  std::string dir(cwd);
  if (dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace platform
