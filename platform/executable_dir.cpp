#include "platform/executable_dir.h"

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
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

std::string home_directory() {
  const char* variable = std::getenv("HOME");
  std::string home = variable && variable[0] == '/' ? variable : "";
  if (home.empty())
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/')
      home = pw->pw_dir;
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  return home;
}

}  // namespace platform
