#pragma once

#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>

namespace engine {

// The passes and failures of today, the local date of platform::clock(). At start-up they are
// counted from today's lines of the runs file, so a restart keeps them; then every finished run is
// added by its worker, after its record and before its result is sent. At local midnight they
// start again from 0: each addition and each reading compares the date with the day counted.
// Thread-safe: the workers add, the window or the runner reads, at any time.
class DayTotals {
 public:
  struct Counts {
    int passed = 0;
    int failed = 0;
    std::string date;  // the local date they count, "2026-12-09"
  };

  // Counts today's runs in the runs file `path`, streaming: the lines whose end time falls on
  // today's local date, a result of 0 passed and any other failed. A line that is not a whole
  // record of the file's columns (damaged, cut, foreign, the header) is skipped. The counts are
  // replaced, so call it before any run starts. A missing file counts nothing. False, with the
  // reason in `why`, when the file exists but cannot be read.
  bool count_file(const std::string& path, std::string* why = nullptr);

  // Adds a run that ended at the local time `end`. A run that ended on a later date than the day
  // counted starts a new day; one that ended on an earlier date is not today's.
  void add(bool passed, const std::tm& end);

  int passed();
  int failed();
  Counts counts();

  // A number that changes whenever the counts do (an addition, a recount, a new day noticed): the
  // window compares it with the one it showed.
  uint64_t changes();

 private:
  // Starts a new day when `today` is not the day counted. Called with the lock held.
  void follow(int today);

  std::mutex mutex_;
  int day_ = 0;  // year * 10000 + month * 100 + day
  int passed_ = 0;
  int failed_ = 0;
  uint64_t changes_ = 0;
};

// The totals of this program, fed by every worker; they live as long as the program.
DayTotals& day_totals();

}  // namespace engine
