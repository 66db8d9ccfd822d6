#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace runner {

// The event loop of the runner's main thread: calls posted from any thread, run in order.
class CallQueue {
 public:
  void post(std::function<void()> call) {
    {
      std::lock_guard lock(mutex_);
      calls_.push_back(std::move(call));
    }
    ready_.notify_one();
  }

  // Runs the calls that are queued or arrive within `wait`.
  void run_for(std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    ready_.wait_for(lock, wait, [this] { return !calls_.empty(); });
    while (!calls_.empty()) {
      std::function<void()> call = std::move(calls_.front());
      calls_.pop_front();
      lock.unlock();
      call();
      lock.lock();
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> calls_;
};

}  // namespace runner
