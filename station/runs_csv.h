#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace station {

// The comma-separated text of the runs file, written and read in one place: fields as RFC 4180
// has them, the spreadsheet guard of text fields and its inverse, and the repair of a file end
// that a crash cut inside a record.

// One field as RFC 4180 writes it: in double quotes, quotes doubled, when it holds a comma, a
// double quote, CR or LF; as it is otherwise.
std::string csv_field(std::string_view text);

// A text field as a spreadsheet takes it as text: one more leading ' when it begins with '=', '+',
// '-', '@', a tab or a CR (a spreadsheet would run it as a formula), or with ' itself (so that the
// inverse is exact).
std::string spreadsheet_safe(std::string_view text);

// The inverse of spreadsheet_safe: a field that begins with ' followed by one of those characters
// or by ' loses exactly that one leading '. Every reader of the runs file reads fields through it.
std::string_view spreadsheet_text(std::string_view field);

// Splits the text of one record (its lines joined by LF, without its own line end) into the first
// `count` entries of `fields` as RFC 4180 reads them, each through spreadsheet_text. False when the
// text is not one whole record.
bool split_csv_record(std::string_view text, std::vector<std::string>& fields, size_t& count);

// Whether `text` begins a line that starts a record of the runs file: two times as the records
// write them ("2026-12-09T14:03:07+01:00,2026-12-09T14:03:08+01:00,"), or the header line.
bool begins_run_record(std::string_view text);

// Reads `size` bytes at `offset` of the file into `buffer`; false when it cannot.
using ReadAt = std::function<bool(int64_t offset, char* buffer, size_t size)>;

// How far back from the end the repair looks for the start of the last record, and the size of
// each read. A record is far shorter than the reach.
constexpr int64_t kRepairReach = 1 << 20;
constexpr size_t kRepairBlock = 4096;

// What to write at the end of a runs file of `size` bytes before the next record, so that the
// record starts a line of its own outside any quoted field, also for a strict reader: nothing when
// the file ends with a whole record; a closing double quote when a crash cut the last record inside
// a quoted field (the quotes are counted from the start of that record, which may span several
// lines); then the line end that is missing. The file is read back from its end in blocks, at most
// `reach` bytes: when no record starts within them, the quotes are counted from the first line that
// starts there (or from `reach` bytes before the end when no line does).
std::string cut_end_repair(int64_t size, const ReadAt& read_at, int64_t reach = kRepairReach);

}  // namespace station
