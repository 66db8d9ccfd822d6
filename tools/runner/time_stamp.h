#pragma once

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

#include "platform/local_time.h"

namespace runner {

// The local time `when` as ISO 8601 with seconds and the offset from UTC:
// "2026-12-08T23:30:01+01:00".
inline std::string local_time_stamp(
    std::chrono::system_clock::time_point when = std::chrono::system_clock::now()) {
  std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm local = platform::local_calendar_time(t);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  long offset = platform::utc_offset_seconds(local) / 60;
  char zone[48];
  std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+',
                (offset < 0 ? -offset : offset) / 60, (offset < 0 ? -offset : offset) % 60);
  return std::string(text) + zone;
}

}  // namespace runner
