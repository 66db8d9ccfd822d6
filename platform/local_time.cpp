#include "platform/local_time.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win/wide_text.h"
#else
#include <unistd.h>

#include <climits>
#endif

#include <cstdio>

namespace platform {

namespace {

// Days from 1970-01-01 to the civil date y-m-d of the proleptic Gregorian calendar.
long long days_from_civil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

}  // namespace

std::tm local_calendar_time(std::time_t t) {
  std::tm tm{};
#ifdef _WIN32
  ::localtime_s(&tm, &t);
#else
  ::localtime_r(&t, &tm);
#endif
  return tm;
}

std::time_t utc_instant(const std::tm& utc) {
  // Months out of range carry into the years, as timegm does.
  long long year = 1900LL + utc.tm_year + utc.tm_mon / 12;
  int month = utc.tm_mon % 12;
  if (month < 0) {
    month += 12;
    --year;
  }
  const long long days =
      days_from_civil(year, static_cast<unsigned>(month + 1), 1) + utc.tm_mday - 1;
  return static_cast<std::time_t>(days * 86400LL + utc.tm_hour * 3600LL + utc.tm_min * 60LL +
                                  utc.tm_sec);
}

long utc_offset_seconds(const std::tm& local) {
#ifdef _WIN32
  // The local fields read as UTC, less the instant they stand for.
  std::tm copy = local;
  const std::time_t instant = std::mktime(&copy);
  if (instant == static_cast<std::time_t>(-1)) return 0;
  return static_cast<long>(utc_instant(local) - instant);
#else
  return local.tm_gmtoff;
#endif
}

std::string host_name() {
#ifdef _WIN32
  wchar_t name[256];
  DWORD size = sizeof name / sizeof name[0];
  if (!::GetComputerNameExW(ComputerNameDnsHostname, name, &size)) return {};
  return win::narrow(std::wstring_view(name, size));
#else
  char text[HOST_NAME_MAX + 1] = {};
  if (::gethostname(text, sizeof text - 1) != 0) return {};
  return text;
#endif
}

std::string iso_local_time(std::time_t t) {
  std::tm local = local_calendar_time(t);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  long offset = utc_offset_seconds(local) / 60;
  char zone[48];
  std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+',
                (offset < 0 ? -offset : offset) / 60, (offset < 0 ? -offset : offset) % 60);
  return std::string(text) + zone;
}

}  // namespace platform
