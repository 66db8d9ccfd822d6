#include "ui_win/login_dlg.h"

#include <vector>

#include "dialog/login.h"
#include "platform/win/wide_text.h"
#include "ui_win/message_box.h"

namespace ui_win {

INT_PTR CLoginDlg::DoModal() {
  return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kLoginTemplateId), owner_,
                           DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CLoginDlg::DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrW(window, DWLP_USER, lparam);
    auto* self = reinterpret_cast<CLoginDlg*>(lparam);
    self->DoDataExchange(window, false);
    ::SetFocus(::GetDlgItem(window, kPasswordEditId));
    return FALSE;  // the focus is set
  }
  auto* self = reinterpret_cast<CLoginDlg*>(::GetWindowLongPtrW(window, DWLP_USER));
  if (self == nullptr || message != WM_COMMAND) return FALSE;
  switch (LOWORD(wparam)) {
    case IDOK:
      self->OnBnClickedOk(window);
      return TRUE;
    case IDCANCEL:  // Escape, and the close box through the dialog manager
      ::EndDialog(window, IDCANCEL);
      return TRUE;
    default:
      return FALSE;
  }
}

void CLoginDlg::DoDataExchange(HWND window, bool save_and_validate) {
  HWND box = ::GetDlgItem(window, kPasswordEditId);
  if (save_and_validate) {
    std::vector<wchar_t> text(static_cast<size_t>(::GetWindowTextLengthW(box)) + 1, L'\0');
    const int length = ::GetWindowTextW(box, text.data(), static_cast<int>(text.size()));
    m_strPassword.assign(text.data(), static_cast<size_t>(length));
  } else {
    ::SetWindowTextW(box, m_strPassword.c_str());
  }
}

void CLoginDlg::OnBnClickedOk(HWND window) {
  DoDataExchange(window, true);
  if (dialog::password_accepted(platform::win::narrow(m_strPassword))) {
    ::EndDialog(window, IDOK);
    return;
  }
  message_box(window, platform::win::widen(dialog::kWrongPasswordText), application_name(), MB_OK);
  m_strPassword.clear();
  DoDataExchange(window, false);
  ::SetFocus(::GetDlgItem(window, kPasswordEditId));
}

}  // namespace ui_win
