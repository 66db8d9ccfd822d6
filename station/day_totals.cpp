#include "station/day_totals.h"

#include <cstdio>
#include <deque>
#include <string_view>
#include <vector>

#include "engine/module_slot.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/local_time.h"
#include "station/run_record.h"
#include "station/runs_csv.h"

namespace station {

namespace {

// A record of the runs file is far shorter than this, and spans at most this many lines (a field
// with line breaks in it). Longer ones are damaged lines, so memory stays bounded whatever the file
// holds.
constexpr size_t kRecordLimit = 16 * 1024;
constexpr size_t kRecordLineLimit = 16;
constexpr size_t kReadSize = 64 * 1024;

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

bool digits(std::string_view text, size_t at, size_t count, int* value) {
  if (at + count > text.size()) return false;
  int v = 0;
  for (size_t k = at; k < at + count; ++k) {
    if (text[k] < '0' || text[k] > '9') return false;
    v = v * 10 + (text[k] - '0');
  }
  *value = v;
  return true;
}

// The instant that an ISO 8601 time with its offset names, "2026-12-09T14:03:07+01:00" (a fraction
// of a second and "Z" are taken too). False when the text is not such a time.
bool instant_of(std::string_view text, std::time_t* instant) {
  int year, month, day, hour, minute, second;
  if (!digits(text, 0, 4, &year) || text.size() < 20 || text[4] != '-' ||
      !digits(text, 5, 2, &month) || text[7] != '-' || !digits(text, 8, 2, &day) ||
      text[10] != 'T' || !digits(text, 11, 2, &hour) || text[13] != ':' ||
      !digits(text, 14, 2, &minute) || text[16] != ':' || !digits(text, 17, 2, &second))
    return false;
  size_t at = 19;
  if (text[at] == '.') {
    const size_t first = ++at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    if (at == first) return false;
  }
  long offset = 0;
  if (at + 1 == text.size() && text[at] == 'Z') {
    ++at;
  } else if (at + 6 == text.size() && (text[at] == '+' || text[at] == '-')) {
    int hours, minutes;
    if (!digits(text, at + 1, 2, &hours) || text[at + 3] != ':' ||
        !digits(text, at + 4, 2, &minutes) || hours > 23 || minutes > 59)
      return false;
    offset = (text[at] == '-' ? -1 : 1) * (hours * 3600L + minutes * 60L);
    at += 6;
  } else {
    return false;  // a time without its offset names no instant
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
    return false;
  std::tm utc{};
  utc.tm_year = year - 1900;
  utc.tm_mon = month - 1;
  utc.tm_mday = day;
  utc.tm_hour = hour;
  utc.tm_min = minute;
  utc.tm_sec = second;
  *instant = platform::utc_instant(utc) - offset;
  return true;
}

// Reads the lines of a runs file one after the other and counts the records of `today`. A record
// may span several lines (a quoted field with line breaks); a line that does not begin a whole
// record is skipped alone, and the lines after it are read afresh, so one damaged line (a cut
// record with an open quote) never hides the records after it.
class TodayCounter {
 public:
  explicit TodayCounter(int today) : today_(today) {}

  // A new file begins: until its header is read, the columns are this program's.
  void begin_file() { columns_ = Columns{}; }

  void add_line(std::string_view text, bool overlong) {
    size_t quotes = 0;
    for (char c : text) quotes += c == '"';
    // Most lines are whole records of their own: read at once, never copied.
    if (pending_.empty() && !overlong && quotes % 2 == 0) {
      count(text);
      return;
    }
    pending_.push_back({std::string(text), overlong, quotes % 2 == 1});
    drain(false);
  }
  void end() { drain(true); }

  DayTotals::Counts counts;

 private:
  struct Line {
    std::string text;
    bool overlong;
    bool odd_quotes;
  };

  void drain(bool at_end) {
    while (!pending_.empty()) {
      size_t used = 0, bytes = 0;
      bool open = false, too_long = false;
      while (used < pending_.size()) {
        const Line& line = pending_[used++];
        bytes += line.text.size() + 1;
        open ^= line.odd_quotes;
        if (line.overlong || bytes > kRecordLimit || (open && used >= kRecordLineLimit)) {
          too_long = true;
          break;
        }
        if (!open) break;
      }
      if (open && !too_long && !at_end) return;  // the record goes on in lines not read yet
      if (!open && !too_long && count(used)) {
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(used));
        continue;
      }
      pending_.pop_front();
    }
  }

  // Counts the record made of the first `lines` pending lines; false when it is not one.
  bool count(size_t lines) {
    if (lines == 1) return count(pending_.front().text);
    std::string joined = pending_.front().text;
    for (size_t k = 1; k < lines; ++k) joined += '\n' + pending_[k].text;
    return count(joined);
  }

  // Where the columns that are counted stand, and how many columns a record has.
  struct Columns {
    size_t start = static_cast<size_t>(RunColumn::start);
    size_t end = static_cast<size_t>(RunColumn::end);
    size_t result = static_cast<size_t>(RunColumn::result);
    size_t count = kRunColumnCount;
  };

  // Takes the columns from a header line: one that names start, end and result.
  bool read_header(size_t n) {
    Columns found;
    found.count = n;
    bool start = false, end = false, result = false;
    for (size_t k = 0; k < n; ++k) {
      const std::string& name = fields_[k];
      if (name == kRunColumnNames[static_cast<size_t>(RunColumn::start)])
        start = true, found.start = k;
      else if (name == kRunColumnNames[static_cast<size_t>(RunColumn::end)])
        end = true, found.end = k;
      else if (name == kRunColumnNames[static_cast<size_t>(RunColumn::result)])
        result = true, found.result = k;
    }
    if (!start || !end || !result) return false;
    columns_ = found;
    return true;
  }

  // Counts the record `text`; false when it is not one.
  bool count(std::string_view text) {
    size_t n = 0;
    if (!split_csv_record(text, fields_, n)) return false;
    if (n != columns_.count) return read_header(n);
    const std::string& result = fields_[columns_.result];
    int code = 0;
    std::time_t started, ended;
    // An empty result is a START whose port did not open; any other is a number.
    if (result.size() > 9 || (!result.empty() && !digits(result, 0, result.size(), &code)) ||
        !instant_of(fields_[columns_.start], &started) ||
        !instant_of(fields_[columns_.end], &ended))
      return read_header(n);
    // The local date of the end, on today's calendar.
    if (date_key(platform::local_calendar_time(ended)) == today_)
      add_to(counts, run_kind(result.empty() ? std::nullopt : std::optional<int>(code)));
    return true;
  }

  const int today_;
  Columns columns_;
  std::deque<Line> pending_;
  std::vector<std::string> fields_;
};

}  // namespace

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

namespace {

// Counts the runs file `path` into `counter`; see DayTotals::count_file.
bool count_into(TodayCounter& counter, const std::string& path, std::string* why) {
  counter.begin_file();
  platform::FileError error;
  platform::File file =
      platform::File::open(path, platform::FileAccess::read, &error, platform::FileLinks::refuse);
  if (!file.is_open() && !error.missing) {
    if (why) *why = error.text;
    return false;
  }
  if (file.is_open()) {
    platform::FileStatus st;
    std::string refused;
    if (!file.status(&st, &error))
      refused = error.text;
    else if (st.directory)
      refused = "Is a directory";
    else if (!st.regular)
      refused = "not a regular file";
    std::string line;
    bool overlong = false;
    std::vector<char> buffer(kReadSize);
    while (refused.empty()) {
      const long n = file.read(buffer.data(), buffer.size(), &error);
      if (n < 0) refused = error.text;
      if (n <= 0) break;
      std::string_view rest(buffer.data(), static_cast<size_t>(n));
      while (!rest.empty()) {
        const size_t end = rest.find('\n');
        const std::string_view part = rest.substr(0, end);
        if (line.empty() && !overlong && end != std::string_view::npos &&
            part.size() <= kRecordLimit) {
          counter.add_line(part, false);  // a line within the buffer: read where it is
          rest.remove_prefix(end + 1);
          continue;
        }
        if (line.size() + part.size() > kRecordLimit)
          overlong = true;
        else if (!overlong)
          line += part;
        if (end == std::string_view::npos) break;
        counter.add_line(line, overlong);
        line.clear();
        overlong = false;
        rest.remove_prefix(end + 1);
      }
    }
    file.close();
    if (!refused.empty()) {
      if (why) *why = refused;
      return false;
    }
    // A last line without its line end is the one a crash cut: not a record.
    counter.end();
  }
  return true;
}

}  // namespace

bool DayTotals::count_file(const std::string& path, std::string* why) {
  return count_files({path}, why);
}

bool DayTotals::count_files(const std::vector<std::string>& paths, std::string* why) {
  const int today = date_key(platform::clock().local_time());
  TodayCounter counter(today);
  for (const std::string& path : paths)
    if (!count_into(counter, path, why)) return false;
  std::lock_guard lock(mutex_);
  day_ = today;
  counts_ = counter.counts;
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
