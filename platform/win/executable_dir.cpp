#include "platform/executable_dir.h"

#include <vector>

#include "platform/win/wide_text.h"

namespace platform {

namespace {

std::string executable_path() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) return win::narrow(std::wstring_view(path.data(), n));
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

}  // namespace

std::string executable_directory() {
  std::string exe = executable_path();
  return exe.substr(0, exe.find_last_of("\\/") + 1);
}

std::string executable_name() {
  std::string exe = executable_path();
  return exe.substr(exe.find_last_of("\\/") + 1);
}

std::string working_directory() {
  DWORD n = ::GetCurrentDirectoryW(0, nullptr);
  if (n == 0) return {};
  std::wstring cwd(n, L'\0');
  n = ::GetCurrentDirectoryW(n, cwd.data());
  if (n == 0) return {};
  cwd.resize(n);
  std::string dir = win::narrow(cwd);
  if (dir.back() != '\\' && dir.back() != '/') dir += '\\';
  return dir;
}

}  // namespace platform
