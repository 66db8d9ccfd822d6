#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/local_time.h"

namespace platform {

int64_t RealClock::now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void RealClock::sleep_ms(int64_t ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool RealClock::sleep_ms_unless(int64_t ms, StopSignal& stop) {
  return stop.wait_ms(ms);
}

std::tm RealClock::local_time() {
  std::time_t t = std::time(nullptr);
  return local_calendar_time(t);
}

namespace {
RealClock real_clock;
std::atomic<Clock*> current{&real_clock};
}  // namespace

Clock& clock() {
  return *current.load(std::memory_order_acquire);
}

void set_clock(Clock* c) {
  current.store(c ? c : &real_clock, std::memory_order_release);
}

}  // namespace platform
