#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace ui_win {

// A window of the system's progress-bar class that paints itself: a solid filled part, a solid
// empty part and a text centred over the whole bar, normally the percentage, whose colour flips
// exactly where the filled part ends. It repaints only when the filled width in pixels changes,
// always off-screen and in one copy. The text is drawn in the control's own font, which the dialog
// manager sets to the dialog's font at the window's DPI. The bar has a plain one-pixel border.
class CProgressBarCtrl {
 public:
  CProgressBarCtrl();
  ~CProgressBarCtrl();

  CProgressBarCtrl(const CProgressBarCtrl&) = delete;
  CProgressBarCtrl& operator=(const CProgressBarCtrl&) = delete;

  // Takes over the painting of a progress bar of a dialog, border included; false when there is no
  // such control.
  bool SubclassDlgItem(int id, HWND parent);
  bool Attach(HWND window);
  HWND hwnd() const { return window_; }

  // Stores the position and repaints at once when the filled width changes; returns the previous
  // position, or -1 (and stores nothing) without a window. The system control never sees it.
  int SetPos(int nPos);
  int GetPos() const { return position_; }

  // After a change of DPI: the next SetPos repaints. The font needs nothing: it is the control's,
  // read at each paint. Children of a per-monitor (version 2) window are told by the system as
  // well.
  void OnDpiChanged();

 private:
  static LRESULT CALLBACK subclass_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                        UINT_PTR id, DWORD_PTR self);
  LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);
  void Detach();

  void OnPaint(HDC target);
  LRESULT OnSetText(WPARAM wparam, LPARAM lparam);
  LRESULT OnGetText(WPARAM buffer_size, wchar_t* buffer) const;

  int filled_width(int client_width) const;
  std::wstring shown_text() const;

  HWND window_ = nullptr;
  int32_t position_ = 0;
  int32_t upper_ = 100;  // the bounds never change: the bar always runs from 0 to 100
  int32_t lower_ = 0;
  std::wstring text_;
  bool show_text_ = true;
  int32_t bar_width_ = -1;  // filled width at the last repaint by SetPos; -1 forces the next one
  COLORREF bar_colour_;
  COLORREF background_colour_;
  COLORREF text_over_background_;
  COLORREF text_over_bar_;
};

}  // namespace ui_win
