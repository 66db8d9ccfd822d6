#pragma once

#include <functional>
#include <memory>

namespace platform {
struct ToolLocks;
}

namespace ui_win {

// The application: one instance per bench folder and per user at a time, whose whole life is the
// main dialog.
class COR_VEXApp {
 public:
  COR_VEXApp();
  ~COR_VEXApp();
  COR_VEXApp(const COR_VEXApp&) = delete;
  COR_VEXApp& operator=(const COR_VEXApp&) = delete;

  // Start-up: the system's common controls, the lock of the bench folder (the working directory)
  // and the single-instance mutex "ZEBL" (a second instance shows "Tool has been opened!", with the
  // process that holds the bench on a second line when it is known, and gives 0 once it is
  // acknowledged; a lock that cannot be taken is shown with its reason and gives 1), then the main
  // dialog until it ends. Gives the program's exit code.
  int InitInstance();

  // Called at the main dialog's first paint; empty: nothing.
  std::function<void()> on_first_paint;

 private:
  std::unique_ptr<platform::ToolLocks> locks_;  // held until the program ends
};

}  // namespace ui_win
