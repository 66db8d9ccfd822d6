#include "ui_win/my_mem_dc.h"

#include <algorithm>

namespace ui_win {

CMyMemDC::CMyMemDC(HDC target)
    : target_(target), off_screen_(::GetDeviceCaps(target, TECHNOLOGY) != DT_RASPRINTER) {
  if (!off_screen_) {
    dc_ = target_;
    ::GetClipBox(target_, &area_);
    return;
  }
  ::GetClipBox(target_, &area_);
  // An empty clip box still gets a bitmap, so that drawing never has to ask.
  const int width = std::max(1, static_cast<int>(area_.right - area_.left));
  const int height = std::max(1, static_cast<int>(area_.bottom - area_.top));
  dc_ = ::CreateCompatibleDC(target_);
  bitmap_ = ::CreateCompatibleBitmap(target_, width, height);
  old_bitmap_ = ::SelectObject(dc_, bitmap_);
  ::SetWindowOrgEx(dc_, area_.left, area_.top, nullptr);
}

CMyMemDC::~CMyMemDC() {
  if (!off_screen_) return;  // the printer's context is borrowed, never deleted
  ::BitBlt(target_, area_.left, area_.top, area_.right - area_.left, area_.bottom - area_.top, dc_,
           area_.left, area_.top, SRCCOPY);
  ::SelectObject(dc_, old_bitmap_);
  ::DeleteObject(bitmap_);
  ::DeleteDC(dc_);
}

}  // namespace ui_win
