#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tools/log_reader/runs_report.h"

namespace log_reader {

// Where the yield report takes its runs from: the runs files of the bench folder, or the table
// quillmark_runs of the line's database. Either gives each run to `take` as RunFacts.
using TakeRun = std::function<void(const RunFacts&)>;

// The runs files of the working directory: runs.csv and the retired runs-until-*.csv beside it, in
// the order of their names (the retired ones first).
std::vector<std::string> runs_file_names();

// What reading the runs files met besides records.
struct FilesRead {
  std::vector<std::string> files;                        // the files read
  std::vector<std::pair<std::string, int64_t>> damaged;  // per file, the lines skipped (when any)
};

// Reads every runs file of the working directory, each by the columns its own header names, and
// gives each record to `take` with `station` as its station, or the record's host when `station`
// is empty. A line that is not a whole record is skipped and counted. False, with the reason in
// `why` ("runs.csv: Permission denied"), when a file is there but cannot be read.
bool read_runs_files(const std::string& station, const TakeRun& take, FilesRead* read,
                     std::string* why);

// Whether this build can read the database (the Windows build has no PostgreSQL client library).
bool database_supported();

// Connects to `conninfo` (within 10 s unless it sets connect_timeout) and gives each run of
// quillmark_runs that ended within `period` to `take`. False, with libpq's reason on one line in
// `why`, when the connection or the query fails.
bool read_runs_database(const std::string& conninfo, const Period& period, const TakeRun& take,
                        std::string* why);

}  // namespace log_reader
