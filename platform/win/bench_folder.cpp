// The bench folder on Windows: the wide command line, the change of folder and the user's default
// bench, the quillmark folder in the user's Documents.
#include "platform/bench_folder.h"

#include "platform/win/wide_text.h"
// wide_text.h brings windows.h, which these need first.
#include <knownfolders.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

namespace platform {

namespace {

std::string folder_error(const std::string& folder, const std::string& why) {
  return "bench folder " + folder + ": " + why;
}

}  // namespace

std::vector<std::string> program_arguments(int argc, char** argv) {
  if (argv != nullptr) return std::vector<std::string>(argv, argv + argc);  // wmain's, in UTF-8
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return {};
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(win::narrow(wide[i]));
  ::LocalFree(wide);
  return args;
}

bool change_to_folder(const std::string& folder, std::string* error) {
  const std::wstring wide = win::widen(folder);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    *error = folder_error(folder, win::error_text(::GetLastError()));
    return false;
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *error = folder_error(folder, "not a folder");
    return false;
  }
  if (!::SetCurrentDirectoryW(wide.c_str())) {
    *error = folder_error(folder, win::error_text(::GetLastError()));
    return false;
  }
  return true;
}

// The known folder, wherever the user or an administrator has moved it (a redirected Documents on
// a server share, another drive).
std::string default_bench_folder(std::string* error) {
  PWSTR documents = nullptr;
  const HRESULT result =
      ::SHGetKnownFolderPath(FOLDERID_Documents, KF_FLAG_CREATE, nullptr, &documents);
  if (FAILED(result)) {
    ::CoTaskMemFree(documents);
    *error = "no default bench folder: the Documents folder is not known: " +
             win::error_text(static_cast<DWORD>(result));
    return {};
  }
  std::wstring folder = documents;
  ::CoTaskMemFree(documents);
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  folder += L"quillmark";
  if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    *error = folder_error(win::narrow(folder), win::error_text(::GetLastError()));
    return {};
  }
  return win::narrow(folder);
}

}  // namespace platform
