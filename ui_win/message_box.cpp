#include "ui_win/message_box.h"

#include <commdlg.h>

#include <utility>
#include <vector>

namespace ui_win {

namespace {

template <typename Handler>
Handler& installed() {
  static Handler handler;
  return handler;
}

template <typename Handler>
Handler replace(Handler handler) {
  Handler previous = std::move(installed<Handler>());
  installed<Handler>() = std::move(handler);
  return previous;
}

// The longest path the system takes, with its terminating zero.
constexpr DWORD kLongestPath = 32768;

// The common dialogs' library is loaded when Browse is first pressed, not at the start: it brings
// the shell's libraries with it, several megabytes of working set that a bench which never
// browses would carry through every run. From the system folder only, so that no library of the
// same name in the bench folder is loaded in its place.
using OpenFileDialog = BOOL(WINAPI*)(OPENFILENAMEW*);
OpenFileDialog common_dialogs_open_file() {
  static const OpenFileDialog open_file = [] {
    const HMODULE library =
        ::LoadLibraryExW(L"comdlg32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return library == nullptr ? nullptr
                              : reinterpret_cast<OpenFileDialog>(reinterpret_cast<void*>(
                                    ::GetProcAddress(library, "GetOpenFileNameW")));
  }();
  return open_file;
}

}  // namespace

std::wstring application_name() {
  std::vector<wchar_t> path(kLongestPath);
  const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), kLongestPath);
  std::wstring name(path.data(), length < kLongestPath ? length : 0);
  if (const size_t slash = name.find_last_of(L"\\/"); slash != std::wstring::npos)
    name.erase(0, slash + 1);
  if (name.size() > 4 && _wcsicmp(name.c_str() + name.size() - 4, L".exe") == 0)
    name.resize(name.size() - 4);
  return name;
}

int message_box(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) {
  if (const auto& handler = installed<MessageBoxHandler>())
    return handler(owner, text, caption, type);
  return ::MessageBoxW(owner, text.c_str(), caption.c_str(), type);
}

MessageBoxHandler set_message_box_handler(MessageBoxHandler handler) {
  return replace(std::move(handler));
}

std::optional<std::wstring> choose_existing_file(HWND owner, const std::wstring& title,
                                                 const std::wstring& folder) {
  if (const auto& handler = installed<FileChoiceHandler>()) return handler(owner, title, folder);
  std::vector<wchar_t> file(kLongestPath, L'\0');
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = L"All files (*.*)\0*.*\0";
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = kLongestPath;
  dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  dialog.lpstrTitle = title.c_str();
  // The settings file is found through the working directory: the dialog must not change it.
  dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY |
                 OFN_NOCHANGEDIR | OFN_LONGNAMES | OFN_ENABLESIZING;
  const auto open_file_dialog = common_dialogs_open_file();
  if (open_file_dialog == nullptr || !open_file_dialog(&dialog)) return std::nullopt;
  return std::wstring(file.data());
}

FileChoiceHandler set_file_choice_handler(FileChoiceHandler handler) {
  return replace(std::move(handler));
}

}  // namespace ui_win
