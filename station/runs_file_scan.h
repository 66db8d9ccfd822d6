#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "station/line_row.h"
#include "station/runs_reader.h"
#include "station/ship_position.h"

namespace station {

// Reading a runs file for the line's records: its complete records from a place on, in bounded
// pieces, each piece read under a shared lock of the file (the lock its writers take), so that a
// record being appended is never seen half and an append is never held up for more than a moment.

// How far a runs file has been read.
struct RunsCursor {
  std::string path;
  RunsColumns columns;         // by the file's header
  bool columns_known = false;  // read from the header (at offset 0 the reader reads it itself)
  int64_t offset = 0;          // after the last line decided
  int64_t number = 0;          // records so far (the header not counted)
  int64_t start = 0;           // where the last record starts
  std::string run_id;          // the last record's run id
};

struct RowAt {
  LineRow row;
  int64_t start = 0;
  int64_t end = 0;
  int64_t number = 0;
};

struct ScanResult {
  int64_t records = 0;  // records read
  int64_t skipped = 0;  // damaged lines skipped
  bool more = false;    // the piece was full: more may follow at once
  bool shrunk = false;  // the file is shorter than the cursor: it was replaced or cut
};

// Reads at most `max_bytes` from `cursor.offset` on, advancing the cursor past every line decided.
// Each record's row goes to `rows` (none: they are only counted). `final` tells that the file takes
// no more records (a retired one): the lines left open at its end are decided. False, with the
// reason in `why`, when the file cannot be read; a missing file is an empty one. `at_end` is
// called, still under the lock, when the piece read reaches the end of the file: no writer can add
// a record between the read and the call.
bool scan_runs_file(RunsCursor& cursor, size_t max_bytes, bool final, std::vector<RowAt>* rows,
                    ScanResult* result, std::string* why, const std::function<void()>& at_end = {});

// Whether `position` still names the record that ends there in the file: the same run id, and
// a line end just before the offset. On true `cursor` stands just after it.
bool resume_at(RunsCursor& cursor, const ShipPosition& position);

}  // namespace station
