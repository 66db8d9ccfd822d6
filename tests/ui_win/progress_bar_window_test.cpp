// The progress bar inside the main dialog, read back from the screen.

#include <windows.h>
// windows.h first: commctrl.h needs its types.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/ui_win/window_testing.h"
#include "ui_win/progress_bar_ctrl.h"

namespace {

using window_testing::Pixels;
using window_testing::TestDialog;

constexpr int kModule1Bar = 1005;

// The text the bar shows, drawn by itself in one colour on the other, centred in a client of the
// bar's size with the bar's font.
Pixels reference_text(HWND bar, const std::wstring& text, COLORREF ink, COLORREF paper) {
  RECT client;
  ::GetClientRect(bar, &client);
  return window_testing::draw_offscreen(client.right, client.bottom, [&](HDC dc) {
    ::SetDCBrushColor(dc, paper);
    ::FillRect(dc, &client, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ink);
    const HGDIOBJ old =
        ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(bar, WM_GETFONT, 0, 0)));
    ::DrawTextW(dc, text.c_str(), -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    ::SelectObject(dc, old);
  });
}

// Counts the bar's paints, from a subclass that runs before the bar's own.
LRESULT CALLBACK count_paints(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                              DWORD_PTR count) {
  if (message == WM_PAINT) ++*reinterpret_cast<int*>(count);
  return ::DefSubclassProc(window, message, wparam, lparam);
}

void set_client_width(HWND bar, int width) {
  RECT window, client;
  ::GetWindowRect(bar, &window);
  ::GetClientRect(bar, &client);
  ::SetWindowPos(bar, nullptr, 0, 0, width + (window.right - window.left) - client.right,
                 window.bottom - window.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  ::UpdateWindow(bar);
}

// Fill, background and the two-coloured text, split exactly at the fill's edge (the exact
// percentage: 29 shows 29%, and fills 29 pixels of a hundred).
TEST(ProgressBarWindow, PaintsFillBackgroundAndTextSplitAtTheFillEdge) {
  TestDialog dialog(102);
  ui_win::CProgressBarCtrl bar;
  ASSERT_TRUE(bar.SubclassDlgItem(kModule1Bar, dialog.hwnd()));
  const COLORREF highlight = ::GetSysColor(COLOR_HIGHLIGHT);
  const COLORREF window = ::GetSysColor(COLOR_WINDOW);
  ASSERT_NE(highlight, window);

  // A plain one-pixel border around the client area.
  RECT outer, client;
  ::GetWindowRect(bar.hwnd(), &outer);
  ::GetClientRect(bar.hwnd(), &client);
  EXPECT_EQ(outer.right - outer.left, client.right + 2);
  EXPECT_EQ(outer.bottom - outer.top, client.bottom + 2);
  HDC whole = ::GetWindowDC(bar.hwnd());
  const Pixels frame = window_testing::pixels_of_dc(whole, outer.right - outer.left, 1);
  ::ReleaseDC(bar.hwnd(), whole);
  // One colour all along, which stands out from the dialog and from the bar's empty part.
  EXPECT_EQ(frame.at(frame.width / 2, 0), frame.at(0, 0));
  EXPECT_NE(frame.at(0, 0), ::GetSysColor(COLOR_BTNFACE));
  EXPECT_NE(frame.at(0, 0), window);

  // 29%: the text lies over the empty part whole, so it shows exactly as a text in the bar's font.
  EXPECT_EQ(bar.SetPos(29), 0);
  Pixels shown = window_testing::capture_client(bar.hwnd());
  const int width = shown.width;
  const int edge = width * 29 / 100;
  const Pixels text = reference_text(bar.hwnd(), L"29%", highlight, window);
  int text_pixels = 0;
  for (int y = 0; y < shown.height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (x < edge) {
        ASSERT_EQ(shown.at(x, y), highlight) << x << ", " << y;
      } else {
        ASSERT_EQ(shown.at(x, y), text.at(x, y)) << x << ", " << y;
        text_pixels += text.at(x, y) != window;
      }
    }
  }
  EXPECT_GT(text_pixels, 0);

  // 50%: the text straddles the edge, in the window colour over the fill and the highlight colour
  // over the empty part.
  EXPECT_EQ(bar.SetPos(50), 29);
  shown = window_testing::capture_client(bar.hwnd());
  const int half = width * 50 / 100;
  const Pixels over_fill = reference_text(bar.hwnd(), L"50%", window, highlight);
  const Pixels over_empty = reference_text(bar.hwnd(), L"50%", highlight, window);
  int over_fill_pixels = 0;
  int over_empty_pixels = 0;
  for (int y = 0; y < shown.height; ++y) {
    for (int x = 0; x < width; ++x) {
      const Pixels& expected = x < half ? over_fill : over_empty;
      ASSERT_EQ(shown.at(x, y), expected.at(x, y)) << x << ", " << y;
      if (x < half) over_fill_pixels += shown.at(x, y) != highlight;
      if (x >= half) over_empty_pixels += shown.at(x, y) != window;
    }
  }
  EXPECT_GT(over_fill_pixels, 0);
  EXPECT_GT(over_empty_pixels, 0);

  // A paint of part of the bar composes just that part, in its place, and copies nothing else.
  const COLORREF magenta = RGB(255, 0, 255);
  HDC dc = ::GetDC(bar.hwnd());
  ::SetDCBrushColor(dc, magenta);
  const RECT all{0, 0, width, shown.height};
  ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));
  ::ReleaseDC(bar.hwnd(), dc);
  const RECT part{half - 12, 2, half + 7, shown.height};
  ::InvalidateRect(bar.hwnd(), &part, FALSE);
  ::UpdateWindow(bar.hwnd());
  const Pixels repainted = window_testing::capture_client(bar.hwnd());
  for (int y = 0; y < shown.height; ++y) {
    for (int x = 0; x < width; ++x) {
      const POINT point{x, y};
      ASSERT_EQ(repainted.at(x, y), ::PtInRect(&part, point) ? shown.at(x, y) : magenta)
          << x << ", " << y;
    }
  }

  // 0 and 100: one colour each, the text in the other.
  bar.SetPos(0);
  shown = window_testing::capture_client(bar.hwnd());
  EXPECT_EQ(shown.at(0, 0), window);
  EXPECT_EQ(shown.at(width - 1, shown.height - 1), window);
  bar.SetPos(100);
  shown = window_testing::capture_client(bar.hwnd());
  EXPECT_EQ(shown.at(0, 0), highlight);
  EXPECT_EQ(shown.at(width - 1, shown.height - 1), highlight);

  // The text answers from the bar's own record; a text of its own replaces the percentage.
  ::SetWindowTextW(bar.hwnd(), L"busy");
  ::UpdateWindow(bar.hwnd());
  wchar_t buffer[3];
  EXPECT_EQ(::SendMessageW(bar.hwnd(), WM_GETTEXT, 3, reinterpret_cast<LPARAM>(buffer)), 2);
  EXPECT_STREQ(buffer, L"bu");
  shown = window_testing::capture_client(bar.hwnd());
  EXPECT_EQ(shown.rgb, reference_text(bar.hwnd(), L"busy", window, highlight).rgb);
}

