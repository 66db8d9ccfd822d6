#include "platform/executable_dir.h"

#include <vector>

#include "platform/win/wide_text.h"

namespace platform {

std::string executable_directory() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      std::string exe = win::narrow(std::wstring_view(path.data(), n));
      return exe.substr(0, exe.find_last_of("\\/") + 1);
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
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
