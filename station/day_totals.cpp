#include "station/day_totals.h"

#include <cstdio>
#include <deque>
#include <string_view>
#include <vector>

#include "engine/module_slot.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/local_time.h"
#include "station/record_time.h"
#include "station/run_record.h"
#include "station/runs_csv.h"
#include "station/runs_reader.h"

namespace station {

namespace {

void add_to(DayTotals::Counts& counts, RunKind kind) {
  ++(kind == RunKind::passed   ? counts.passed
     : kind == RunKind::failed ? counts.failed
                               : counts.other);
}

int date_key(const std::tm& t) {
  return (t.tm_year + 1900) * 10000 + (t.tm_mon + 1) * 100 + t.tm_mday;
}

std::string date_text(int key) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", key / 10000, key / 100 % 100, key % 100);
  return text;
}

// The instant that an ISO 8601 time with its offset names, "2026-12-09T14:03:07+01:00" (a fraction
// of a second and "Z" are taken too). False when the text is not such a time.
bool instant_of(std::string_view text, std::time_t* instant) {
  RecordTime t;
  if (!read_record_time(text, &t) || t.offset_hours > 23 || t.offset_minutes > 59 || t.month < 1 ||
      t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 || t.second > 60)
    return false;
  const long offset = t.offset_sign * (t.offset_hours * 3600L + t.offset_minutes * 60L);
  std::tm utc{};
  utc.tm_year = t.year - 1900;
  utc.tm_mon = t.month - 1;
  utc.tm_mday = t.day;
  utc.tm_hour = t.hour;
  utc.tm_min = t.minute;
  utc.tm_sec = t.second;
  *instant = platform::utc_instant(utc) - offset;
  return true;
}

// Counts the records of `today`: their end on today's local date, by the kind of their result. A
// line that is not a whole record of the file's columns (damaged, cut, foreign) is not counted.
void count_record(const RunsRecord& record, int today, DayTotals::Counts& counts) {
  std::time_t ended;
  std::optional<int> result;
  if (!record_end_and_result(record, &ended, &result)) return;
  // The local date of the end, on today's calendar.
  if (date_key(platform::local_calendar_time(ended)) == today) add_to(counts, run_kind(result));
}

}  // namespace

bool record_end_and_result(const RunsRecord& record, std::time_t* end, std::optional<int>* result) {
  const std::string_view text = record.field(RunColumn::result);
  int code = 0;
  // An empty result is a START whose port did not open; any other is a number.
  if (text.size() > 9 || (!text.empty() && !fixed_digits(text, 0, text.size(), &code)) ||
      !instant_of(record.field(RunColumn::end), end))
    return false;
  *result = text.empty() ? std::nullopt : std::optional<int>(code);
  return true;
}

RunKind run_kind(std::optional<int> result) {
  if (!result || *result == engine::DL_PAUSED || *result == engine::DL_FILE_READ)
    return RunKind::other;
  return *result == engine::DL_OK ? RunKind::passed : RunKind::failed;
}

void DayTotals::follow(int today) {
  if (today == day_) return;
  day_ = today;
  counts_ = Counts{};
  ++changes_;
}

bool DayTotals::count_file(const std::string& path, std::string* why) {
  return count_files({path}, why);
}

bool DayTotals::count_files(const std::vector<std::string>& paths, std::string* why) {
  const int today = date_key(platform::clock().local_time());
  Counts counted;
  for (const std::string& path : paths) {
    RunsReader reader([&](const RunsRecord& record) { count_record(record, today, counted); });
    if (!read_runs_file(path, reader, why)) return false;
  }
  std::lock_guard lock(mutex_);
  day_ = today;
  counts_ = counted;
  ++changes_;
  return true;
}

void DayTotals::add(std::optional<int> result, const std::tm& end) {
  const int day = date_key(end);
  std::lock_guard lock(mutex_);
  if (day > day_) follow(day);
  if (day < day_) return;
  add_to(counts_, run_kind(result));
  ++changes_;
}

int DayTotals::passed() {
  return counts().passed;
}

int DayTotals::failed() {
  return counts().failed;
}

int DayTotals::other() {
  return counts().other;
}

DayTotals::Counts DayTotals::counts() {
  const int today = date_key(platform::clock().local_time());
  std::lock_guard lock(mutex_);
  follow(today);
  Counts counts = counts_;
  counts.date = date_text(day_);
  return counts;
}

uint64_t DayTotals::changes() {
  const int today = date_key(platform::clock().local_time());
  std::lock_guard lock(mutex_);
  follow(today);
  return changes_;
}

DayTotals& day_totals() {
  static DayTotals totals;
  return totals;
}

}  // namespace station
