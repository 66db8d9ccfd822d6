#pragma once

#include <windows.h>

#include <string>

namespace ui_win {

// The template of the login dialog and its password box.
constexpr int kLoginTemplateId = 143;
constexpr int kPasswordEditId = 1064;

// The password prompt of the settings mode, from template 143: it ends with IDOK only after the
// password was typed exactly, and with IDCANCEL when the operator closes it (close box or
// Escape). A wrong password is answered with a message captioned with the application's name, and
// the box is emptied; attempts are not counted.
class CLoginDlg {
 public:
  // `owner` is disabled while the prompt is open and keeps it on top (null: none).
  explicit CLoginDlg(HWND owner = nullptr) : owner_(owner) {}

  // Runs the dialog until it ends; IDOK or IDCANCEL.
  INT_PTR DoModal();

  // The password box's text, exchanged by DoDataExchange.
  std::wstring m_strPassword;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  // true: from the box into m_strPassword; false: back into the box.
  void DoDataExchange(HWND window, bool save_and_validate);
  void OnBnClickedOk(HWND window);

  HWND owner_;
};

}  // namespace ui_win
