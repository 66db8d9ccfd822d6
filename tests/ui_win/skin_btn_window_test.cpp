// The skin button inside the main dialog: its picture, hover and leave, and its background.

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/ui_win/window_testing.h"
#include "ui_win/dpi.h"
#include "ui_win/skin_btn.h"

namespace {

using window_testing::Pixels;
using window_testing::TestDialog;

constexpr int kModule1Picture = 1047;
constexpr int kFail1 = 151;
constexpr int kPass1 = 144;
constexpr int kFail2 = 152;
constexpr COLORREF kFailRed = RGB(254, 0, 0);
constexpr COLORREF kPassGreen = RGB(0, 255, 0);

// A bitmap resource of the program as it is drawn into `width` x `height`: copied when it fits,
// else shrunk with halftone stretching.
Pixels picture(int id, int width, int height) {
  auto bitmap = static_cast<HBITMAP>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id),
                                                  IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  BITMAP size{};
  ::GetObjectW(bitmap, sizeof size, &size);
  Pixels pixels = window_testing::draw_offscreen(width, height, [&](HDC dc) {
    HDC source = ::CreateCompatibleDC(dc);
    const HGDIOBJ old = ::SelectObject(source, bitmap);
    if (size.bmWidth > width || size.bmHeight > height) {
      ::SetStretchBltMode(dc, HALFTONE);
      ::SetBrushOrgEx(dc, 0, 0, nullptr);
      ::StretchBlt(dc, 0, 0, width, height, source, 0, 0, size.bmWidth, size.bmHeight, SRCCOPY);
    } else {
      ::BitBlt(dc, 0, 0, size.bmWidth, size.bmHeight, source, 0, 0, SRCCOPY);
    }
    ::SelectObject(source, old);
    ::DeleteDC(source);
  });
  ::DeleteObject(bitmap);
  return pixels;
}

