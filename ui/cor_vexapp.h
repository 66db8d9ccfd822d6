#pragma once

#include <memory>

namespace platform {
class InstanceLock;
}

namespace ui {

// The application: one instance per user at a time, whose whole life is the main dialog.
class COR_VEXApp {
 public:
  COR_VEXApp();
  ~COR_VEXApp();
  COR_VEXApp(const COR_VEXApp&) = delete;
  COR_VEXApp& operator=(const COR_VEXApp&) = delete;

  // Start-up: takes the single-instance lock "ZEBL" (a second instance shows "Tool has been
  // opened!" and gives 0 once it is acknowledged), then runs the main dialog until it ends. Gives
  // the program's exit code. Needs a QApplication.
  int InitInstance();

 private:
  std::unique_ptr<platform::InstanceLock> lock_;  // held until the program ends
};

}  // namespace ui
