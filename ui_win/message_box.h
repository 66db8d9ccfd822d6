#pragma once

// The program's boxes and dialogs that wait for the operator, each with a seam through which a
// test answers instead.

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

namespace ui_win {

// The application's name, which captions the start-up's boxes and the login's: the executable's
// file name without ".exe".
std::wstring application_name();

// MessageBoxW with `type` (buttons, icon, modality), or the test's handler in its place; gives the
// button pressed.
int message_box(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type);

// Replaces what message_box does; an empty handler restores the box. Gives the previous handler.
using MessageBoxHandler = std::function<int(HWND owner, const std::wstring& text,
                                            const std::wstring& caption, UINT type)>;
MessageBoxHandler set_message_box_handler(MessageBoxHandler handler);

// The system's open-file dialog, owned by `owner`, starting in `folder`: one existing file of any
// name ("All files (*.*)"), read-only files offered like any other, the working directory never
// changed, paths of any length. Nothing when cancelled.
std::optional<std::wstring> choose_existing_file(HWND owner, const std::wstring& title,
                                                 const std::wstring& folder);

// Replaces the file dialog (a test picks instead of the operator); an empty handler restores it.
// Gives the previous handler.
using FileChoiceHandler = std::function<std::optional<std::wstring>(
    HWND owner, const std::wstring& title, const std::wstring& folder)>;
FileChoiceHandler set_file_choice_handler(FileChoiceHandler handler);

}  // namespace ui_win
