#pragma once

#include <condition_variable>
#include <mutex>

#include "platform/clock.h"
#include "platform/virtual_clock.h"

namespace testing_support {

// Virtual time, except that a stoppable wait (the settling wait of a run) of more than 0 ms really
// blocks until its stop is raised: a test holds a worker inside its run for as long as it needs,
// without timing. A settling time of 0 passes at once.
class SettlingGate final : public platform::Clock {
 public:
  int64_t now_ms() override { return time_.now_ms(); }
  void sleep_ms(int64_t ms) override { time_.sleep_ms(ms); }
  std::tm local_time() override { return time_.local_time(); }
  bool sleep_ms_unless(int64_t ms, platform::StopSignal& stop) override {
    if (ms <= 0) return stop.raised();
    {
      std::lock_guard lock(mutex_);
      ++waiting_;
    }
    changed_.notify_all();
    while (!stop.wait_ms(60000)) {
    }
    std::lock_guard lock(mutex_);
    --waiting_;
    return true;
  }
  // Returns once a worker is in its settling wait.
  void await_waiter() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return waiting_ > 0; });
  }
  // The number of workers in their settling wait now.
  int waiting() {
    std::lock_guard lock(mutex_);
    return waiting_;
  }

 private:
  platform::VirtualClock time_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int waiting_ = 0;
};

}  // namespace testing_support
