#pragma once

// The window tests of the Windows window run under Wine on a display (wine-x-run): real dialogs
// made from the program's resource script, pixels read back from the screen, messages handled while
// a condition is awaited, and screenshots taken by the script that runs them.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace window_testing {

// The DPI that the run was started with (--dpi=N on the command line; 96 without).
UINT expected_dpi();
void set_expected_dpi(UINT dpi);

// A dialog made from a template of this program, shown, with only what the controls need: owner
// drawing handed to the skin buttons, and a background colour that a test can change.
class TestDialog {
 public:
  explicit TestDialog(int template_id);
  ~TestDialog();
  TestDialog(const TestDialog&) = delete;
  TestDialog& operator=(const TestDialog&) = delete;

  HWND hwnd() const { return window_; }
  HWND item(int id) const { return ::GetDlgItem(window_, id); }
  // Paints the dialog's background in `colour` from now on (CLR_INVALID: the system's).
  void set_background(COLORREF colour);
  // Repaints the dialog and every control at once, background first.
  void repaint_all();

 private:
  static INT_PTR CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  HWND window_ = nullptr;
  HBRUSH background_ = nullptr;
};

// A window's client area as it shows on the screen.
struct Pixels {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> rgb;  // 0x00RRGGBB, top row first
  COLORREF at(int x, int y) const;
};
Pixels capture_client(HWND window);
// What `draw` paints into a memory context of `width` x `height` pixels.
template <typename Draw>
Pixels draw_offscreen(int width, int height, Draw&& draw);
Pixels pixels_of_dc(HDC dc, int width, int height);

// Handles this thread's messages until `condition()` holds, or fails once `limit_ms` passed.
template <typename Condition>
testing::AssertionResult wait_until(Condition&& condition, DWORD limit_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + limit_ms;
  while (true) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    if (condition()) return testing::AssertionSuccess();
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) {
      return testing::AssertionFailure()
             << "the condition still did not hold after " << limit_ms << " ms";
    }
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE,
                                static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 20)),
                                QS_ALLINPUT);
  }
}

// Handles the messages that are waiting now.
void handle_waiting_messages();

// Has the script that runs the tests take the screen into <name>.png of its screenshot folder, cut
// to `window` with its frame; false when the run has no screenshot folder.
bool take_screenshot(const std::wstring& name, HWND window);

// A rectangle of a template in dialog units, in pixels as the dialog maps it: position and size
// each mapped, as the dialog manager places controls.
RECT map_dialog_units(HWND dialog, int x, int y, int cx, int cy);
// A control's rectangle in its dialog's client coordinates; a drop-down list's with its list open.
RECT control_rect(HWND dialog, HWND control);

template <typename Draw>
Pixels draw_offscreen(int width, int height, Draw&& draw) {
  HDC screen = ::GetDC(nullptr);
  HDC dc = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
  const HGDIOBJ old = ::SelectObject(dc, bitmap);
  draw(dc);
  Pixels pixels = pixels_of_dc(dc, width, height);
  ::SelectObject(dc, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(dc);
  ::ReleaseDC(nullptr, screen);
  return pixels;
}

}  // namespace window_testing