POINT screen_centre(HWND window) {
  RECT rect;
  ::GetWindowRect(window, &rect);
  return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

void show(ui_win::CSkinBtn& button) {
  ::ShowWindow(button.hwnd(), SW_SHOW);
  button.RefreshSkin();
  ::UpdateWindow(button.hwnd());
}

// A button smaller than its picture shows the whole picture, shrunk. A mouse move draws the hover
// picture at once; timer 1 notices that the pointer has gone.
TEST(SkinButtonWindow, ShowsItsPictureAndFollowsThePointer) {
  TestDialog dialog(102);
  ui_win::CSkinBtn button;
  ASSERT_TRUE(button.SubclassDlgItem(kModule1Picture, dialog.hwnd()));
  EXPECT_EQ(::GetWindowLongW(button.hwnd(), GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
  button.SetBitmaps(kFail1, kPass1, kFail2);
  ::SetWindowPos(button.hwnd(), nullptr, 0, 0, 100, 30, SWP_NOMOVE | SWP_NOZORDER);
  show(button);

  Pixels shown = window_testing::capture_client(button.hwnd());
  ASSERT_EQ(shown.width, 100);
  EXPECT_EQ(shown.rgb, picture(kFail1, shown.width, shown.height).rgb);
  EXPECT_EQ(shown.at(0, 0), kFailRed);
  EXPECT_EQ(button.state(), ui_win::SKIN_NORMAL);

  const POINT inside = screen_centre(button.hwnd());
  ::SetCursorPos(inside.x, inside.y);
  POINT client = inside;
  ::ScreenToClient(button.hwnd(), &client);
  ::SendMessageW(button.hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(client.x, client.y));
  EXPECT_TRUE(button.hovering());
  EXPECT_EQ(button.state(), ui_win::SKIN_HOVER);
  shown = window_testing::capture_client(button.hwnd());
  EXPECT_EQ(shown.rgb, picture(kPass1, shown.width, shown.height).rgb);
  EXPECT_EQ(shown.at(0, 0), kPassGreen);

  RECT dialog_rect;
  ::GetWindowRect(dialog.hwnd(), &dialog_rect);
  ::SetCursorPos(dialog_rect.left + 5, dialog_rect.bottom - 5);
  ASSERT_TRUE(window_testing::wait_until([&] { return !button.hovering(); }, 10000));
  EXPECT_EQ(button.state(), ui_win::SKIN_NORMAL);
  EXPECT_EQ(window_testing::capture_client(button.hwnd()).at(0, 0), kFailRed);

  // A caption is drawn over the picture from (21, 0) at 96 DPI, in Arial 9 pt at the window's DPI.
  ::SetWindowPos(button.hwnd(), nullptr, 0, 0, 167, 49, SWP_NOMOVE | SWP_NOZORDER);
  button.DrawSkin();
  const Pixels bare = window_testing::capture_client(button.hwnd());
  ::SetWindowTextW(button.hwnd(), L"Quill");
  button.DrawSkin();
  const Pixels captioned = window_testing::capture_client(button.hwnd());
  RECT ink{bare.width, bare.height, -1, -1};
  for (int y = 0; y < bare.height; ++y) {
    for (int x = 0; x < bare.width; ++x) {
      if (bare.at(x, y) == captioned.at(x, y)) continue;
      ink = RECT{std::min<LONG>(ink.left, x), std::min<LONG>(ink.top, y),
                 std::max<LONG>(ink.right, x + 1), std::max<LONG>(ink.bottom, y + 1)};
    }
  }
  const int dpi = static_cast<int>(window_testing::expected_dpi());
  ASSERT_GT(ink.right, ink.left) << "no caption drawn";
  EXPECT_GE(ink.left, MulDiv(21, dpi, 96));
  EXPECT_LE(ink.left, MulDiv(21, dpi, 96) + 2);
  // "Q" and "l" reach from about the cell's top to its baseline: most of 9 pt at this DPI.
  const int em = MulDiv(9, dpi, 72);
  EXPECT_GE(ink.bottom - ink.top, em * 6 / 10);
  EXPECT_LE(ink.bottom - ink.top, em + 2);
  ::SetWindowTextW(button.hwnd(), L"");

  // A disabled button draws its disabled picture (the normal one) and takes no hover.
  ::EnableWindow(button.hwnd(), FALSE);
  ::UpdateWindow(button.hwnd());
  EXPECT_EQ(button.state(), ui_win::SKIN_DISABLED);
  ::SetCursorPos(inside.x, inside.y);
  ::SendMessageW(button.hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(client.x, client.y));
  EXPECT_FALSE(button.hovering());
  EXPECT_EQ(window_testing::capture_client(button.hwnd()).at(0, 0), kFailRed);
}

// A button larger than its picture shows it unscaled at the top left, over the background captured
// at its first erase. The background is captured once, until a change of DPI (which also gives the
// window the region of its new size).
TEST(SkinButtonWindow, KeepsItsBackgroundUntilTheDpiChanges) {
  TestDialog dialog(102);
  const COLORREF teal = RGB(0, 128, 128);
  const COLORREF blue = RGB(0, 0, 200);
  dialog.set_background(teal);
  dialog.repaint_all();
  ui_win::CSkinBtn button;
  ASSERT_TRUE(button.SubclassDlgItem(kModule1Picture, dialog.hwnd()));
  button.SetBitmaps(kPass1, kPass1, kPass1);
  // Alone on the dialog, so that no other control paints where the button grows.
  for (HWND child = ::GetWindow(dialog.hwnd(), GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (child != button.hwnd()) ::ShowWindow(child, SW_HIDE);
  }
  ::SetWindowPos(button.hwnd(), nullptr, 0, 0, 200, 80, SWP_NOMOVE | SWP_NOZORDER);
  show(button);

  Pixels shown = window_testing::capture_client(button.hwnd());
  const Pixels pass = picture(kPass1, 167, 49);
  for (int y = 0; y < 49; ++y) {
    for (int x = 0; x < 167; ++x) ASSERT_EQ(shown.at(x, y), pass.at(x, y)) << x << ", " << y;
  }
  EXPECT_EQ(shown.at(180, 60), teal);

  dialog.set_background(blue);
  dialog.repaint_all();
  EXPECT_EQ(window_testing::capture_client(button.hwnd()).at(180, 60), teal);

  // The dialog manager gives the controls their new sizes, then the controls hear of the new DPI.
  ::SetWindowPos(button.hwnd(), nullptr, 0, 0, 220, 90, SWP_NOMOVE | SWP_NOZORDER);
  ::SendMessageW(button.hwnd(), ui_win::kDpiChangedAfterParent, 0, 0);
  dialog.repaint_all();
  shown = window_testing::capture_client(button.hwnd());
  EXPECT_EQ(shown.at(180, 60), blue);
  EXPECT_EQ(shown.at(0, 0), kPassGreen);
  HRGN region = ::CreateRectRgn(0, 0, 0, 0);
  ASSERT_NE(::GetWindowRgn(button.hwnd(), region), ERROR);
  RECT box;
  ::GetRgnBox(region, &box);
  ::DeleteObject(region);
  EXPECT_EQ(box.right, 220);
  EXPECT_EQ(box.bottom, 90);
}

}  // namespace
