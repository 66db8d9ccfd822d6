#include "ui_win/window_mailbox.h"

#include <utility>

namespace ui_win {

WindowMailbox::WindowMailbox() : shared_(std::make_shared<Shared>()) {}

WindowMailbox::~WindowMailbox() {
  attach(nullptr);
}

void WindowMailbox::attach(HWND window) {
  std::lock_guard lock(shared_->mutex);
  shared_->window = window;
}

WindowMailbox::Post WindowMailbox::poster() const {
  return [shared = shared_](Call call) {
    std::lock_guard lock(shared->mutex);
    shared->calls.push_back(std::move(call));
    // Posted under the lock, so that a window that is let go is never posted to afterwards.
    if (shared->window != nullptr) ::PostMessageW(shared->window, kWakeMessage, 0, 0);
  };
}

int WindowMailbox::run_waiting() {
  int ran = 0;
  while (true) {
    Call call;
    {
      std::lock_guard lock(shared_->mutex);
      if (shared_->calls.empty() || shared_->window == nullptr) return ran;
      call = std::move(shared_->calls.front());
      shared_->calls.pop_front();
    }
    call();
    ++ran;
  }
}

}  // namespace ui_win
