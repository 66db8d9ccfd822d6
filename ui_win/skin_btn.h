#pragma once

#include <windows.h>

#include <cstdint>

namespace ui_win {

enum SkinState : int32_t {
  SKIN_NORMAL = 0,
  SKIN_HOVER = 1,
  SKIN_PRESSED = 2,
  SKIN_DISABLED = 3,
};

// An owner-drawn push button that shows one bitmap resource for each of four states, with an
// optional caption over it. It notices the pointer by itself: a mouse move draws the hover picture
// at once, and timer 1 looks at the pointer every 10 ms until it has left. What lies beneath the
// button is captured at its first erase and kept. The parent dialog hands its WM_DRAWITEM to
// ForwardDrawItem.
class CSkinBtn {
 public:
  CSkinBtn();
  ~CSkinBtn();

  CSkinBtn(const CSkinBtn&) = delete;
  CSkinBtn& operator=(const CSkinBtn&) = delete;

  // Takes over a button of a dialog and makes it owner-drawn; false when there is no such control.
  bool SubclassDlgItem(int id, HWND parent);
  bool Attach(HWND window);
  HWND hwnd() const { return window_; }

  // Loads the normal, hover and pressed pictures from the program's bitmap resources; the disabled
  // picture is the normal one again. Does not repaint: follow it with RefreshSkin.
  void SetBitmaps(int normal_id, int hover_id, int pressed_id);
  // Makes the button owner-drawn and asks for a repaint without erasing.
  void RefreshSkin();
  // Picks the state from an owner-draw request, then draws into the request's context.
  void DrawItem(const DRAWITEMSTRUCT& item);
  // Draws the button in its current state at once: into `target`, or into the button's own client
  // context when none is given.
  void DrawSkin(HDC target = nullptr);

  // After a change of DPI: the caption font is made again at the new DPI, and the background is
  // captured again at the next erase (the button has a new size). Children of a per-monitor
  // (version 2) window are told by the system as well.
  void OnDpiChanged();

  // The skin button that an owner-draw request is for draws it; false for any other control.
  static bool ForwardDrawItem(const DRAWITEMSTRUCT* item);

  SkinState state() const { return state_; }
  bool hovering() const { return hovering_; }

 protected:
  // Called once the window is taken over.
  void PreSubclassWindow();

 private:
  static LRESULT CALLBACK subclass_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                        UINT_PTR id, DWORD_PTR self);
  LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);
  void Detach();

  LRESULT OnMouseMove(WPARAM wparam, LPARAM lparam);
  void OnTimer(UINT_PTR timer);
  void OnEraseBkgnd(HDC dc);
  bool pointer_inside() const;
  HFONT caption_font();
  void delete_pictures();
  void release_background();

  HWND window_ = nullptr;
  HBITMAP normal_picture_ = nullptr;
  HBITMAP hover_picture_ = nullptr;
  HBITMAP pressed_picture_ = nullptr;
  HBITMAP disabled_picture_ = nullptr;
  SkinState state_ = SKIN_NORMAL;
  COLORREF normal_text_colour_ = RGB(0, 0, 0);
  COLORREF pressed_text_colour_ = RGB(255, 255, 255);
  bool hovering_ = false;
  bool enabled_ = true;
  HFONT font_ = nullptr;  // Arial 9 pt at the window's DPI, made at the first caption drawn
  bool background_captured_ = false;
  POINT caption_position_{21, 0};  // at 96 DPI
  HDC background_dc_ = nullptr;
  HBITMAP background_bitmap_ = nullptr;
  HGDIOBJ background_old_bitmap_ = nullptr;
};

}  // namespace ui_win
