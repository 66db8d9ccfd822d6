#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace ui_win {

// Carries calls from worker threads to a window's thread. A call is kept under a mutex and the
// window is woken by a posted message that carries no data; its handler runs every call waiting, so
// a wake-up that is lost (a full queue, a modal loop that filtered it) never leaves a call behind.
// The posting side shares the mailbox: a worker may post after the window is gone, and its call
// is then kept and never run (the worker is released by the notification bridge, not by the call).
class WindowMailbox {
 public:
  // The private message that wakes the window.
  static constexpr UINT kWakeMessage = WM_APP + 0x51;

  using Call = std::function<void()>;
  using Post = std::function<void(Call)>;

  WindowMailbox();
  ~WindowMailbox();
  WindowMailbox(const WindowMailbox&) = delete;
  WindowMailbox& operator=(const WindowMailbox&) = delete;

  // The window whose thread runs the calls; null: calls are kept and never run.
  void attach(HWND window);
  // From any thread, for as long as any copy of it lives.
  Post poster() const;
  // On the window's thread, when kWakeMessage arrives: runs the calls waiting, in order, one at a
  // time (a call that runs a modal loop of its own keeps the order). Gives how many ran.
  int run_waiting();

 private:
  struct Shared {
    std::mutex mutex;
    std::deque<Call> calls;
    HWND window = nullptr;
  };
  std::shared_ptr<Shared> shared_;
};

}  // namespace ui_win
