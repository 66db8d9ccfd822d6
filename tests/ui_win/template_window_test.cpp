// The dialogs made from the program's resource script: every control of the templates with its
// number, class, caption, visibility, enabled state and rectangle, at the run's DPI.

#include <windows.h>
// windows.h first: commctrl.h needs its types.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <string_view>

#include "tests/ui_win/window_testing.h"
#include "ui_win/dialog_templates.h"
#include "ui_win/dpi.h"
#include "ui_win/template_rows.h"

namespace {

using window_testing::TestDialog;

std::wstring text_of(HWND window) {
  wchar_t text[256] = L"";
  ::GetWindowTextW(window, text, 256);
  return text;
}

std::wstring class_of(HWND window) {
  wchar_t name[64] = L"";
  ::GetClassNameW(window, name, 64);
  return name;
}

std::string narrow(const std::wstring& text) {
  return std::string(text.begin(), text.end());
}

// The style names of the resource script. A type (a button's, a static's, a list's, an edit's
// alignment) is a value under its mask; the rest are flags.
struct StyleName {
  std::string_view name;
  LONG value;
  LONG type_mask;  // 0: a flag
};
constexpr StyleName kStyleNames[] = {
    {"WS_TABSTOP", WS_TABSTOP, 0},
    {"WS_GROUP", WS_GROUP, 0},
    {"WS_VSCROLL", WS_VSCROLL, 0},
    {"WS_BORDER", WS_BORDER, 0},
    {"WS_DISABLED", WS_DISABLED, 0},
    {"BS_PUSHBUTTON", BS_PUSHBUTTON, BS_TYPEMASK},
    {"BS_DEFPUSHBUTTON", BS_DEFPUSHBUTTON, BS_TYPEMASK},
    {"BS_GROUPBOX", BS_GROUPBOX, BS_TYPEMASK},
    {"BS_AUTOCHECKBOX", BS_AUTOCHECKBOX, BS_TYPEMASK},
    {"SS_LEFT", SS_LEFT, SS_TYPEMASK},
    {"SS_RIGHT", SS_RIGHT, SS_TYPEMASK},
    {"SS_LEFTNOWORDWRAP", SS_LEFTNOWORDWRAP, SS_TYPEMASK},
    {"SS_NOPREFIX", SS_NOPREFIX, 0},
    {"SS_SUNKEN", SS_SUNKEN, 0},
    {"SS_PATHELLIPSIS", SS_PATHELLIPSIS, SS_ELLIPSISMASK},
    {"CBS_DROPDOWNLIST", CBS_DROPDOWNLIST, CBS_SIMPLE | CBS_DROPDOWN | CBS_DROPDOWNLIST},
    {"CBS_SORT", CBS_SORT, 0},
    {"ES_LEFT", ES_LEFT, ES_LEFT | ES_CENTER | ES_RIGHT},
    {"ES_AUTOHSCROLL", ES_AUTOHSCROLL, 0},
    {"ES_PASSWORD", ES_PASSWORD, 0},
};

// The window has every style the script names for it.
::testing::AssertionResult has_styles(HWND window, std::string_view names) {
  const LONG style = ::GetWindowLongW(window, GWL_STYLE);
  while (!names.empty()) {
    const size_t bar = names.find('|');
    std::string_view name = names.substr(0, bar);
    names = bar == std::string_view::npos ? std::string_view() : names.substr(bar + 1);
    while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    if (name.empty()) continue;
    const StyleName* known = nullptr;
    for (const StyleName& entry : kStyleNames) {
      if (entry.name == name) known = &entry;
    }
    if (known == nullptr) return ::testing::AssertionFailure() << "unknown style " << name;
    bool has = known->type_mask != 0 ? (style & known->type_mask) == known->value
                                     : (style & known->value) == known->value;
    if (name == "BS_PUSHBUTTON" || name == "BS_DEFPUSHBUTTON") {
      // Which push button shows as the default is the dialog manager's to say (it moves the
      // default style with the focus and the default id): either kind is a push button.
      const LONG type = style & BS_TYPEMASK;
      has = type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
    } else if (name == "WS_BORDER") {
      // An edit box turns the plain border into a sunken client edge.
      has = has || (::GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0;
    }
    if (!has) return ::testing::AssertionFailure() << "no " << name << " in " << std::hex << style;
  }
  return ::testing::AssertionSuccess();
}

bool running_under_wine() {
  return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

::testing::AssertionResult same_rect(const RECT& seen, const RECT& expected) {
  if (::EqualRect(&seen, &expected)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "(" << seen.left << ", " << seen.top << ")-(" << seen.right << ", " << seen.bottom
         << ") instead of (" << expected.left << ", " << expected.top << ")-(" << expected.right
         << ", " << expected.bottom << ")";
}

// Every control, in template order (the order of the dialog's children), as the template gives it.
void check_dialog(const ui_win::templates::Dialog& expected) {
  SCOPED_TRACE(expected.name);
  TestDialog dialog(expected.id);
  ASSERT_NE(dialog.hwnd(), nullptr);
  EXPECT_EQ(ui_win::window_dpi(dialog.hwnd()), window_testing::expected_dpi());
  EXPECT_EQ(text_of(dialog.hwnd()), expected.caption);

  RECT client;
  ::GetClientRect(dialog.hwnd(), &client);
  const RECT size = window_testing::map_dialog_units(dialog.hwnd(), 0, 0, expected.cx, expected.cy);
  EXPECT_TRUE(same_rect(client, size));

  HWND child = ::GetWindow(dialog.hwnd(), GW_CHILD);
  for (const auto& control : expected.controls) {
    SCOPED_TRACE(control.name);
    ASSERT_NE(child, nullptr) << "the dialog has fewer controls than its template";
    EXPECT_EQ(static_cast<WORD>(::GetDlgCtrlID(child)), static_cast<WORD>(control.id));
    EXPECT_EQ(_wcsicmp(class_of(child).c_str(), control.class_name), 0) << narrow(class_of(child));
    EXPECT_EQ(text_of(child), control.caption);
    std::string styles = control.styles;
    if (_wcsicmp(control.class_name, L"msctls_progress32") == 0) {
      // The themed system bar takes its border style away (the bar control puts it back).
      styles = styles.substr(0, styles.find("WS_BORDER"));
    }
    if (_wcsicmp(control.class_name, L"ComboBox") == 0) {
      // A drop-down list hands its scroll bar on to its list, which shows it only while its rows
      // do not fit: the script's text holds it (see the resource script test).
      const size_t scroll = styles.find("WS_VSCROLL");
      if (scroll != std::string::npos) styles.erase(scroll, 10);
    }
    EXPECT_TRUE(has_styles(child, styles));
    EXPECT_EQ((::GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE) != 0, control.visible);
    EXPECT_EQ(::IsWindowEnabled(child) != FALSE, control.enabled);
    // Position and size as the template gives them (a drop-down list's with its list open); a
    // closed drop-down list fits its .ui height.
    const RECT expected_rect = window_testing::map_dialog_units(
        dialog.hwnd(), control.x, control.y, control.cx, control.cy + control.list_cy);
    const RECT seen = window_testing::control_rect(dialog.hwnd(), child);
    if (control.list_cy > 0 && running_under_wine()) {
      // Wine's dropped rectangle ends at the box's top plus the open list's own height, leaving out
      // the closed box: there only its left, top and right are exact, and it ends below the box.
      RECT closed;
      ::GetWindowRect(child, &closed);
      ::MapWindowPoints(HWND_DESKTOP, dialog.hwnd(), reinterpret_cast<POINT*>(&closed), 2);
      EXPECT_EQ(seen.left, expected_rect.left);
      EXPECT_EQ(seen.top, expected_rect.top);
      EXPECT_EQ(seen.right, expected_rect.right);
      EXPECT_GT(seen.bottom, closed.bottom);
      EXPECT_LT(seen.bottom, expected_rect.bottom);
    } else {
      EXPECT_TRUE(same_rect(seen, expected_rect));
    }
    if (control.list_cy > 0) {
      RECT closed;
      ::GetWindowRect(child, &closed);
      const RECT ui_rect = window_testing::map_dialog_units(dialog.hwnd(), control.x, control.y,
                                                            control.cx, control.cy);
      EXPECT_LE(closed.bottom - closed.top, ui_rect.bottom - ui_rect.top);
    }
    child = ::GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_EQ(child, nullptr) << "the dialog has more controls than its template";

  // The drop-down lists get the rows of their template, in order.
  EXPECT_EQ(ui_win::add_template_rows(dialog.hwnd(), expected.id),
            static_cast<int>(expected.rows.size()));
  int index_in_list = 0;
  int last_id = 0;
  for (const auto& row : expected.rows) {
    index_in_list = row.id == last_id ? index_in_list + 1 : 0;
    last_id = row.id;
    wchar_t text[64] = L"";
    ::SendDlgItemMessageW(dialog.hwnd(), row.id, CB_GETLBTEXT, static_cast<WPARAM>(index_in_list),
                          reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, row.text);
  }
}

TEST(WindowTemplates, EveryControlAsTheTemplatesGiveItAtThisDpi) {
  for (const auto& dialog : ui_win::templates::kDialogs) check_dialog(dialog);

  // The main window: a modal frame with a minimise box and no sizing border, on the task bar; the
  // dialog font at the window's DPI.
  TestDialog main_dialog(102);
  const LONG style = ::GetWindowLongW(main_dialog.hwnd(), GWL_STYLE);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & (WS_MAXIMIZEBOX | WS_THICKFRAME));
  EXPECT_TRUE(::GetWindowLongW(main_dialog.hwnd(), GWL_EXSTYLE) & WS_EX_APPWINDOW);
  LOGFONTW font{};
  ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(main_dialog.hwnd(), WM_GETFONT, 0, 0)),
               sizeof font, &font);
  EXPECT_EQ(font.lfHeight, -MulDiv(9, static_cast<int>(window_testing::expected_dpi()), 72));
  // The bars draw their text in the dialog's font.
  EXPECT_EQ(::SendDlgItemMessageW(main_dialog.hwnd(), 1005, WM_GETFONT, 0, 0),
            ::SendMessageW(main_dialog.hwnd(), WM_GETFONT, 0, 0));
}

// The manifest is in force (common controls 6, per-monitor DPI awareness), and the icon and the
// result pictures are resources of the program, the pictures in Chinese (PRC).
TEST(WindowTemplates, ManifestIconAndPictures) {
  // Common controls 6 are loaded from the side-by-side store, where the manifest leads.
  HMODULE controls = ::GetModuleHandleW(L"comctl32.dll");
  ASSERT_NE(controls, nullptr);
  wchar_t path[MAX_PATH] = L"";
  ::GetModuleFileNameW(controls, path, MAX_PATH);
  _wcslwr(path);
  EXPECT_NE(std::wcsstr(path, L"common-controls"), nullptr) << narrow(path);
  EXPECT_NE(std::wcsstr(path, L"_6.0."), nullptr) << narrow(path);

  using GetAwarenessContextFn = HANDLE(WINAPI*)();
  using AwarenessFn = int(WINAPI*)(HANDLE);
  HMODULE user = ::GetModuleHandleW(L"user32.dll");
  auto get_context = reinterpret_cast<GetAwarenessContextFn>(
      reinterpret_cast<void*>(::GetProcAddress(user, "GetThreadDpiAwarenessContext")));
  auto awareness_of = reinterpret_cast<AwarenessFn>(
      reinterpret_cast<void*>(::GetProcAddress(user, "GetAwarenessFromDpiAwarenessContext")));
  ASSERT_TRUE(get_context != nullptr && awareness_of != nullptr);
  EXPECT_EQ(awareness_of(get_context()), 2) << "not per-monitor aware";

  HINSTANCE program = ::GetModuleHandleW(nullptr);
  for (const int size : {16, 24, 32, 48, 256}) {
    auto icon = static_cast<HICON>(
        ::LoadImageW(program, MAKEINTRESOURCEW(128), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    ASSERT_NE(icon, nullptr) << size;
    ICONINFO info{};
    ::GetIconInfo(icon, &info);
    BITMAP picture{};
    ::GetObjectW(info.hbmColor, sizeof picture, &picture);
    EXPECT_EQ(picture.bmWidth, size) << "the icon has no picture of " << size << " pixels";
    ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);
    ::DestroyIcon(icon);
  }

  const WORD chinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
  for (const int id : {138, 139, 144, 146, 147, 148, 149, 150, 151, 152, 153, 155, 156, 157}) {
    EXPECT_NE(::FindResourceExW(program, RT_BITMAP, MAKEINTRESOURCEW(id), chinese), nullptr) << id;
    auto bitmap = static_cast<HBITMAP>(
        ::LoadImageW(program, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(bitmap, nullptr) << id;
    DIBSECTION section{};
    ::GetObjectW(bitmap, sizeof section, &section);
    EXPECT_EQ(section.dsBm.bmBitsPixel, 24) << id;
    EXPECT_EQ(section.dsBm.bmWidth, id == 139 ? 171 : 167) << id;
    EXPECT_EQ(section.dsBm.bmHeight, id == 139 ? 48 : 49) << id;
    ::DeleteObject(bitmap);
  }
}

}  // namespace
