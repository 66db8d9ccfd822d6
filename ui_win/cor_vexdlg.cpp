#include "ui_win/cor_vexdlg.h"

// windows.h first: commctrl.h and dbt.h need its types.
#include <commctrl.h>
#include <dbt.h>

#include <utility>

#include "devices/port_watcher.h"
#include "dialog/control_table.h"
#include "platform/win/wide_text.h"
#include "ui_win/dpi.h"
#include "ui_win/login_dlg.h"
#include "ui_win/message_box.h"
#include "ui_win/template_rows.h"

namespace ui_win {

namespace {

using dialog::PanelIds;
using platform::win::narrow;
using platform::win::widen;

constexpr UINT kDpiChangedMessage = 0x02E0;   // WM_DPICHANGED
constexpr UINT_PTR kListSubclassId = 0x4C53;  // "LS"
constexpr UINT_PTR kFirstTimerId = 0x100;
// A status line's tooltip lists a run's lines: wide enough for the longest, and long enough on the
// screen to be read.
constexpr int kTooltipWidthAt96 = 720;
constexpr LPARAM kTooltipShownMs = 30000;

UINT_PTR timer_id(dialog::Timer timer) {
  return kFirstTimerId + static_cast<UINT_PTR>(timer);
}

// The fourteen lists: the port lists of every panel, then the two option lists.
std::vector<int> list_ids() {
  std::vector<int> ids;
  for (const PanelIds& panel : dialog::kPanelIds) {
    ids.push_back(panel.at_port_list);
    ids.push_back(panel.diag_port_list);
  }
  ids.push_back(dialog::kUpgradeTypeListId);
  ids.push_back(dialog::kTypeListId);
  return ids;
}

// The controls with a tooltip: each status line (its run's lines), the bench folder (the whole
// path, which the control may show shortened) and the records waiting (why they wait).
std::vector<int> tooltip_ids() {
  std::vector<int> ids;
  for (const PanelIds& panel : dialog::kPanelIds) ids.push_back(panel.status_line);
  ids.push_back(dialog::kBenchFolderId);
  ids.push_back(dialog::kRecordsId);
  return ids;
}

// A tooltip shows its lines apart only where each ends with CR LF.
std::wstring tooltip_lines(std::string_view text) {
  std::wstring lines;
  for (const wchar_t c : widen(text)) {
    if (c == L'\r') continue;
    if (c == L'\n') lines += L'\r';
    lines += c;
  }
  return lines;
}

}  // namespace

COR_VEXDlg::COR_VEXDlg(dialog::MainDialog::PortCensus census)
    : behaviour_(*this, std::move(census)) {}

COR_VEXDlg::~COR_VEXDlg() {
  mailbox_.attach(nullptr);
  if (HWND window = std::exchange(window_, nullptr)) ::DestroyWindow(window);
  if (large_icon_ != nullptr) ::DestroyIcon(large_icon_);
  if (small_icon_ != nullptr) ::DestroyIcon(small_icon_);
}

bool COR_VEXDlg::Create() {
  if (window_ != nullptr) return true;
  if (ended_) return false;
  HWND window = ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kMainTemplateId),
                                     nullptr, DialogProc, reinterpret_cast<LPARAM>(this));
  if (window == nullptr) return false;
  ::ShowWindow(window, SW_SHOW);
  ::SetForegroundWindow(window);
  return true;
}

INT_PTR COR_VEXDlg::DoModal() {
  if (!Create()) return -1;
  MSG message;
  while (!ended_) {
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got == -1) return -1;
    if (got == 0) {
      ::PostQuitMessage(static_cast<int>(message.wParam));
      return 0;
    }
    pump(message);
  }
  return IDCANCEL;
}

void COR_VEXDlg::pump(MSG& message) {
  if (message.message == WM_KEYDOWN && message.wParam == VK_RETURN) {
    // Bit 30 tells a key that was already down: a held Enter (or one left pressed by a scanner or
    // a remote desktop) repeats it many times a second, and the dialog manager would click ALL
    // START at each repeat.
    if ((message.lParam >> 30) & 1) return;
    if (window_ != nullptr && enter_means_all_start()) {
      HWND all_start = item(dialog::kAllStartId);
      if (::IsWindowEnabled(all_start)) {
        ::SendMessageW(window_, WM_COMMAND, MAKEWPARAM(dialog::kAllStartId, BN_CLICKED),
                       reinterpret_cast<LPARAM>(all_start));
      }
      return;
    }
  }
  if (window_ != nullptr && ::IsDialogMessageW(window_, &message)) return;
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
}

