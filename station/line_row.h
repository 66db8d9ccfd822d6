#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "station/run_record.h"
#include "station/runs_reader.h"

namespace station {

// A record of a runs file as a row of the line's table quillmark_runs: the table's columns are the
// runs file's (RunColumn), with their names, plus the station and the time it was shipped. An
// empty field is NULL, and so is a number or a time that the table would not take (its text stays
// in the runs file): a row never makes the database refuse the rows shipped with it.

// The table's type of each column of the runs file.
enum class LineType { uuid, time, integer, bigint, text };
LineType line_type(RunColumn column);

// The values of a row, by RunColumn: none is NULL. run_id is always set.
using LineRow = std::array<std::optional<std::string>, kRunColumnCount>;

// The row of `record`. A file without run_id gets ids derived from the record's number and text
// (derived_run_id). False when the record has no valid run_id in a file that has the column.
bool line_row(const RunsRecord& record, LineRow* row);

// A run id for a record of a file that has none, the same at every reading: a UUID made from the
// SHA-256 of the record's number, a line feed and its text, with the version nibble 8 and the
// variant bits 10 (RFC 9562's form for ids of one's own making). Two equal lines get two ids.
std::string derived_run_id(int64_t number, std::string_view text);

// Whether `text` is a UUID in its usual 8-4-4-4-12 hex form.
bool is_uuid(std::string_view text);
// Whether `text` is a time as the records write it, "2026-12-09T14:03:07+01:00" (a fraction of a
// second and "Z" taken too), of a real date.
bool is_record_time(std::string_view text);
// Whether `text` is a decimal integer within [min, max].
bool is_integer(std::string_view text, int64_t min, int64_t max);
// `text` as valid UTF-8 without NUL: each byte that is not part of a valid sequence becomes U+FFFD.
std::string valid_utf8(std::string_view text);

}  // namespace station
