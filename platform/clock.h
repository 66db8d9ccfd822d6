#pragma once

#include <cstdint>
#include <ctime>

#include "platform/stop_signal.h"

namespace platform {

// Every wait and poll of the engine, and the local time of log stamps, goes through this seam so
// that tests can run the protocol's long paths on a virtual clock. The product uses the real clock.
class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds on a monotonic time line.
  virtual int64_t now_ms() = 0;
  virtual void sleep_ms(int64_t ms) = 0;
  // Sleeps `ms` milliseconds unless `stop` is raised before or meanwhile, which ends the sleep at
  // once. True when it ended by the stop.
  virtual bool sleep_ms_unless(int64_t ms, StopSignal& stop) = 0;
  // The local date and time of the moment of the call.
  virtual std::tm local_time() = 0;
};

class RealClock final : public Clock {
 public:
  int64_t now_ms() override;
  void sleep_ms(int64_t ms) override;
  bool sleep_ms_unless(int64_t ms, StopSignal& stop) override;
  std::tm local_time() override;
};

// The clock in use; the real clock unless a test installed another one.
Clock& clock();

// Installs `c` (nullptr restores the real clock). Only while no worker runs.
void set_clock(Clock* c);

// Installs a clock for the lifetime of the guard.
class ScopedClock {
 public:
  explicit ScopedClock(Clock& c) { set_clock(&c); }
  ~ScopedClock() { set_clock(nullptr); }
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;
};

inline void sleep_ms(int64_t ms) {
  clock().sleep_ms(ms);
}

inline bool sleep_ms_unless(int64_t ms, StopSignal& stop) {
  return clock().sleep_ms_unless(ms, stop);
}

}  // namespace platform
