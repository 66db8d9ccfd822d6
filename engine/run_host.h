#pragma once

#include "engine/notification_bridge.h"

namespace engine {

// The owner of a program's runs: it installs the notification target (a bridge to the program's
// window, which lives on the thread that constructs the host) and ends the program's runs in the
// only safe order:
//   1. the target is closed: every sender waiting in it is released, later sends return at once
//      without touching the window;
//   2. every run is asked to stop (a settling wait ends at once) and its AT port is closed (a
//      blocked write ends at once);
//   3. every worker is joined, and the file images are released;
//   4. only then is the target uninstalled and let go.
// The terminal runner and the window both hold one for as long as they show runs; its window must
// outlive it.
class RunHost {
 public:
  RunHost(MainWindow& window, NotificationBridge::Post post);
  ~RunHost() { shut_down(); }
  RunHost(const RunHost&) = delete;
  RunHost& operator=(const RunHost&) = delete;

  // Ends every run as above. Called on the window thread; further calls do nothing.
  void shut_down();

 private:
  NotificationBridge bridge_;
  bool shut_down_ = false;
};

}  // namespace engine
