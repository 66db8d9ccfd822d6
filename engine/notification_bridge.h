#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/notifications.h"

namespace engine {

// Delivers worker notifications to a window that lives on one thread (the window thread) and makes
// them synchronous: a send from a worker queues the call onto the window thread and waits until it
// has been handled. A send on the window thread is handled at once.
//
// The bridge can be closed (on the window thread): from then on a send returns at once without
// touching the window, and every sender waiting in it is released, also when its queued call never
// runs because the event loop has ended. Closing the window therefore never deadlocks with a
// worker.
class NotificationBridge final : public MainWindow {
 public:
  // Queues a call to run later on the window thread.
  using Post = std::function<void(std::function<void()>)>;

  // Constructed on the window thread.
  NotificationBridge(MainWindow& window, Post post);
  ~NotificationBridge() override { close(); }
  NotificationBridge(const NotificationBridge&) = delete;
  NotificationBridge& operator=(const NotificationBridge&) = delete;

  void send_message(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;
  void close();
  bool closed() const;

 private:
  struct Shared {
    std::mutex mutex;
    std::condition_variable handled;
    MainWindow* window;  // null once closed
  };
  std::shared_ptr<Shared> shared_;
  Post post_;
  const std::thread::id window_thread_;
};

}  // namespace engine
