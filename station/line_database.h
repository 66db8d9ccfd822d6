#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "station/pg_link.h"
#include "station/runs_file_scan.h"

namespace station {

// The line's table quillmark_runs and what the shipper asks of it.

// The version of the table's columns that this program writes (row 'quillmark_runs' of
// quillmark_schema).
constexpr int kLineSchemaVersion = 1;

// Makes the table when it is missing (two stations doing so at once are ordered by an advisory
// lock; a user who may not create tables works with one that exists), and checks that its version
// is one this program knows. False with the reason in words.
bool prepare_line_table(PgLink& link, int64_t limit_ms, std::string* why);

// Inserts the rows as records of `station`; a run id the table has is passed over. False with the
// reason in words.
bool insert_line_rows(PgLink& link, const std::string& station, const std::vector<RowAt>& rows,
                      int64_t limit_ms, std::string* why);

// The array literal of PostgreSQL that holds `values` (none: NULL).
std::string array_literal(const std::vector<const std::optional<std::string>*>& values);

// What quillmark-ports doctor tells of the database: on a made connection, one line per finding.
// False when records could not be shipped there.
bool inspect_line_database(PgLink& link, int64_t limit_ms, std::string* report);

}  // namespace station
