#include "platform/virtual_clock.h"

#include "platform/local_time.h"

namespace platform {

int64_t& VirtualClock::line() {
  return lines_[std::this_thread::get_id()];
}

int64_t VirtualClock::now_ms() {
  std::lock_guard lock(mutex_);
  return line();
}

void VirtualClock::sleep_ms(int64_t ms) {
  if (ms <= 0) return;
  std::lock_guard lock(mutex_);
  line() += ms;
}

bool VirtualClock::sleep_ms_unless(int64_t ms, StopSignal& stop) {
  if (stop.raised()) return true;
  sleep_ms(ms);
  return false;
}

std::tm VirtualClock::local_time() {
  std::time_t t;
  {
    std::lock_guard lock(mutex_);
    t = wall_ + static_cast<std::time_t>(line() / 1000);
  }
  return local_calendar_time(t);
}

}  // namespace platform
