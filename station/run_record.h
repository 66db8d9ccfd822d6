#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "engine/run_recorder.h"
#include "station/runs_csv.h"

namespace station {

// The record of every run: each run of a module, whatever its end, and each START whose AT port
// could not be opened, appends one line to runs.csv in the bench folder. The file is
// comma-separated text as RFC 4180 defines it (CR LF line ends, a field that holds a comma, a
// double quote, CR or LF is put in double quotes with its quotes doubled; runs_csv.h) and starts
// with a header line of the column names. Text fields are spreadsheet-safe (spreadsheet_safe).
constexpr const char* kRunsFileName = "runs.csv";

// The columns of runs.csv, in their order.
enum class RunColumn : int {
  start,        // local time the run began, ISO 8601 with the offset from UTC
  end,          // local time the run ended, the same way
  module,       // 1..6
  com,          // COM number of the AT port
  device,       // the device path the COM number led to
  id_path,      // udev's ID_PATH of that device: the socket it is plugged into
  serial,       // udev's ID_SERIAL_SHORT: the USB serial number
  file,         // the update file's path
  size,         // bytes loaded; empty when the file was not loaded
  sha256,       // of the bytes loaded, lower-case hex; empty when the file was not loaded
  result,       // the result code, 0 for a pass; empty when the AT port could not be opened
  cause,        // the cause of a failure in words (RunNotes::cause); empty on a plain pass
  duration_ms,  // from the start of the run to its end
  version,      // the tool's version
  host,         // the computer's host name
  run_id,       // a random UUID (version 4) made when the run began
  attempts,     // of the file sequence: 1, or 2 when it was retried; empty when there was no run
  imei,         // the module's IMEI, when it was asked and told it ([Station] Identify)
  revision,     // the module's firmware revision, likewise
  count
};
constexpr size_t kRunColumnCount = static_cast<size_t>(RunColumn::count);
constexpr std::array<std::string_view, kRunColumnCount> kRunColumnNames = {
    "start", "end",    "module",   "com",    "device",  "id_path",     "serial",
    "file",  "size",   "sha256",   "result", "cause",   "duration_ms", "version",
    "host",  "run_id", "attempts", "imei",   "revision"};

// `t` as "2026-12-09T14:03:07+01:00": the local time and its offset from UTC.
std::string iso_local_time(const std::tm& t);

// The readers find the columns by the names in the header line, so that columns added later at the
// end leave every reader working. A runs file whose header has no `run_id` was written before the
// run id, the attempts and the identity were recorded: at start-up it is renamed
// runs-until-<date>.csv (the local date of the renaming; "-2", "-3"... before ".csv" when that name
// is taken, never replacing a file) and a new runs file is started with the next record.
constexpr const char* kRetiredRunsPrefix = "runs-until-";

// The name runs-until-<date>.csv with `number` ("", "-2"...) beside the runs file `path`.
std::string retired_runs_path(const std::string& path, const std::string& date, int number);

// Renames the runs file `path` when its header line is an old one (no `run_id`), to the first free
// retired_runs_path of `date`; gives that path in `renamed`. A missing or empty file, or one whose
// header has `run_id`, is left as it is. Call it while holding the bench lock, before any run.
// False, with the reason in `why`, when the file could not be read or an old file could not be
// renamed; `old_columns_kept` then tells the latter.
bool retire_old_runs_file(const std::string& path, const std::string& date, std::string* renamed,
                          std::string* why, bool* old_columns_kept = nullptr);

// Whether a column holds text from outside (paths, names, causes): such fields are written
// spreadsheet-safe.
bool is_text_column(RunColumn column);

// The header line and a record's line, each with its CR LF. The record's line carries the tool's
// version and the host name.
std::string run_header_line();
std::string run_record_line(const engine::RunRecord& record);

// The SHA-256 of `size` bytes in lower-case hex.
std::string sha256_hex(const uint8_t* data, size_t size);

// The path of the runs file: runs.csv in the bench folder (the folder of the AT traffic logs, the
// working directory). Tests give another path; an empty one restores the bench folder's.
std::string runs_file_path();
void set_runs_file_path(std::string path);

// Appends `line` (a whole record with its line end) to the runs file `path`, durably: one write on
// a descriptor opened for appending, then fdatasync. A file that is absent or empty gets the header
// line in the same write; exactly one header appears however many threads and processes append at
// once (a lock within the process and an flock on the file). When the file ends in a record cut by
// a crash, the cut record is closed (cut_end_repair) and this one starts on a line of its own. A
// symbolic link in place of the file is refused ("is a symbolic link"): the record goes nowhere
// else. A write that fails leaves the file as it was. False, with the reason in words in `why`,
// when the record could not be written.
bool append_run_record(const std::string& path, std::string_view line, std::string* why);

// The records this program could not write: how many, and why (each reason once, in order).
struct UnwrittenRecords {
  int count = 0;
  std::string reasons;  // "Permission denied; is a symbolic link"
};
UnwrittenRecords unwritten_records();

// Writes the record to the runs file. Only a run that is in the file is added to the day's totals;
// a record that cannot be written is shown on the module's status line ("record not written:
// runs.csv: <reason>") and on the debug channel, and tallied. The engine's record sink.
bool record_run(const engine::ModuleSlot& slot, const engine::RunRecord& record, std::string* why);

// Makes the engine's runs recorded in the runs file (record_run as its sink), retires a runs file
// of the old header (retire_old_runs_file) and counts today's totals from the runs already
// recorded: in the runs file and in the files retired today. Called once, under the bench lock,
// before any run starts. False, with the reason in `why`, when the file could not be renamed or the
// totals could not be counted. A file of the old columns that could not be renamed then takes no
// record (each run says why, as for a record that could not be written); otherwise the runs are
// recorded all the same.
bool start_recording(std::string* why);

}  // namespace station
