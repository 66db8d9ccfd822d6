#pragma once

#include <cstdint>
#include <string>

namespace station {

// The line's records: every record of the runs file also in a PostgreSQL database that the
// stations of a line share (table quillmark_runs), as a second home of the record. The runs file
// stays the first and durable one: a record is shipped only after it is in the file, and the
// database being down, slow, refusing the login or full never delays, fails or changes a run.
//
// One shipper per program, on a thread of its own (never a worker, never the window's thread). It
// sends, in order and in batches, the complete records of the runs file and of the runs files
// retired beside it (runs-until-<date>.csv) that the database does not have yet, and remembers how
// far it got in a small file beside the runs file. Linux only: the Windows build has no PostgreSQL
// client library, and says so once.

// [Station] Database= and Name= of the bench's ZEBL.ini.
struct LineRecordSettings {
  std::string database;  // a libpq connection string or URI; empty: the records stay in the file
  std::string station_name;         // names the station in the records; empty: the host name
  int64_t answer_limit_ms = 20000;  // for each answer of the database (tests shorten it)
  int64_t retry_limit_ms = 30000;   // the longest wait before a new attempt (tests shorten it)
};

// Whether `database` may be used: it must parse as a connection string or URI, and name no
// password (passwords come from ~/.pgpass, PGPASSFILE or a service file, never from ZEBL.ini).
// False, with the reason in words in `why`. An empty setting is valid (shipping is off).
bool check_database_setting(const std::string& database, std::string* why);

// What the shipper is doing, for the window's strip, the runner's summary and --json.
struct ShippingStatus {
  bool on = false;           // a database is set and the shipper runs
  bool unsupported = false;  // a database is set but this build cannot ship (Windows)
  int64_t waiting = 0;       // complete records in the runs files that the database does not have
  std::string last_failure;  // why the last attempt failed, in words; empty after a success
  std::string reason;        // when not on although a database is set: why (refused, unsupported)
};

// Starts the shipper for the runs file (runs_file_path()) with `settings`, after start_recording.
// With no database set it does nothing and gives true. False, with the reason in `why` (also kept
// in ShippingStatus::reason), when the setting is refused or this build cannot ship; the runs are
// recorded in the file all the same.
bool start_shipping(const LineRecordSettings& settings, std::string* why);

// A record was appended to the runs file: wakes the shipper. Cheap; called by the record's writer.
void records_appended();

ShippingStatus shipping_status();

// Gives the shipper up to `max_ms` to send what waits, for a program about to end (the runner):
// returns as soon as nothing waits, when the shipper is not connected or its last attempt failed,
// or when no record was confirmed for half a second. True when nothing waits.
bool flush_shipping(int64_t max_ms);

// Stops the shipper at once: a connection being made or a query under way is abandoned (what was
// not confirmed is sent again by the next start). Called before the program ends; safe to call
// when it never started.
void stop_shipping();

// For quillmark-ports doctor: connects to `settings.database` within `timeout_ms`, checks that the
// table exists or can be created and that records can be inserted, and tells what it found in
// `report` (one line per finding). False when records could not be shipped there.
bool check_database(const LineRecordSettings& settings, int64_t timeout_ms, std::string* report);

}  // namespace station
