#pragma once

#include <cstdint>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace station {

// How a recorded run counts: a module that passed, a module that failed, or neither (the run was
// stopped, the update file could not be read or its name stored, the AT port did not open).
enum class RunKind { passed, failed, other };

// The kind of a run by its result code; none is a START whose AT port did not open.
RunKind run_kind(std::optional<int> result);

struct RunsRecord;

// The end time and the result of a record of a runs file, as every reader of the records takes
// them: the end's instant (ISO 8601 with its offset) and the result code (none when empty: the AT
// port did not open). False when either does not read: the record is damaged.
bool record_end_and_result(const RunsRecord& record, std::time_t* end, std::optional<int>* result);

// Today's runs by kind, the local date of platform::clock(). At start-up they are counted from
// today's records in the runs file, so a restart keeps them; then every run whose record is written
// is added by its worker, after its record and before its result is sent (a run whose record could
// not be written is not in the file, and is not counted). At local midnight they start again from
// 0: each addition and each reading compares the date with the day counted. Thread-safe: the
// workers add, the window or the runner reads, at any time.
class DayTotals {
 public:
  struct Counts {
    int passed = 0;
    int failed = 0;
    int other = 0;     // neither a pass nor a module's failure (RunKind::other)
    std::string date;  // the local date they count, "2026-12-09"
  };

  // Counts today's runs in the runs file `path`, streaming: the records whose end time falls on
  // today's local date, by the kind of their result. The columns are found by the names of the
  // file's header line (before any header, those of run_header_line). A line that is not a whole
  // record of the file's columns (damaged, cut, foreign, the header) is skipped. The counts are
  // replaced, so call it before any run starts. A missing file counts nothing. False, with the
  // reason in `why`, when the file exists but cannot be read, or is a symbolic link (whose records
  // are not this bench's).
  bool count_file(const std::string& path, std::string* why = nullptr);
  // The same over several runs files (the runs file and those retired today), each read by the
  // columns its own header names.
  bool count_files(const std::vector<std::string>& paths, std::string* why = nullptr);

  // Adds a run with `result` that ended at the local time `end`. A run that ended on a later date
  // than the day counted starts a new day; one that ended on an earlier date is not today's.
  void add(std::optional<int> result, const std::tm& end);

  int passed();
  int failed();
  int other();
  Counts counts();

  // A number that changes whenever the counts do (an addition, a recount, a new day noticed): the
  // window compares it with the one it showed.
  uint64_t changes();

 private:
  // Starts a new day when `today` is not the day counted. Called with the lock held.
  void follow(int today);

  std::mutex mutex_;
  int day_ = 0;    // year * 10000 + month * 100 + day
  Counts counts_;  // the date is set when read
  uint64_t changes_ = 0;
};

// The totals of this program, fed by every worker; they live as long as the program.
DayTotals& day_totals();

}  // namespace station
