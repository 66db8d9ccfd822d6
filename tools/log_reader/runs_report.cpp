#include "tools/log_reader/runs_report.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "platform/local_time.h"
#include "station/day_totals.h"
#include "station/record_time.h"
#include "station/runs_csv.h"

namespace log_reader {

namespace {

constexpr std::array<std::string_view, 5> kGroupNames = {"day", "hour", "station", "module",
                                                         "file"};

// The widest table line: an 80-column terminal shows it without wrapping.
constexpr size_t kTableWidth = 79;

std::tm utc_calendar_time(std::time_t t) {
  std::tm tm{};
#ifdef _WIN32
  ::gmtime_s(&tm, &t);
#else
  ::gmtime_r(&t, &tm);
#endif
  return tm;
}

std::tm calendar_time(std::time_t t, bool utc) {
  return utc ? utc_calendar_time(t) : platform::local_calendar_time(t);
}

// The instant of the calendar time `fields` (days and months out of range carry over), in UTC or
// in the local time zone. A local time that the clock skips (the start of summer time) is taken
// as the clock reads it an hour on.
std::time_t instant_of(std::tm fields, bool utc) {
  if (utc) return platform::utc_instant(fields);
  fields.tm_isdst = -1;
  return std::mktime(&fields);
}

std::string offset_text(long offset) {
  char text[32];
  const long a = offset < 0 ? -offset : offset;
  std::snprintf(text, sizeof text, "%c%02ld:%02ld", offset < 0 ? '-' : '+', a / 3600, a / 60 % 60);
  return text;
}

std::string calendar_text(const std::tm& t, const char* format) {
  char text[64];
  std::snprintf(text, sizeof text, format, t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                t.tm_min, t.tm_sec);
  return text;
}

int days_in_month(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// "YYYY-MM-DD" at the start of `text` into `date`; false when it is not a date of the calendar.
bool read_date(std::string_view text, std::tm* date) {
  int year, month, day;
  if (!station::fixed_digits(text, 0, 4, &year) || text.size() < 10 || text[4] != '-' ||
      !station::fixed_digits(text, 5, 2, &month) || text[7] != '-' ||
      !station::fixed_digits(text, 8, 2, &day))
    return false;
  if (year < 1970 || month < 1 || month > 12 || day < 1 || day > days_in_month(year, month))
    return false;
  *date = std::tm{};
  date->tm_year = year - 1900;
  date->tm_mon = month - 1;
  date->tm_mday = day;
  return true;
}

// An offset from UTC: "Z", "+01:00", "+0100" or "+01"; false for anything else.
bool read_offset(std::string_view text, long* offset) {
  if (text == "Z" || text == "z") {
    *offset = 0;
    return true;
  }
  if (text.empty() || (text[0] != '+' && text[0] != '-')) return false;
  int hours = 0, minutes = 0;
  const bool ok = (text.size() == 3 && station::fixed_digits(text, 1, 2, &hours)) ||
                  (text.size() == 5 && station::fixed_digits(text, 1, 2, &hours) &&
                   station::fixed_digits(text, 3, 2, &minutes)) ||
                  (text.size() == 6 && station::fixed_digits(text, 1, 2, &hours) &&
                   text[3] == ':' && station::fixed_digits(text, 4, 2, &minutes));
  if (!ok || hours > 23 || minutes > 59) return false;
  *offset = (text[0] == '-' ? -1 : 1) * (hours * 3600L + minutes * 60L);
  return true;
}

// How many characters the UTF-8 `text` has: the columns a terminal gives it.
size_t columns(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

// `text` within `width` terminal columns (UTF-8 characters): its middle becomes "..." when it is
// longer; a third of what stays is its beginning, the rest its end (a path's file name).
std::string fit(const std::string& text, size_t width) {
  std::vector<size_t> starts;  // the byte where each character begins
  for (size_t k = 0; k < text.size(); ++k)
    if ((static_cast<unsigned char>(text[k]) & 0xC0) != 0x80) starts.push_back(k);
  if (starts.size() <= width) return text + std::string(width - starts.size(), ' ');
  if (width <= 3) return std::string(width, '.');
  const size_t head = (width - 3) / 3, tail = width - 3 - head;
  return text.substr(0, starts[head]) + "..." + text.substr(starts[starts.size() - tail]);
}

std::string yield_percent(const RunCounts& counts) {
  const std::optional<double> y = counts.yield();
  if (!y) return "-";
  char text[16];
  std::snprintf(text, sizeof text, "%.1f%%", *y * 100);
  return text;
}

nlohmann::json counts_json(const RunCounts& counts) {
  const std::optional<double> y = counts.yield();
  return {{"passed", counts.passed},
          {"failed", counts.failed},
          {"other", counts.other},
          {"total", counts.total()},
          {"yield", y ? nlohmann::json(*y) : nlohmann::json(nullptr)}};
}

}  // namespace

std::string_view group_by_name(GroupBy by) {
  return kGroupNames[static_cast<size_t>(by)];
}

bool group_by_from_name(std::string_view name, GroupBy* by) {
  for (size_t k = 0; k < kGroupNames.size(); ++k)
    if (kGroupNames[k] == name) {
      *by = static_cast<GroupBy>(k);
      return true;
    }
  return false;
}

std::optional<double> RunCounts::yield() const {
  if (passed + failed == 0) return std::nullopt;
  return static_cast<double>(passed) / static_cast<double>(passed + failed);
}

bool parse_time_bound(std::string_view text, bool until, bool utc, std::time_t now,
                      std::time_t* bound, std::string* why) {
  const std::string quoted = "'" + std::string(text) + "'";
  std::tm fields{};
  bool whole_day = false;
  if (text == "today" || text == "yesterday") {
    const std::tm today = calendar_time(now, utc);
    fields.tm_year = today.tm_year;
    fields.tm_mon = today.tm_mon;
    fields.tm_mday = today.tm_mday - (text == "yesterday");
    whole_day = true;
  } else if (!read_date(text, &fields)) {
    *why = quoted +
           " is not a date (YYYY-MM-DD), a date and time (YYYY-MM-DDTHH:MM[:SS]), "
           "today or yesterday";
    return false;
  } else if (text.size() == 10) {
    whole_day = true;
  }
  if (whole_day) {
    // The start of that day; for the end of a period, the last second before the next one.
    if (until) ++fields.tm_mday;
    *bound = instant_of(fields, utc) - (until ? 1 : 0);
    return true;
  }
  int hour, minute, second = 0;
  size_t at = 16;
  if ((text[10] != 'T' && text[10] != 't' && text[10] != ' ') ||
      !station::fixed_digits(text, 11, 2, &hour) || text.size() < 16 || text[13] != ':' ||
      !station::fixed_digits(text, 14, 2, &minute)) {
    *why = quoted + " is not a date and time: YYYY-MM-DDTHH:MM[:SS] (or a space for the T)";
    return false;
  }
  if (at < text.size() && text[at] == ':') {
    if (!station::fixed_digits(text, at + 1, 2, &second)) {
      *why = quoted + " has no seconds after its minutes' colon";
      return false;
    }
    at += 3;
  }
  if (hour > 23 || minute > 59 || second > 59) {
    *why = quoted + " is not a time of the day";
    return false;
  }
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  if (at == text.size()) {
    *bound = instant_of(fields, utc);
    return true;
  }
  long offset = 0;
  if (!read_offset(text.substr(at), &offset)) {
    *why = quoted + " ends in '" + std::string(text.substr(at)) +
           "', which is not an offset from UTC (Z, +01:00, -0500)";
    return false;
  }
  *bound = platform::utc_instant(fields) - offset;
  return true;
}

void RunsReport::add(const RunFacts& run) {
  if (!options_.period.contains(run.end)) return;
  std::pair<int64_t, std::string> key;
  Entry entry;
  switch (options_.by) {
    case GroupBy::day:
      key.second = calendar_text(calendar_time(run.end, options_.utc), "%04d-%02d-%02d");
      break;
    case GroupBy::hour: {
      // The hour is known by the instant it began, so that an hour the clock repeats stays two.
      const std::tm t = calendar_time(run.end, options_.utc);
      key.first = run.end - t.tm_min * 60 - t.tm_sec;
      key.second = calendar_text(t, "%04d-%02d-%02d %02d:00");
      entry.offset = options_.utc ? 0 : platform::utc_offset_seconds(t);
      break;
    }
    case GroupBy::station:
      key.second = run.station;
      break;
    case GroupBy::module:
      key.first = run.module;
      key.second = run.module >= 1 && run.module <= 6 ? std::to_string(run.module) : "-";
      entry.module = run.module;
      break;
    case GroupBy::file:
      key.second = run.file;
      break;
  }
  auto [it, added] = groups_.try_emplace(key, entry);
  if (added) it->second.label = key.second;
  RunCounts& counts = it->second.counts;
  switch (station::run_kind(run.result)) {
    case station::RunKind::passed:
      ++counts.passed, ++total_.passed;
      break;
    case station::RunKind::failed:
      ++counts.failed, ++total_.failed;
      break;
    case station::RunKind::other:
      ++counts.other, ++total_.other;
      break;
  }
}

std::vector<RunsReport::Group> RunsReport::groups() const {
  std::vector<Group> groups;
  std::vector<long> offsets;
  for (const auto& [key, entry] : groups_) {
    groups.push_back({entry.label, entry.module, entry.counts});
    offsets.push_back(entry.offset);
  }
  if (options_.by == GroupBy::hour) {
    // Hours in order whose labels are alike are the one the clock repeated.
    std::vector<bool> repeated(groups.size());
    for (size_t k = 1; k < groups.size(); ++k)
      if (groups[k].label == groups[k - 1].label) repeated[k] = repeated[k - 1] = true;
    for (size_t k = 0; k < groups.size(); ++k)
      if (repeated[k]) groups[k].label += " " + offset_text(offsets[k]);
  }
  return groups;
}

std::string report_time(std::time_t t, bool utc) {
  if (!utc) return platform::iso_local_time(t);
  return calendar_text(utc_calendar_time(t), "%04d-%02d-%02dT%02d:%02d:%02dZ");
}

void write_table(const RunsReport& report, std::ostream& out) {
  if (report.empty()) return;
  const ReportOptions& o = report.options();
  const std::vector<RunsReport::Group> groups = report.groups();
  const RunCounts total = report.total();

  // The heading: what is counted, in which time, over which period.
  auto when = [&](std::time_t t) {
    return calendar_text(calendar_time(t, o.utc), "%04d-%02d-%02d %02d:%02d:%02d");
  };
  std::string heading = "Runs by " + std::string(group_by_name(o.by)) +
                        (o.source == "database" ? " from the database" : "") + ", " +
                        (o.utc ? "UTC" : "local time");
  if (o.period.since && o.period.until)
    heading += ", " + when(*o.period.since) + " to " + when(*o.period.until);
  else if (o.period.since)
    heading += ", from " + when(*o.period.since);
  else if (o.period.until)
    heading += ", until " + when(*o.period.until);
  out << heading << "\n";

  const size_t number = std::max<size_t>(6, std::to_string(total.total()).size());
  const size_t numbers = 4 * (2 + number) + 2 + 6;
  size_t label = std::max<size_t>(group_by_name(o.by).size(), 5);
  for (const RunsReport::Group& g : groups) label = std::max(label, columns(g.label));
  label = std::min(label, kTableWidth > numbers + 8 ? kTableWidth - numbers : 8);

  auto line = [&](const std::string& name, const std::array<std::string, 5>& cells) {
    std::string text = fit(name, label);
    for (size_t k = 0; k < cells.size(); ++k) {
      const size_t width = k < 4 ? number : 6;
      text +=
          "  " + std::string(width > cells[k].size() ? width - cells[k].size() : 0, ' ') + cells[k];
    }
    out << text << "\n";
  };
  auto row = [&](const std::string& name, const RunCounts& c) {
    line(name, {std::to_string(c.passed), std::to_string(c.failed), std::to_string(c.other),
                std::to_string(c.total()), yield_percent(c)});
  };
  line(std::string(group_by_name(o.by)), {"passed", "failed", "other", "total", "yield"});
  for (const RunsReport::Group& g : groups) row(g.label, g.counts);
  row("total", total);
}

void write_csv(const RunsReport& report, std::ostream& out) {
  const bool text_labels =
      report.options().by == GroupBy::station || report.options().by == GroupBy::file;
  out << group_by_name(report.options().by) << ",passed,failed,other,total,yield\r\n";
  for (const RunsReport::Group& g : report.groups()) {
    const RunCounts& c = g.counts;
    std::string yield;
    if (const std::optional<double> y = c.yield()) {
      char text[16];
      std::snprintf(text, sizeof text, "%.4f", *y);
      yield = text;
    }
    out << station::csv_field(text_labels ? station::spreadsheet_safe(g.label) : g.label) << ','
        << c.passed << ',' << c.failed << ',' << c.other << ',' << c.total() << ',' << yield
        << "\r\n";
  }
}

void write_json(const RunsReport& report, std::ostream& out) {
  const ReportOptions& o = report.options();
  nlohmann::json groups = nlohmann::json::array();
  for (const RunsReport::Group& g : report.groups()) {
    nlohmann::json group = counts_json(g.counts);
    if (o.by == GroupBy::module && g.module >= 1 && g.module <= 6)
      group["group"] = g.module;
    else
      group["group"] = g.label;
    groups.push_back(std::move(group));
  }
  auto bound = [&](const std::optional<std::time_t>& t) {
    return t ? nlohmann::json(report_time(*t, o.utc)) : nlohmann::json(nullptr);
  };
  const nlohmann::json document = {
      {"by", group_by_name(o.by)},           {"utc", o.utc},       {"since", bound(o.period.since)},
      {"until", bound(o.period.until)},      {"source", o.source}, {"groups", std::move(groups)},
      {"total", counts_json(report.total())}};
  // Paths and names are UTF-8, but a damaged one must not end the report.
  out << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

}  // namespace log_reader
