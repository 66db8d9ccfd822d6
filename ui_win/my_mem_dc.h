#pragma once

#include <windows.h>

namespace ui_win {

// An off-screen drawing context over the clip box of a target context. Drawing goes in the
// target's coordinates (the window origin sits at the clip box's corner) into a compatible bitmap,
// which is copied to the target in one plain copy when the context is destroyed, so that nothing is
// ever seen half drawn. A printer context is drawn on directly: it never shows anything half drawn,
// and a screen-sized bitmap at printer resolution would be huge.
class CMyMemDC {
 public:
  explicit CMyMemDC(HDC target);
  ~CMyMemDC();

  CMyMemDC(const CMyMemDC&) = delete;
  CMyMemDC& operator=(const CMyMemDC&) = delete;

  // The context to draw in.
  HDC dc() const { return dc_; }
  operator HDC() const { return dc_; }
  // The part of the target that the picture covers, in the target's coordinates.
  const RECT& area() const { return area_; }
  bool off_screen() const { return off_screen_; }

 private:
  HDC target_;
  bool off_screen_;
  RECT area_{};
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_bitmap_ = nullptr;
};

}  // namespace ui_win
