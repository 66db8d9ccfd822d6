#pragma once

#include <memory>

namespace platform {
struct ToolLocks;
}

namespace ui {

// The application: one instance per bench folder and per user at a time, whose whole life is the
// main dialog.
class COR_VEXApp {
 public:
  COR_VEXApp();
  ~COR_VEXApp();
  COR_VEXApp(const COR_VEXApp&) = delete;
  COR_VEXApp& operator=(const COR_VEXApp&) = delete;

  // Start-up: takes the lock of the bench folder (the working directory) and the single-instance
  // lock "ZEBL" (a second instance shows "Tool has been opened!" with the process that holds the
  // lock on a second line, and gives 0 once it is acknowledged; a lock that cannot be taken is
  // shown with its reason and gives 1), then runs the main dialog until it ends. Gives the
  // program's exit code. Needs a QApplication.
  int InitInstance();

 private:
  std::unique_ptr<platform::ToolLocks> locks_;  // held until the program ends
};

}  // namespace ui