// A position that leaves the filled width as it is does not repaint; one that changes it repaints
// at once; after a resize the next position always repaints.
TEST(ProgressBarWindow, RepaintsOnlyWhenTheFilledWidthChanges) {
  TestDialog dialog(102);
  ui_win::CProgressBarCtrl bar;
  ASSERT_TRUE(bar.SubclassDlgItem(kModule1Bar, dialog.hwnd()));
  set_client_width(bar.hwnd(), 50);
  int paints = 0;
  ASSERT_TRUE(
      ::SetWindowSubclass(bar.hwnd(), count_paints, 1, reinterpret_cast<DWORD_PTR>(&paints)));

  bar.SetPos(40);  // 20 pixels
  const int after_first = paints;
  EXPECT_GE(after_first, 1);
  EXPECT_EQ(bar.SetPos(41), 40);  // still 20 pixels
  EXPECT_EQ(paints, after_first);
  EXPECT_EQ(bar.GetPos(), 41);
  bar.SetPos(44);  // 22 pixels, painted before SetPos returns
  EXPECT_EQ(paints, after_first + 1);
  EXPECT_EQ(window_testing::capture_client(bar.hwnd()).at(21, 0), ::GetSysColor(COLOR_HIGHLIGHT));

  set_client_width(bar.hwnd(), 51);  // 44 still fills 22 pixels
  const int after_resize = paints;
  bar.SetPos(44);
  EXPECT_EQ(paints, after_resize + 1);

  // A text of its own repaints when it changes, not when the same text comes again; an empty text
  // brings the percentage back.
  ::SetWindowTextW(bar.hwnd(), L"busy");
  ::UpdateWindow(bar.hwnd());
  const int after_text = paints;
  EXPECT_GT(after_text, after_resize + 1);
  ::SetWindowTextW(bar.hwnd(), L"busy");
  ::UpdateWindow(bar.hwnd());
  EXPECT_EQ(paints, after_text);
  ::SetWindowTextW(bar.hwnd(), L"");
  ::UpdateWindow(bar.hwnd());
  EXPECT_EQ(paints, after_text + 1);

  // Without a window nothing is stored.
  ui_win::CProgressBarCtrl detached;
  EXPECT_EQ(detached.SetPos(10), -1);
  EXPECT_EQ(detached.GetPos(), 0);
  ::RemoveWindowSubclass(bar.hwnd(), count_paints, 1);
}

}  // namespace
