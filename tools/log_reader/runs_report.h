#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace log_reader {

// The yield report of quillmark-log runs: the recorded runs of a bench (its runs files) or of a
// line (the database its stations ship to), counted by kind per day, hour, station, module or
// update file. The same code groups the runs of either source, so both give the same report.

// What the report needs of one run.
struct RunFacts {
  std::time_t end = 0;        // when the run ended
  std::string station;        // the station that ran it
  int module = 0;             // 1..6; 0 when not told
  std::string file;           // the update file's path
  std::optional<int> result;  // none: a START whose AT port did not open
};

enum class GroupBy { day, hour, station, module, file };
enum class ReportFormat { table, csv, json };

// "day", "hour"...; and back (false for a name that is none).
std::string_view group_by_name(GroupBy by);
bool group_by_from_name(std::string_view name, GroupBy* by);

// The runs of a group by kind (station::run_kind).
struct RunCounts {
  int64_t passed = 0;
  int64_t failed = 0;
  int64_t other = 0;  // stops and the like: neither a pass nor a module's failure
  int64_t total() const { return passed + failed + other; }
  // passed / (passed + failed); none when there are neither. Other runs are left out.
  std::optional<double> yield() const;
};

// The runs whose end lies from `since` to `until`, both included (whole seconds); an open end
// when not given.
struct Period {
  std::optional<std::time_t> since;
  std::optional<std::time_t> until;
  bool contains(std::time_t t) const { return (!since || t >= *since) && (!until || t <= *until); }
};

// Reads a bound of the period: "YYYY-MM-DD" (as `since`, the start of that day; as `until`, its
// last second, so that the day is included), "YYYY-MM-DDTHH:MM[:SS]" or with a space for the T
// (that instant), each in the local time zone or in UTC with `utc`, or with an explicit offset
// ("Z", "+01:00", "+0100", "+01"); "today" and "yesterday" as dates, of the calendar at `now`.
// False, with the reason in `why`, for any other text.
bool parse_time_bound(std::string_view text, bool until, bool utc, std::time_t now,
                      std::time_t* bound, std::string* why);

// The options a report was made with, as the report tells them.
struct ReportOptions {
  GroupBy by = GroupBy::day;
  bool utc = false;  // days and hours in UTC rather than in the local time zone
  Period period;
  std::string source = "files";  // "files" or "database"
};

// Counts runs into groups.
class RunsReport {
 public:
  explicit RunsReport(const ReportOptions& options) : options_(options) {}

  // Counts `run` in its group; a run that ended outside the period is left out.
  void add(const RunFacts& run);

  struct Group {
    std::string label;  // "2026-12-09", "2026-12-09 14:00", a station's name, "3", a path
    int module = 0;     // for GroupBy::module
    RunCounts counts;
  };
  // The groups in order: days and hours as time goes, modules by number, stations and files by
  // name. An hour that the local clock repeats (the end of summer time) is two groups, each label
  // followed by its offset from UTC.
  std::vector<Group> groups() const;
  RunCounts total() const { return total_; }
  bool empty() const { return total_.total() == 0; }
  const ReportOptions& options() const { return options_; }

 private:
  struct Entry {
    std::string label;
    int module = 0;
    long offset = 0;  // of an hour's local time from UTC
    RunCounts counts;
  };
  ReportOptions options_;
  std::map<std::pair<int64_t, std::string>, Entry> groups_;
  RunCounts total_;
};

// A table for an 80-column terminal: a heading line that says the grouping, the time zone and the
// period, the column names, a line per group and a total line. A label too long for its column
// loses its middle ("/home/op/fir...s/update.bin"). Nothing when the report is empty.
void write_table(const RunsReport& report, std::ostream& out);
// RFC 4180 with CR LF line ends: a header line (the grouping's name, passed, failed, other, total,
// yield) and a line per group; the yield as a fraction with four decimals, empty when there is
// none. Text labels are spreadsheet-safe as in the runs file.
void write_csv(const RunsReport& report, std::ostream& out);
// One JSON object: the options (by, utc, since, until, source), "groups" (each with "group", the
// module's number for the modules, "passed", "failed", "other", "total" and "yield", a fraction or
// null) and "total".
void write_json(const RunsReport& report, std::ostream& out);

// `t` as "2026-12-09T14:03:07+01:00" in the local time zone, or "2026-12-09T13:03:07Z" in UTC.
std::string report_time(std::time_t t, bool utc);

}  // namespace log_reader
