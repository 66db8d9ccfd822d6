#pragma once

#include <ctime>
#include <string>

namespace platform {

// The calendar of the computer's time zone, the same on every system.

// The local date and time of the instant `t`.
std::tm local_calendar_time(std::time_t t);

// How far the local time `local` (as local_calendar_time or Clock::local_time gives it) is ahead of
// UTC, in seconds: 3600 for "+01:00".
long utc_offset_seconds(const std::tm& local);

// The local time of the instant `t` as ISO 8601 with seconds and the offset from UTC:
// "2026-12-08T23:30:01+01:00".
std::string iso_local_time(std::time_t t);

// The instant that the UTC date and time `utc` stand for (what gmtime gives back `utc` for).
std::time_t utc_instant(const std::tm& utc);

// The computer's host name; empty when it cannot be told.
std::string host_name();

}  // namespace platform