// The dialog manager gives Enter to the push button that has the focus (a START button the operator
// just clicked, say, which would then pause its module); here Enter always means ALL START.
bool COR_VEXDlg::enter_means_all_start() const {
  HWND focus = ::GetFocus();
  if (focus == nullptr || !::IsChild(window_, focus)) return false;
  const LRESULT code = ::SendMessageW(focus, WM_GETDLGCODE, 0, 0);
  return (code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) != 0;
}

void COR_VEXDlg::send_message(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  behaviour_.send_message(msg, wParam, lParam);
  if (notified_) notified_(msg, wParam, lParam);
}

INT_PTR CALLBACK COR_VEXDlg::DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrW(window, DWLP_USER, lparam);
    auto* self = reinterpret_cast<COR_VEXDlg*>(lparam);
    self->window_ = window;
    return self->OnInitDialog();
  }
  auto* self = reinterpret_cast<COR_VEXDlg*>(::GetWindowLongPtrW(window, DWLP_USER));
  if (self == nullptr) return FALSE;
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(window, DWLP_USER, 0);
    if (self->window_ == window) self->window_ = nullptr;
    return FALSE;
  }
  return self->handle(message, wparam, lparam);
}

INT_PTR COR_VEXDlg::handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WindowMailbox::kWakeMessage:
      mailbox_.run_waiting();
      return TRUE;
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return TRUE;
    case WM_CLOSE:
      behaviour_.OnClose();
      return TRUE;
    case WM_TIMER:
      for (const dialog::Timer timer : {dialog::Timer::all_start, dialog::Timer::totals}) {
        if (wparam != timer_id(timer)) continue;
        ::KillTimer(window_, wparam);  // single-shot
        behaviour_.on_timer(timer);
        return TRUE;
      }
      return FALSE;
    case WM_DEVICECHANGE:
      if (const std::optional<devices::PortNotice> notice =
              devices::read_port_notice(wparam, reinterpret_cast<const void*>(lparam))) {
        behaviour_.OnDeviceChange(*notice);
        if (window_ != nullptr) ::SetWindowLongPtrW(window_, DWLP_MSGRESULT, 0);
        return TRUE;
      }
      return FALSE;
    case WM_DRAWITEM:
      if (CSkinBtn::ForwardDrawItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lparam))) {
        ::SetWindowLongPtrW(window_, DWLP_MSGRESULT, TRUE);
        return TRUE;
      }
      return FALSE;
    case WM_PAINT:
      return OnPaint() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(large_icon_);
    case kDpiChangedMessage:
      OnDpiChanged(*reinterpret_cast<const RECT*>(lparam));
      return TRUE;
    default:
      return FALSE;
  }
}

BOOL COR_VEXDlg::OnInitDialog() {
  load_icons();
  ::SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(large_icon_));
  ::SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_));
  // The hidden All Check has the default-button style too, and the dialog manager takes the last
  // such button of the template: ALL START is made the default, so that Enter means ALL START.
  ::SendMessageW(window_, DM_SETDEFID, dialog::kAllStartId, 0);
  add_template_rows(window_, kMainTemplateId);
  for (size_t k = 0; k < dialog::kPanelIds.size(); ++k) {
    bars_[k].SubclassDlgItem(dialog::kPanelIds[k].progress_bar, window_);
    pictures_[k].SubclassDlgItem(dialog::kPanelIds[k].result_picture, window_);
  }
  for (const int id : list_ids()) ::SetWindowSubclass(item(id), ListProc, kListSubclassId, 0);
  make_tooltips();

  mailbox_.attach(window_);
  behaviour_.OnInitDialog(this);
  // The first port list has the focus, not a push button.
  ::SetFocus(item(dialog::kPanelIds[0].at_port_list));
  return FALSE;
}

