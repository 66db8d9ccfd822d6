#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "station/run_record.h"

namespace station {

// Where the columns of a runs file stand, as its header line names them. Files written by older
// versions have fewer columns; a column the file does not have reads as empty.
class RunsColumns {
 public:
  static constexpr size_t kAbsent = static_cast<size_t>(-1);

  // This program's columns, for the lines before any header.
  RunsColumns();
  // The columns that a header line names: one that names start, end and result. False otherwise.
  static bool from_header(const std::vector<std::string>& fields, size_t count, RunsColumns* out);

  bool has(RunColumn column) const { return at_[static_cast<size_t>(column)] != kAbsent; }
  size_t index(RunColumn column) const { return at_[static_cast<size_t>(column)]; }
  size_t count() const { return count_; }

 private:
  std::array<size_t, kRunColumnCount> at_;
  size_t count_ = kRunColumnCount;
};

// One record read from a runs file, valid during the call that gives it.
struct RunsRecord {
  const std::vector<std::string>& fields;  // through spreadsheet_text: the texts as recorded
  const RunsColumns& columns;
  std::string_view text;  // the record as it stands in the file, lines joined by LF, no line end
  int64_t begin;          // byte offset of its first byte in the file
  int64_t end;            // byte offset after its line end
  int64_t number;         // 1 for the file's first record, the header not counted

  std::string_view field(RunColumn column) const {
    return columns.has(column) ? std::string_view(fields[columns.index(column)]) : "";
  }
};

// Reads the text of a runs file, fed in pieces in file order, and gives each whole record by the
// columns of the file's header. A record may span several lines (a quoted field with line breaks);
// a line that does not begin a whole record (damaged, cut by a crash, foreign) is skipped alone and
// the lines after it are read afresh, so one damaged line never hides the records after it. Memory
// stays bounded whatever the file holds: a record is far shorter than kRecordLimit.
class RunsReader {
 public:
  static constexpr size_t kRecordLimit = 16 * 1024;
  static constexpr size_t kRecordLineLimit = 16;

  using OnRecord = std::function<void(const RunsRecord&)>;
  // A skipped stretch of the file, [begin, end).
  using OnSkipped = std::function<void(int64_t begin, int64_t end)>;

  // Reading starts at byte `offset` of the file, after `records_before` records, with `columns`
  // (those of the file's header when the offset is past it).
  explicit RunsReader(OnRecord on_record, OnSkipped on_skipped = {}, int64_t offset = 0,
                      int64_t records_before = 0, RunsColumns columns = {});

  void feed(std::string_view bytes);
  // The file ends here. With `final`, lines still open (a quoted field not closed) are read as
  // damaged; without, they are left unread: a record being written or cut, read again later.
  void finish(bool final);

  // The offset up to which everything was read: the end of the last record or skipped stretch.
  int64_t consumed() const { return consumed_; }
  // The offset of the next byte to feed.
  int64_t position() const { return position_; }
  int64_t records() const { return records_; }
  const RunsColumns& columns() const { return columns_; }

 private:
  struct Line {
    std::string text;  // without its LF
    int64_t begin;
    int64_t end;  // after its LF
    bool overlong;
    bool odd_quotes;
  };

  void add_line(std::string_view text, int64_t begin, int64_t end, bool overlong);
  void drain(bool at_end);
  bool take(size_t lines);
  bool take(std::string_view text, int64_t begin, int64_t end);
  void skip(int64_t begin, int64_t end);

  OnRecord on_record_;
  OnSkipped on_skipped_;
  RunsColumns columns_;
  int64_t position_;  // the file offset of the next byte fed
  int64_t consumed_;
  int64_t records_;
  std::string line_;  // the line being gathered across pieces
  int64_t line_begin_ = 0;
  bool line_overlong_ = false;
  std::deque<Line> pending_;
  std::vector<std::string> fields_;
};

// Reads the open runs file `file` from `reader`'s offset to its end (as it is now) through
// `reader`, then finish(final). False, with the system's reason in `why`, when it cannot be read.
bool read_runs(const platform::File& file, RunsReader& reader, bool final, std::string* why);

// Opens the runs file `path` for reading (a symbolic link is refused: its records are not this
// bench's) and reads it all through `reader`. A missing file reads as empty; `missing` tells.
bool read_runs_file(const std::string& path, RunsReader& reader, std::string* why,
                    bool* missing = nullptr);

// The columns named by the header line at the start of the open runs file; this program's when it
// has none (empty, or written before the header line existed).
RunsColumns header_columns(const platform::File& file);

}  // namespace station
