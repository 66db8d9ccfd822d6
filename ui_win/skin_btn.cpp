#include "ui_win/skin_btn.h"

#include <commctrl.h>

#include <algorithm>
#include <string>

#include "ui_win/dpi.h"

namespace ui_win {

namespace {

constexpr UINT_PTR kSubclassId = 0x5342;  // "SB"
// The window property that leads from a button to its object, for the owner-draw requests.
constexpr wchar_t kSelfProperty[] = L"QuillmarkSkinBtn";
constexpr UINT_PTR kHoverTimer = 1;
constexpr UINT kHoverPollMs = 10;
constexpr int kCaptionPoints = 9;

HBITMAP load_picture(int id) {
  // A section keeps the picture's exact colours whatever the screen's depth.
  return static_cast<HBITMAP>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id),
                                           IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

void delete_picture(HBITMAP& picture) {
  if (picture != nullptr) ::DeleteObject(picture);
  picture = nullptr;
}

std::wstring window_text(HWND window) {
  std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

}  // namespace

CSkinBtn::CSkinBtn() = default;

CSkinBtn::~CSkinBtn() {
  Detach();
  delete_pictures();
  release_background();
  if (font_ != nullptr) ::DeleteObject(font_);
}

bool CSkinBtn::SubclassDlgItem(int id, HWND parent) {
  return Attach(::GetDlgItem(parent, id));
}

bool CSkinBtn::Attach(HWND window) {
  if (window == nullptr || window_ != nullptr) return false;
  if (!::SetWindowSubclass(window, subclass_proc, kSubclassId, reinterpret_cast<DWORD_PTR>(this))) {
    return false;
  }
  window_ = window;
  ::SetPropW(window_, kSelfProperty, this);
  enabled_ = ::IsWindowEnabled(window_) != FALSE;
  PreSubclassWindow();
  return true;
}

void CSkinBtn::Detach() {
  if (window_ == nullptr) return;
  ::KillTimer(window_, kHoverTimer);
  ::RemovePropW(window_, kSelfProperty);
  ::RemoveWindowSubclass(window_, subclass_proc, kSubclassId);
  window_ = nullptr;
}

void CSkinBtn::PreSubclassWindow() {
  RefreshSkin();
}

void CSkinBtn::delete_pictures() {
  delete_picture(normal_picture_);
  delete_picture(hover_picture_);
  delete_picture(pressed_picture_);
  delete_picture(disabled_picture_);
}

void CSkinBtn::SetBitmaps(int normal_id, int hover_id, int pressed_id) {
  delete_pictures();
  normal_picture_ = load_picture(normal_id);
  hover_picture_ = load_picture(hover_id);
  pressed_picture_ = load_picture(pressed_id);
  disabled_picture_ = load_picture(normal_id);
}

void CSkinBtn::RefreshSkin() {
  if (window_ == nullptr) return;
  const LONG_PTR style = ::GetWindowLongPtrW(window_, GWL_STYLE);
  ::SetWindowLongPtrW(window_, GWL_STYLE, style | BS_OWNERDRAW);
  ::InvalidateRect(window_, nullptr, FALSE);
}

void CSkinBtn::DrawItem(const DRAWITEMSTRUCT& item) {
  state_ = SKIN_NORMAL;
  if (item.itemState & ODS_FOCUS) {
    if (item.itemState & ODS_SELECTED) {
      state_ = SKIN_PRESSED;
    } else if (hovering_) {
      state_ = SKIN_HOVER;
    }
  }
  if (item.itemState & ODS_DISABLED) {
    state_ = SKIN_DISABLED;
    enabled_ = false;
  }
  DrawSkin(item.hDC);
}

bool CSkinBtn::ForwardDrawItem(const DRAWITEMSTRUCT* item) {
  if (item == nullptr || item->CtlType != ODT_BUTTON) return false;
  auto* self = static_cast<CSkinBtn*>(::GetPropW(item->hwndItem, kSelfProperty));
  if (self == nullptr) return false;
  self->DrawItem(*item);
  return true;
}

// Arial 9 pt at the window's DPI, so that the caption keeps its size against the picture.
HFONT CSkinBtn::caption_font() {
  if (font_ == nullptr) {
    LOGFONTW face{};
    face.lfHeight = -MulDiv(kCaptionPoints, static_cast<int>(window_dpi(window_)), 72);
    face.lfWeight = FW_NORMAL;
    face.lfCharSet = DEFAULT_CHARSET;
    face.lfQuality = DEFAULT_QUALITY;
    lstrcpynW(face.lfFaceName, L"Arial", LF_FACESIZE);
    font_ = ::CreateFontIndirectW(&face);
  }
  return font_;
}

void CSkinBtn::DrawSkin(HDC target) {
  if (window_ == nullptr) return;
  RECT client;
  ::GetClientRect(window_, &client);
  const int width = client.right;
  const int height = client.bottom;
  if (width <= 0 || height <= 0) return;
  HDC client_dc = target != nullptr ? target : ::GetDC(window_);

  HDC offscreen = ::CreateCompatibleDC(client_dc);
  HBITMAP offscreen_bitmap = ::CreateCompatibleBitmap(client_dc, width, height);
  const HGDIOBJ old_offscreen_bitmap = ::SelectObject(offscreen, offscreen_bitmap);
  // Where the captured background does not reach (none yet, or the button grew since), the
  // dialog's colour.
  ::FillRect(offscreen, &client, ::GetSysColorBrush(COLOR_BTNFACE));
  if (background_captured_) {
    ::BitBlt(offscreen, 0, 0, width, height, background_dc_, 0, 0, SRCCOPY);
  }

  const std::wstring caption = window_text(window_);
  ::SetBkMode(offscreen, TRANSPARENT);
  const HGDIOBJ old_font = ::SelectObject(offscreen, caption_font());

  HDC picture_dc = ::CreateCompatibleDC(client_dc);
  HBITMAP picture = nullptr;
  switch (state_) {
    case SKIN_NORMAL:
      picture = normal_picture_;
      ::SetTextColor(offscreen, normal_text_colour_);
      break;
    case SKIN_HOVER:
      picture = hover_picture_;  // the caption keeps the context's default colour, black
      break;
    case SKIN_PRESSED:
      picture = pressed_picture_;
      ::SetTextColor(offscreen, pressed_text_colour_);
      break;
    case SKIN_DISABLED:
      picture = disabled_picture_;
      ::SetTextColor(offscreen, normal_text_colour_);
      break;
  }
  if (picture != nullptr) {
    const HGDIOBJ old_picture = ::SelectObject(picture_dc, picture);
    BITMAP size{};
    ::GetObjectW(picture, sizeof size, &size);
    if (size.bmHeight > height || size.bmWidth > width) {
      // Shrunk with halftone stretching, so that the picture's caption stays legible.
      ::SetStretchBltMode(offscreen, HALFTONE);
      ::SetBrushOrgEx(offscreen, 0, 0, nullptr);
      ::StretchBlt(offscreen, 0, 0, width, height, picture_dc, 0, 0, size.bmWidth, size.bmHeight,
                   SRCCOPY);
    } else {
      ::BitBlt(offscreen, 0, 0, std::min<int>(width, size.bmWidth),
               std::min<int>(height, size.bmHeight), picture_dc, 0, 0, SRCCOPY);
    }
    ::SelectObject(picture_dc, old_picture);
  }

  if (!caption.empty()) {
    const UINT dpi = window_dpi(window_);
    ::TextOutW(offscreen, scale_to_dpi(caption_position_.x, dpi),
               scale_to_dpi(caption_position_.y, dpi), caption.c_str(),
               static_cast<int>(caption.size()));
  }

  ::BitBlt(client_dc, 0, 0, width, height, offscreen, 0, 0, SRCCOPY);

  ::SelectObject(offscreen, old_font);
  ::SelectObject(offscreen, old_offscreen_bitmap);
  ::DeleteObject(offscreen_bitmap);
  ::DeleteDC(offscreen);
  ::DeleteDC(picture_dc);
  if (target == nullptr) ::ReleaseDC(window_, client_dc);
}

void CSkinBtn::release_background() {
  if (background_dc_ != nullptr) {
    ::SelectObject(background_dc_, background_old_bitmap_);
    ::DeleteObject(background_bitmap_);
    ::DeleteDC(background_dc_);
  }
  background_dc_ = nullptr;
  background_bitmap_ = nullptr;
  background_old_bitmap_ = nullptr;
  background_captured_ = false;
}

// The first erase keeps what the context shows beneath the button (the parent's painting) as the
// button's background, and gives the window a rectangular region of its client size. No erase ever
// paints.
void CSkinBtn::OnEraseBkgnd(HDC dc) {
  if (background_captured_) return;
  RECT client;
  ::GetClientRect(window_, &client);
  background_dc_ = ::CreateCompatibleDC(dc);
  background_bitmap_ = ::CreateCompatibleBitmap(dc, client.right, client.bottom);
  background_old_bitmap_ = ::SelectObject(background_dc_, background_bitmap_);
  ::BitBlt(background_dc_, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
  background_captured_ = true;
  ::SetWindowRgn(window_, ::CreateRectRgn(0, 0, client.right, client.bottom), TRUE);
}

void CSkinBtn::OnDpiChanged() {
  if (font_ != nullptr) ::DeleteObject(font_);
  font_ = nullptr;
  release_background();
  // The next erase captures the background again and gives the window the region of its new size.
  if (window_ != nullptr) ::InvalidateRect(window_, nullptr, TRUE);
}

bool CSkinBtn::pointer_inside() const {
  RECT window;
  POINT pointer;
  ::GetWindowRect(window_, &window);
  ::GetCursorPos(&pointer);
  return ::PtInRect(&window, pointer) != FALSE;
}

LRESULT CSkinBtn::OnMouseMove(WPARAM wparam, LPARAM lparam) {
  if (!hovering_ && enabled_) {
    hovering_ = true;
    state_ = SKIN_HOVER;
    if (!pointer_inside()) {
      ::SetTimer(window_, kHoverTimer, kHoverPollMs, nullptr);
      return 0;
    }
    DrawSkin();
    ::SetTimer(window_, kHoverTimer, kHoverPollMs, nullptr);
  }
  return ::DefSubclassProc(window_, WM_MOUSEMOVE, wparam, lparam);
}

void CSkinBtn::OnTimer(UINT_PTR timer) {
  if (timer == kHoverTimer && !pointer_inside() && hovering_ && enabled_) {
    ::KillTimer(window_, kHoverTimer);
    hovering_ = false;
    state_ = SKIN_NORMAL;
    DrawSkin();
  }
}

LRESULT CSkinBtn::handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_MOUSEMOVE:
      return OnMouseMove(wparam, lparam);
    case WM_TIMER:
      OnTimer(wparam);
      break;
    case WM_ERASEBKGND:
      OnEraseBkgnd(reinterpret_cast<HDC>(wparam));
      return TRUE;
    case WM_SETCURSOR:
      return TRUE;  // the pointer keeps the shape it came with
    case WM_ENABLE: {
      const LRESULT result = ::DefSubclassProc(window_, message, wparam, lparam);
      enabled_ = wparam != FALSE;
      return result;
    }
    case kDpiChangedAfterParent:
      OnDpiChanged();
      break;
    case WM_NCDESTROY: {
      HWND window = window_;
      Detach();
      return ::DefSubclassProc(window, message, wparam, lparam);
    }
    default:
      break;
  }
  return ::DefSubclassProc(window_, message, wparam, lparam);
}

LRESULT CALLBACK CSkinBtn::subclass_proc(HWND, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                         DWORD_PTR self) {
  return reinterpret_cast<CSkinBtn*>(self)->handle(message, wparam, lparam);
}

}  // namespace ui_win
