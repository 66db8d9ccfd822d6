#pragma once

#include <windows.h>

namespace ui_win {

// The DPI that a window is drawn at: the window's own where the system tells it (per-monitor
// awareness), else the screen's.
UINT window_dpi(HWND window);

// A length in pixels at 96 DPI, at `dpi`.
inline int scale_to_dpi(int pixels_at_96, UINT dpi) {
  return MulDiv(pixels_at_96, static_cast<int>(dpi), 96);
}

// Sent to every child after its top-level window moved to a monitor of another DPI (per-monitor
// awareness, version 2); older headers do not know it.
constexpr UINT kDpiChangedAfterParent = 0x02E3;

}  // namespace ui_win
