#include "tests/ui_win/window_testing.h"

#include <cstdio>
#include <cwchar>

#include "ui_win/skin_btn.h"

namespace window_testing {

namespace {
UINT g_expected_dpi = 96;
}

UINT expected_dpi() {
  return g_expected_dpi;
}
void set_expected_dpi(UINT dpi) {
  g_expected_dpi = dpi;
}

TestDialog::TestDialog(int template_id) {
  window_ = ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(template_id),
                                 nullptr, procedure, reinterpret_cast<LPARAM>(this));
  if (window_ == nullptr) return;
  ::SetWindowPos(window_, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  ::UpdateWindow(window_);
  handle_waiting_messages();
}

TestDialog::~TestDialog() {
  if (window_ != nullptr) ::DestroyWindow(window_);
  if (background_ != nullptr) ::DeleteObject(background_);
  handle_waiting_messages();
}

void TestDialog::set_background(COLORREF colour) {
  if (background_ != nullptr) ::DeleteObject(background_);
  background_ = colour == CLR_INVALID ? nullptr : ::CreateSolidBrush(colour);
}

// The dialog first, over the whole client area (a dialog does not clip its children), then every
// control: the order in which a single request would paint them is not defined.
void TestDialog::repaint_all() {
  ::RedrawWindow(window_, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_NOCHILDREN | RDW_UPDATENOW | RDW_ERASENOW);
  for (HWND child = ::GetWindow(window_, GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    ::RedrawWindow(child, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ERASENOW);
  }
}

INT_PTR CALLBACK TestDialog::procedure(HWND window, UINT message, WPARAM, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      ::SetWindowLongPtrW(window, DWLP_USER, lparam);
      return TRUE;
    case WM_DRAWITEM:
      if (ui_win::CSkinBtn::ForwardDrawItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lparam))) {
        ::SetWindowLongPtrW(window, DWLP_MSGRESULT, TRUE);
        return TRUE;
      }
      return FALSE;
    case WM_CTLCOLORDLG: {
      auto* self = reinterpret_cast<TestDialog*>(::GetWindowLongPtrW(window, DWLP_USER));
      if (self != nullptr && self->background_ != nullptr) {
        return reinterpret_cast<INT_PTR>(self->background_);
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

COLORREF Pixels::at(int x, int y) const {
  const uint32_t value =
      rgb[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
  return RGB((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF);
}

Pixels pixels_of_dc(HDC source, int width, int height) {
  Pixels pixels;
  pixels.width = width;
  pixels.height = height;
  pixels.rgb.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP section = ::CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc = ::CreateCompatibleDC(source);
  const HGDIOBJ old = ::SelectObject(dc, section);
  ::BitBlt(dc, 0, 0, width, height, source, 0, 0, SRCCOPY);
  ::GdiFlush();
  const auto* row = static_cast<const uint32_t*>(bits);
  for (size_t i = 0; i < pixels.rgb.size(); ++i) pixels.rgb[i] = row[i] & 0xFFFFFF;
  ::SelectObject(dc, old);
  ::DeleteDC(dc);
  ::DeleteObject(section);
  return pixels;
}

Pixels capture_client(HWND window) {
  RECT client;
  ::GetClientRect(window, &client);
  HDC dc = ::GetDC(window);
  Pixels pixels = pixels_of_dc(dc, client.right, client.bottom);
  ::ReleaseDC(window, dc);
  return pixels;
}

void handle_waiting_messages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

bool take_screenshot(const std::wstring& name, HWND window) {
  wchar_t folder[MAX_PATH];
  const DWORD length = ::GetEnvironmentVariableW(L"QUILL_SCREENSHOT_DIR", folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  const std::wstring request = std::wstring(folder) + L"\\" + name + L".request";
  // Everything drawn so far reaches the display before the request.
  ::GdiFlush();
  handle_waiting_messages();
  HANDLE file = ::CreateFileW(request.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  RECT rect;
  ::GetWindowRect(window, &rect);
  char crop[64];
  const int crop_length = snprintf(crop, sizeof crop, "%ldx%ld+%ld+%ld", rect.right - rect.left,
                                   rect.bottom - rect.top, rect.left, rect.top);
  DWORD written = 0;
  ::WriteFile(file, crop, static_cast<DWORD>(crop_length), &written, nullptr);
  ::CloseHandle(file);
  return static_cast<bool>(wait_until(
      [&] { return ::GetFileAttributesW(request.c_str()) == INVALID_FILE_ATTRIBUTES; }, 60000));
}

RECT map_dialog_units(HWND dialog, int x, int y, int cx, int cy) {
  RECT position{x, y, cx, cy};
  ::MapDialogRect(dialog, &position);
  return RECT{position.left, position.top, position.left + position.right,
              position.top + position.bottom};
}

RECT control_rect(HWND dialog, HWND control) {
  RECT rect;
  wchar_t class_name[64];
  ::GetClassNameW(control, class_name, 64);
  if (_wcsicmp(class_name, L"ComboBox") == 0) {
    ::SendMessageW(control, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&rect));
  } else {
    ::GetWindowRect(control, &rect);
  }
  ::MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

}  // namespace window_testing
