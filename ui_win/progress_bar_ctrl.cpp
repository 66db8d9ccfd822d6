#include "ui_win/progress_bar_ctrl.h"

#include <commctrl.h>

#include <algorithm>

#include "ui_win/dpi.h"
#include "ui_win/my_mem_dc.h"

namespace ui_win {

namespace {

constexpr UINT_PTR kSubclassId = 0x5042;  // "PB"

void fill(HDC dc, const RECT& rect, COLORREF colour) {
  ::SetDCBrushColor(dc, colour);
  ::FillRect(dc, &rect, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));
}

// Draws `text` centred in `client`, in `colour`, only inside `clip` (logical coordinates).
void draw_clipped_text(HDC dc, const std::wstring& text, RECT client, const RECT& clip,
                       COLORREF colour) {
  ::SaveDC(dc);
  ::IntersectClipRect(dc, clip.left, clip.top, clip.right, clip.bottom);
  ::SetTextColor(dc, colour);
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &client,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  ::RestoreDC(dc, -1);
}

}  // namespace

// The colours are the system's highlight and window colours, read once: the bar keeps them when
// the system's colours change later.
CProgressBarCtrl::CProgressBarCtrl()
    : bar_colour_(::GetSysColor(COLOR_HIGHLIGHT)),
      background_colour_(::GetSysColor(COLOR_WINDOW)),
      text_over_background_(bar_colour_),
      text_over_bar_(background_colour_) {}

CProgressBarCtrl::~CProgressBarCtrl() {
  Detach();
}

bool CProgressBarCtrl::SubclassDlgItem(int id, HWND parent) {
  return Attach(::GetDlgItem(parent, id));
}

bool CProgressBarCtrl::Attach(HWND window) {
  if (window == nullptr || window_ != nullptr) return false;
  if (!::SetWindowSubclass(window, subclass_proc, kSubclassId, reinterpret_cast<DWORD_PTR>(this))) {
    return false;
  }
  window_ = window;
  bar_width_ = -1;
  // The bar keeps the plain border of its template: the themed system control takes the border
  // style away and draws a border of its own inside the client area, which this bar paints over.
  const LONG_PTR style = ::GetWindowLongPtrW(window_, GWL_STYLE);
  if (!(style & WS_BORDER)) {
    ::SetWindowLongPtrW(window_, GWL_STYLE, style | WS_BORDER);
    ::SetWindowPos(window_, nullptr, 0, 0, 0, 0,
                   SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ::RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME);
  return true;
}

void CProgressBarCtrl::Detach() {
  if (window_ == nullptr) return;
  ::RemoveWindowSubclass(window_, subclass_proc, kSubclassId);
  window_ = nullptr;
}

// Exact integer arithmetic: with the bounds 0 and 100 a client of 100 pixels fills exactly
// `position` pixels, where a product with a floating fraction would give 28 for 29.
int CProgressBarCtrl::filled_width(int client_width) const {
  const int64_t span = int64_t{upper_} - lower_;
  const int64_t width = int64_t{client_width} * (int64_t{position_} - lower_) / span;
  return static_cast<int>(std::clamp<int64_t>(width, 0, client_width));
}

// The percentage is computed the same exact way, so every position from 0 to 100 shows itself.
std::wstring CProgressBarCtrl::shown_text() const {
  if (!text_.empty()) return text_;
  const int64_t percent = (int64_t{position_} - lower_) * 100 / (int64_t{upper_} - lower_);
  return std::to_wstring(percent) + L"%";
}

int CProgressBarCtrl::SetPos(int nPos) {
  if (window_ == nullptr || !::IsWindow(window_)) return -1;
  const int old_position = position_;
  position_ = nPos;
  RECT client;
  ::GetClientRect(window_, &client);
  const int width = filled_width(client.right - client.left);
  if (width != bar_width_) {
    bar_width_ = width;
    ::RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  }
  return old_position;
}

void CProgressBarCtrl::OnDpiChanged() {
  bar_width_ = -1;
  if (window_ != nullptr) ::InvalidateRect(window_, nullptr, FALSE);
}

void CProgressBarCtrl::OnPaint(HDC target) {
  RECT client;
  ::GetClientRect(window_, &client);
  CMyMemDC dc(target);

  const int width = filled_width(client.right - client.left);
  RECT filled = client;
  filled.right = client.left + width;
  RECT empty = client;
  empty.left = filled.right;
  fill(dc, filled, bar_colour_);
  fill(dc, empty, background_colour_);

  if (show_text_) {
    const std::wstring text = shown_text();
    ::SetBkMode(dc, TRANSPARENT);
    // The control's font, which the dialog manager gives every control at the dialog's DPI; the
    // context's own default font would stay the same size at every DPI.
    auto font = reinterpret_cast<HFONT>(::SendMessageW(window_, WM_GETFONT, 0, 0));
    if (font == nullptr) font = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
    const HGDIOBJ old_font = ::SelectObject(dc, font);
    draw_clipped_text(dc, text, client, filled, text_over_bar_);
    draw_clipped_text(dc, text, client, empty, text_over_background_);
    ::SelectObject(dc, old_font);
  }
}

LRESULT CProgressBarCtrl::OnSetText(WPARAM wparam, LPARAM lparam) {
  const LRESULT result = ::DefSubclassProc(window_, WM_SETTEXT, wparam, lparam);
  const auto* text = reinterpret_cast<const wchar_t*>(lparam);
  const std::wstring new_text = text != nullptr ? text : L"";  // a null text counts as empty
  if (new_text != text_) {
    text_ = new_text;
    ::InvalidateRect(window_, nullptr, TRUE);
  }
  return result;
}

LRESULT CProgressBarCtrl::OnGetText(WPARAM buffer_size, wchar_t* buffer) const {
  if (buffer == nullptr || buffer_size == 0) return 0;
  size_t count = std::min<size_t>(text_.size(), buffer_size - 1);
  // Never leave half of a surrogate pair at the end.
  if (count > 0 && count < text_.size() && IS_HIGH_SURROGATE(text_[count - 1])) --count;
  std::copy_n(text_.data(), count, buffer);
  buffer[count] = L'\0';
  return static_cast<LRESULT>(count);
}

LRESULT CProgressBarCtrl::handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_ERASEBKGND:
      return TRUE;  // the painting covers every pixel
    case WM_PAINT: {
      PAINTSTRUCT paint;
      if (HDC dc = ::BeginPaint(window_, &paint)) {
        OnPaint(dc);
        ::EndPaint(window_, &paint);
      }
      return 0;
    }
    case WM_NCPAINT:
      // The plain border, drawn by the system's default rather than by the themed control.
      return ::DefWindowProcW(window_, message, wparam, lparam);
    case WM_PRINTCLIENT:
      // A print of the window (a screenshot tool, an animation) shows the bar as it is drawn here.
      OnPaint(reinterpret_cast<HDC>(wparam));
      return 0;
    case WM_SIZE: {
      const LRESULT result = ::DefSubclassProc(window_, message, wparam, lparam);
      bar_width_ = -1;
      return result;
    }
    case WM_SETTEXT:
      return OnSetText(wparam, lparam);
    case WM_GETTEXT:
      return OnGetText(wparam, reinterpret_cast<wchar_t*>(lparam));
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

LRESULT CALLBACK CProgressBarCtrl::subclass_proc(HWND, UINT message, WPARAM wparam, LPARAM lparam,
                                                 UINT_PTR, DWORD_PTR self) {
  return reinterpret_cast<CProgressBarCtrl*>(self)->handle(message, wparam, lparam);
}

}  // namespace ui_win
