#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace platform {

// A request to stop that a long wait can be woken by: raised from any thread, it ends every wait
// on it at once and stays raised until it is cleared.
class StopSignal {
 public:
  void raise();
  void clear();
  bool raised() const;

  // Waits until the signal is raised or `ms` milliseconds of real time have passed. True when
  // raised.
  bool wait_ms(int64_t ms);

 private:
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool raised_ = false;
};

}  // namespace platform