void COR_VEXDlg::load_icons() {
  HINSTANCE module = ::GetModuleHandleW(nullptr);
  large_icon_ = static_cast<HICON>(::LoadImageW(module, MAKEINTRESOURCEW(kApplicationIconId),
                                                IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                                                ::GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
  small_icon_ = static_cast<HICON>(::LoadImageW(module, MAKEINTRESOURCEW(kApplicationIconId),
                                                IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
}

// The status lines and the bench folder are static controls, which let the pointer through to the
// dialog: each is a rectangle of the dialog for the tooltip control, which watches the dialog's
// mouse messages.
void COR_VEXDlg::make_tooltips() {
  tooltips_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr,
                                ::GetModuleHandleW(nullptr), nullptr);
  if (tooltips_ == nullptr) return;
  ::SendMessageW(tooltips_, TTM_SETDELAYTIME, TTDT_AUTOPOP, kTooltipShownMs);
  for (const int id : tooltip_ids()) {
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_SUBCLASS;
    tool.hwnd = window_;
    tool.uId = static_cast<UINT_PTR>(id);
    tool.lpszText = const_cast<wchar_t*>(L"");
    ::SendMessageW(tooltips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
  place_tooltips();
}

void COR_VEXDlg::place_tooltips() {
  if (tooltips_ == nullptr) return;
  // A maximum width makes the tooltip break its text into lines.
  ::SendMessageW(tooltips_, TTM_SETMAXTIPWIDTH, 0,
                 scale_to_dpi(kTooltipWidthAt96, window_dpi(window_)));
  for (const int id : tooltip_ids()) {
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = window_;
    tool.uId = static_cast<UINT_PTR>(id);
    ::GetWindowRect(item(id), &tool.rect);
    ::MapWindowPoints(HWND_DESKTOP, window_, reinterpret_cast<POINT*>(&tool.rect), 2);
    ::SendMessageW(tooltips_, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

std::wstring COR_VEXDlg::tooltip_text(int id) const {
  if (tooltips_ == nullptr) return {};
  std::wstring text(8192, L'\0');
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.hwnd = window_;
  tool.uId = static_cast<UINT_PTR>(id);
  tool.lpszText = text.data();
  ::SendMessageW(tooltips_, TTM_GETTEXTW, text.size(), reinterpret_cast<LPARAM>(&tool));
  text.resize(wcsnlen(text.c_str(), text.size()));
  return text;
}

// A wheel turned over a closed list would change its selection, and a changed port list asks a
// question whose default answer takes a port from another module: the wheel moves an open list
// only.
LRESULT CALLBACK COR_VEXDlg::ListProc(HWND list, UINT message, WPARAM wparam, LPARAM lparam,
                                      UINT_PTR, DWORD_PTR) {
  if (message == WM_MOUSEWHEEL && !::SendMessageW(list, CB_GETDROPPEDSTATE, 0, 0)) return 0;
  if (message == WM_NCDESTROY) ::RemoveWindowSubclass(list, ListProc, kListSubclassId);
  return ::DefSubclassProc(list, message, wparam, lparam);
}

int COR_VEXDlg::panel_of(int id, PanelRole role) {
  for (size_t k = 0; k < dialog::kPanelIds.size(); ++k) {
    if (dialog::kPanelIds[k].*role == id) return static_cast<int>(k);
  }
  return -1;
}

void COR_VEXDlg::OnCommand(int id, int code) {
  if (id == IDCANCEL) {  // Escape: a close request, as the close box
    behaviour_.OnClose();
    return;
  }
  const int at = panel_of(id, &PanelIds::at_port_list);
  const int diag = panel_of(id, &PanelIds::diag_port_list);
  if (at >= 0 || diag >= 0 || id == dialog::kUpgradeTypeListId || id == dialog::kTypeListId) {
    OnList(id, code);
    return;
  }
  if (code != BN_CLICKED) return;
  if (const int k = panel_of(id, &PanelIds::start_button); k >= 0) {
    behaviour_.start_or_pause(k);
    return;
  }
  switch (id) {
    case dialog::kAllStartId:
      behaviour_.all_start();
      break;
    case dialog::kAllCheckId:
      behaviour_.OnBnClickedAllCheck();
      break;
    case dialog::kBrowseId:
      behaviour_.OnBnClickedBrowse();
      break;
    case dialog::kLoginId:
      behaviour_.OnBnClickedLogin();
      break;
    case dialog::kSaveId:
      behaviour_.OnBnClickedSave();
      break;
    case dialog::kPlugInStartId:
      behaviour_.OnPlugInOptionToggled(::IsDlgButtonChecked(window_, id) == BST_CHECKED);
      break;
    default:
      break;
  }
}

// A selection change is always the operator's: the face selects with CB_SETCURSEL, which sends
// none.
void COR_VEXDlg::OnList(int id, int code) {
  const int at = panel_of(id, &PanelIds::at_port_list);
  const int k = at >= 0 ? at : panel_of(id, &PanelIds::diag_port_list);
  if (k >= 0) {
    const int kind = at >= 0 ? dialog::kAtList : dialog::kDiagList;
    if (code == CBN_DROPDOWN) {
      behaviour_.fill_port_list(k, kind);
    } else if (code == CBN_SELCHANGE) {
      behaviour_.choose_port(k, kind, dialog_index_of_selection(id));
    }
    return;
  }
  if (code != CBN_SELCHANGE) return;
  if (id == dialog::kUpgradeTypeListId) {
    behaviour_.OnSelchangeUpgradeType(dialog_index_of_selection(id));
  } else {
    behaviour_.OnSelchangeType(dialog_index_of_selection(id));
  }
}

// The port lists are sorted by the control: an entry is found by its text, never by its index.
int COR_VEXDlg::dialog_index_of_selection(int id) const {
  HWND list = item(id);
  const LRESULT selected = ::SendMessageW(list, CB_GETCURSEL, 0, 0);
  if (selected == CB_ERR) return -1;
  const LRESULT length = ::SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(selected), 0);
  if (length == CB_ERR) return -1;
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  ::SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(selected),
                 reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(length));
  const auto found = entries_.find(id);
  if (found == entries_.end()) return -1;
  const std::string shown = narrow(text);
  for (size_t i = 0; i < found->second.size(); ++i) {
    if (found->second[i] == shown) return static_cast<int>(i);
  }
  return -1;
}

void COR_VEXDlg::select_text(int id, int index) {
  HWND list = item(id);
  LRESULT at = CB_ERR;
  const auto found = entries_.find(id);
  if (found != entries_.end() && index >= 0 && index < static_cast<int>(found->second.size())) {
    const std::wstring text = widen(found->second[static_cast<size_t>(index)]);
    at = ::SendMessageW(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                        reinterpret_cast<LPARAM>(text.c_str()));
  }
  ::SendMessageW(list, CB_SETCURSEL, at == CB_ERR ? static_cast<WPARAM>(-1) : at, 0);
}

bool COR_VEXDlg::OnPaint() {
  if (!::IsIconic(window_)) {
    if (first_paint_) std::exchange(first_paint_, nullptr)();
    return false;  // the dialog manager paints
  }
  // Minimised: the application icon, centred.
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(window_, &paint);
  ::SendMessageW(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  ::GetClientRect(window_, &client);
  const int x = (client.right - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
  ::DrawIcon(dc, x, y, large_icon_);
  ::EndPaint(window_, &paint);
  return true;
}

// Moved to a monitor of another DPI: the system suggests the rectangle, and a per-monitor
// (version 2) dialog has its fonts and controls scaled by the system; the self-drawn controls drop
// what they keep for the old DPI.
void COR_VEXDlg::OnDpiChanged(const RECT& suggested) {
  ::SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  for (CProgressBarCtrl& bar : bars_) bar.OnDpiChanged();
  for (CSkinBtn& picture : pictures_) picture.OnDpiChanged();
  place_tooltips();
  ::InvalidateRect(window_, nullptr, TRUE);
}

void COR_VEXDlg::set_text(int id, std::string_view text) {
  ::SetDlgItemTextW(window_, id, widen(text).c_str());
}

// Plain text, each line apart: the tooltip control neither reads markup nor takes & as a prefix.
void COR_VEXDlg::set_tooltip(int id, std::string_view text) {
  if (tooltips_ == nullptr) return;
  std::wstring lines = tooltip_lines(text);
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.hwnd = window_;
  tool.uId = static_cast<UINT_PTR>(id);
  tool.lpszText = lines.data();
  ::SendMessageW(tooltips_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void COR_VEXDlg::enable_control(int id, bool enabled) {
  if (HWND control = item(id)) ::EnableWindow(control, enabled ? TRUE : FALSE);
}

void COR_VEXDlg::show_control(int id, bool visible) {
  if (HWND control = item(id)) ::ShowWindow(control, visible ? SW_SHOW : SW_HIDE);
}

void COR_VEXDlg::set_checked(int id, bool checked) {
  ::CheckDlgButton(window_, id, checked ? BST_CHECKED : BST_UNCHECKED);  // sends no click
}

void COR_VEXDlg::set_list(int id, const std::vector<std::string>& entries, int selected) {
  HWND list = item(id);
  if (list == nullptr) return;
  entries_[id] = entries;
  ::SendMessageW(list, CB_RESETCONTENT, 0, 0);
  for (const std::string& entry : entries) {
    ::SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(entry).c_str()));
  }
  select_text(id, selected);
}

void COR_VEXDlg::select_in_list(int id, int index) {
  select_text(id, index);
}

void COR_VEXDlg::set_bar(int id, int position) {
  if (const int k = panel_of(id, &PanelIds::progress_bar); k >= 0)
    bars_[static_cast<size_t>(k)].SetPos(position);
}

void COR_VEXDlg::set_picture(int id, int bitmap) {
  if (const int k = panel_of(id, &PanelIds::result_picture); k >= 0)
    pictures_[static_cast<size_t>(k)].SetBitmaps(bitmap, bitmap, bitmap);
}

void COR_VEXDlg::show_picture(int id, int bitmap) {
  const int k = panel_of(id, &PanelIds::result_picture);
  if (k < 0) return;
  CSkinBtn& picture = pictures_[static_cast<size_t>(k)];
  ::ShowWindow(picture.hwnd(), SW_SHOW);
  picture.SetBitmaps(bitmap, bitmap, bitmap);
  picture.RefreshSkin();
}

void COR_VEXDlg::message(std::string_view text, std::string_view caption, dialog::BoxIcon icon,
                         dialog::BoxOwner owner) {
  UINT type = MB_OK;
  if (icon == dialog::BoxIcon::stop) type |= MB_ICONSTOP;
  // A box of its own comes to the front, where the operator sees it.
  if (owner == dialog::BoxOwner::none) type |= MB_SETFOREGROUND;
  message_box(owner == dialog::BoxOwner::dialog ? window_ : nullptr, widen(text), widen(caption),
              type);
}

bool COR_VEXDlg::ask_yes_no(std::string_view text, std::string_view caption) {
  return message_box(window_, widen(text), widen(caption),
                     MB_YESNO | MB_ICONQUESTION | MB_SYSTEMMODAL) == IDYES;
}

std::optional<std::string> COR_VEXDlg::pick_file(std::string_view title, std::string_view folder) {
  const std::optional<std::wstring> picked =
      choose_existing_file(window_, widen(title), widen(folder));
  if (!picked) return std::nullopt;
  return narrow(*picked);
}

bool COR_VEXDlg::run_login() {
  CLoginDlg login(window_);
  login.m_strPassword.clear();
  return login.DoModal() == IDOK;
}

void COR_VEXDlg::start_timer(dialog::Timer timer, int ms) {
  ::SetTimer(window_, timer_id(timer), static_cast<UINT>(ms), nullptr);
}

void COR_VEXDlg::stop_timer(dialog::Timer timer) {
  ::KillTimer(window_, timer_id(timer));
}

dialog::Face::Post COR_VEXDlg::poster() {
  return mailbox_.poster();
}

void COR_VEXDlg::end_dialog() {
  ended_ = true;
  mailbox_.attach(nullptr);
  if (HWND window = std::exchange(window_, nullptr)) ::DestroyWindow(window);
}

void COR_VEXDlg::on_run_started(int k) {
  if (run_started_) run_started_(k);
}

}  // namespace ui_win
