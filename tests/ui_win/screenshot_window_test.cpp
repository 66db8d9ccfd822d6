// A picture of the main dialog for a person to look at: the start state with Module1's bar at 37%,
// Module1's PASS picture and Module2's FAIL picture; and the login dialog.

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "tests/ui_win/window_testing.h"
#include "ui_win/progress_bar_ctrl.h"
#include "ui_win/skin_btn.h"
#include "ui_win/template_rows.h"

namespace {

constexpr std::array<int, 6> kBars{1005, 1006, 1013, 1017, 1021, 1025};
constexpr std::array<int, 6> kPictures{1047, 1048, 1049, 1052, 1053, 1054};
constexpr std::array<int, 6> kPass{144, 146, 147, 148, 149, 150};
constexpr std::array<int, 6> kFail{151, 152, 153, 155, 156, 157};

TEST(WindowScreenshot, MainDialogWithABarAndTwoPictures) {
  window_testing::TestDialog dialog(102);
  ui_win::add_template_rows(dialog.hwnd(), 102);
  std::array<ui_win::CProgressBarCtrl, 6> bars;
  std::array<ui_win::CSkinBtn, 6> pictures;
  for (size_t k = 0; k < 6; ++k) {
    ASSERT_TRUE(bars[k].SubclassDlgItem(kBars[k], dialog.hwnd()));
    ASSERT_TRUE(pictures[k].SubclassDlgItem(kPictures[k], dialog.hwnd()));
    pictures[k].SetBitmaps(kFail[k], kFail[k], kFail[k]);
  }
  bars[0].SetPos(37);
  for (const auto& [k, ok] : {std::pair{size_t{0}, true}, std::pair{size_t{1}, false}}) {
    const int id = ok ? kPass[k] : kFail[k];
    ::ShowWindow(pictures[k].hwnd(), SW_SHOW);
    pictures[k].SetBitmaps(id, id, id);
    pictures[k].RefreshSkin();
  }
  ::UpdateWindow(dialog.hwnd());
  window_testing::handle_waiting_messages();
  const std::wstring dpi = std::to_wstring(window_testing::expected_dpi());
  if (!window_testing::take_screenshot(L"main-dialog-" + dpi, dialog.hwnd())) {
    GTEST_SKIP() << "no screenshot folder";
  }

  window_testing::TestDialog login(143);
  EXPECT_TRUE(window_testing::take_screenshot(L"login-dialog-" + dpi, login.hwnd()));
}

}  // namespace
