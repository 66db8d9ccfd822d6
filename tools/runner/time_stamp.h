#pragma once

#include <chrono>
#include <string>

#include "platform/local_time.h"

namespace runner {

// The local time `when` as ISO 8601 with seconds and the offset from UTC:
// "2026-12-08T23:30:01+01:00".
inline std::string local_time_stamp(
    std::chrono::system_clock::time_point when = std::chrono::system_clock::now()) {
  return platform::iso_local_time(std::chrono::system_clock::to_time_t(when));
}

}  // namespace runner
