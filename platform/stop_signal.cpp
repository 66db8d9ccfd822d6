#include "platform/stop_signal.h"

#include <chrono>

namespace platform {

void StopSignal::raise() {
  {
    std::lock_guard lock(mutex_);
    raised_ = true;
  }
  wake_.notify_all();
}

void StopSignal::clear() {
  std::lock_guard lock(mutex_);
  raised_ = false;
}

bool StopSignal::raised() const {
  std::lock_guard lock(mutex_);
  return raised_;
}

bool StopSignal::wait_ms(int64_t ms) {
  std::unique_lock lock(mutex_);
  if (ms > 0) wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return raised_; });
  return raised_;
}

}  // namespace platform
