#include "engine/notification_bridge.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "tests/support/message_recorder.h"

namespace {

// The window thread's event loop, reduced to a queue of calls.
class EventQueue {
 public:
  void post(std::function<void()> call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
    ready_.notify_all();
  }
  // Runs queued calls until `until` holds.
  void run_until(const std::function<bool()>& until) {
    for (;;) {
      std::function<void()> call;
      {
        std::unique_lock lock(mutex_);
        ready_.wait_for(lock, std::chrono::milliseconds(5), [&] { return !calls_.empty(); });
        if (calls_.empty()) {
          if (until()) return;
          continue;
        }
        call = std::move(calls_.front());
        calls_.pop_front();
      }
      call();
    }
  }
  size_t pending() {
    std::lock_guard lock(mutex_);
    return calls_.size();
  }
  void run_pending() {
    while (pending()) run_until([] { return true; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> calls_;
};

// A window that records on which thread each message was handled.
class ThreadCheckingWindow : public engine::MainWindow {
 public:
  void send_message(uint32_t msg, uintptr_t wParam, intptr_t) override {
    handled_on_window_thread = handled_on_window_thread && std::this_thread::get_id() == owner;
    if (msg == engine::WM_SLOT_STATUS) texts.push_back(reinterpret_cast<const char*>(wParam));
    ++count;
  }
  std::thread::id owner = std::this_thread::get_id();
  bool handled_on_window_thread = true;
  std::vector<std::string> texts;
  int count = 0;
};

}  // namespace

TEST(NotificationBridgeTest, WorkerSendsAreHandledOnTheWindowThreadBeforeTheyReturn) {
  EventQueue loop;
  ThreadCheckingWindow window;
  engine::NotificationBridge bridge(window, [&](std::function<void()> c) { loop.post(c); });
  std::atomic<int> returned{0};
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i) {
      std::string text = "status " + std::to_string(i);
      bridge.send_message(engine::WM_SLOT_STATUS, reinterpret_cast<uintptr_t>(text.c_str()), 0);
      // Synchronous: handled before the send returned, while the text was still alive.
      EXPECT_EQ(window.count, i + 1);
      ++returned;
    }
  });
  loop.run_until([&] { return returned == 50; });
  worker.join();
  EXPECT_TRUE(window.handled_on_window_thread);
  EXPECT_EQ(window.texts.front(), "status 0");
  EXPECT_EQ(window.texts.back(), "status 49");

  // On the window thread itself a send is handled at once.
  bridge.send_message(engine::WM_SLOT_FINISHED, 0, 100);
  EXPECT_EQ(window.count, 51);
}

TEST(NotificationBridgeTest, ClosingReleasesABlockedSenderAndLaterSendsTouchNothing) {
  EventQueue loop;
  ThreadCheckingWindow window;
  engine::NotificationBridge bridge(window, [&](std::function<void()> c) { loop.post(c); });
  std::atomic<bool> released{false};
  std::thread worker([&] {
    std::string text = "never shown";
    bridge.send_message(engine::WM_SLOT_STATUS, reinterpret_cast<uintptr_t>(text.c_str()), 0);
    released = true;
    bridge.send_message(engine::WM_SLOT_STATUS, 0, 0);  // returns at once
  });
  while (loop.pending() == 0) std::this_thread::yield();
  EXPECT_FALSE(released);
  bridge.close();  // the event loop has ended: the queued call never ran
  worker.join();
  EXPECT_TRUE(released);
  loop.run_pending();  // a call that arrives after the close does nothing
  EXPECT_EQ(window.count, 0);
  EXPECT_TRUE(bridge.closed());
}

TEST(NotificationBridgeTest, QueuedCallsOutliveTheBridge) {
  EventQueue loop;
  ThreadCheckingWindow window;
  auto bridge = std::make_unique<engine::NotificationBridge>(
      window, [&](std::function<void()> c) { loop.post(c); });
  std::thread worker([&] { bridge->send_message(engine::WM_SLOT_FINISHED, 0, 100); });
  while (loop.pending() == 0) std::this_thread::yield();
  bridge->close();
  worker.join();
  bridge.reset();
  loop.run_pending();
  EXPECT_EQ(window.count, 0);
}
