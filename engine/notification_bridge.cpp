#include "engine/notification_bridge.h"

namespace engine {

NotificationBridge::NotificationBridge(MainWindow& window, Post post)
    : shared_(std::make_shared<Shared>()),
      post_(std::move(post)),
      window_thread_(std::this_thread::get_id()) {
  shared_->window = &window;
}

void NotificationBridge::send_message(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  if (std::this_thread::get_id() == window_thread_) {
    MainWindow* window;
    {
      std::lock_guard lock(shared_->mutex);
      window = shared_->window;
    }
    if (window) window->send_message(msg, wParam, lParam);
    return;
  }

  if (closed()) return;
  auto done = std::make_shared<bool>(false);
  // The queued call holds the shared state, never the bridge: it may run after the bridge is gone.
  post_([shared = shared_, done, msg, wParam, lParam] {
    MainWindow* window;
    {
      std::lock_guard lock(shared->mutex);
      window = shared->window;
    }
    // Closing happens on this same thread, so the window cannot go away during the call; a call
    // that arrives after the close does nothing (its sender was released and its text may be gone).
    if (window) window->send_message(msg, wParam, lParam);
    {
      std::lock_guard lock(shared->mutex);
      *done = true;
    }
    shared->handled.notify_all();
  });
  std::unique_lock lock(shared_->mutex);
  shared_->handled.wait(lock, [&] { return *done || !shared_->window; });
}

void NotificationBridge::close() {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->window = nullptr;
  }
  shared_->handled.notify_all();
}

bool NotificationBridge::closed() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->window == nullptr;
}

}  // namespace engine
