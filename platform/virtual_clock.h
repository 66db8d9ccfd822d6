#pragma once

#include <cstdint>
#include <ctime>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/clock.h"

namespace platform {

// A clock on which sleeping takes no real time. Each thread has its own time line, starting at 0
// when it first reads the clock: the workers of different modules wait independently, so each one's
// virtual time is the sum of its own waits, whatever the others do.
class VirtualClock final : public Clock {
 public:
  // `wall` is the calendar time that the time line's 0 stands for.
  explicit VirtualClock(std::time_t wall = 0) : wall_(wall) {}

  int64_t now_ms() override;
  void sleep_ms(int64_t ms) override;
  // A stop raised before the sleep ends it at once; otherwise the whole time passes.
  bool sleep_ms_unless(int64_t ms, StopSignal& stop) override;
  std::tm local_time() override;

  // Moves the calling thread's time line forward without a sleep.
  void advance_ms(int64_t ms) { sleep_ms(ms); }

 private:
  int64_t& line();

  std::mutex mutex_;
  std::unordered_map<std::thread::id, int64_t> lines_;
  std::time_t wall_;
};

}  // namespace platform
