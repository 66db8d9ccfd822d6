// The window tests under Wine: --dpi=N names the DPI that the run's display was given.
#include <windows.h>
// windows.h first: commctrl.h needs its types.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "tests/ui_win/window_testing.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // The system's control classes, the progress bar's among them, as the program registers them.
  INITCOMMONCONTROLSEX classes{sizeof classes, ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&classes);
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--dpi=", 6) == 0) {
      window_testing::set_expected_dpi(static_cast<UINT>(std::atoi(argv[i] + 6)));
    }
  }
  return RUN_ALL_TESTS();
}
