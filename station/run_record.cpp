#include "station/run_record.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

#include "engine/at_log.h"
#include "engine/notifications.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/local_time.h"
#include "platform/sha256.h"
#include "station/day_totals.h"
#include "station/line_records.h"

namespace station {

namespace {

std::mutex path_mutex;
std::string path_override;

// One append at a time within the process; the file's lock orders the processes.
std::mutex append_mutex;

std::mutex unwritten_mutex;
UnwrittenRecords unwritten;

// Why records may not be appended: a runs file of the old columns that could not be renamed.
// Records of the new columns under its header would be read wrongly by every reader, so none is
// written there; each run says why instead.
std::mutex blocked_mutex;
std::string blocked_reason;

std::string records_blocked() {
  std::lock_guard lock(blocked_mutex);
  return blocked_reason;
}

const std::string& host_name() {
  static const std::string name = platform::host_name();
  return name;
}

std::string base_name(const std::string& path) {
  const size_t slash = path.find_last_of(platform::kPathSeparators);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string iso_local_time(const std::tm& t) {
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &t);
  const long offset = platform::utc_offset_seconds(t) / 60;
  const int magnitude = static_cast<int>((offset < 0 ? -offset : offset) % (100 * 60));
  char zone[16];
  std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', magnitude / 60,
                magnitude % 60);
  return std::string(text) + zone;
}

bool is_text_column(RunColumn column) {
  switch (column) {
    case RunColumn::device:
    case RunColumn::id_path:
    case RunColumn::serial:
    case RunColumn::file:
    case RunColumn::cause:
    case RunColumn::version:
    case RunColumn::host:
    case RunColumn::imei:
    case RunColumn::revision:
      return true;
    default:
      return false;
  }
}

std::string run_header_line() {
  std::string line;
  for (std::string_view name : kRunColumnNames) {
    if (!line.empty()) line += ',';
    line += name;
  }
  return line + "\r\n";
}

std::string run_record_line(const engine::RunRecord& r) {
  std::array<std::string, kRunColumnCount> fields;
  auto set = [&fields](RunColumn column, std::string value) {
    fields[static_cast<size_t>(column)] = std::move(value);
  };
  set(RunColumn::start, iso_local_time(r.start));
  set(RunColumn::end, iso_local_time(r.end));
  set(RunColumn::module, std::to_string(r.module));
  set(RunColumn::com, std::to_string(r.com));
  set(RunColumn::device, r.port.device);
  set(RunColumn::id_path, r.port.id_path);
  set(RunColumn::serial, r.port.serial);
  set(RunColumn::file, r.file);
  set(RunColumn::size, r.size ? std::to_string(*r.size) : std::string());
  set(RunColumn::sha256, r.sha256);
  set(RunColumn::result, r.result ? std::to_string(*r.result) : std::string());
  set(RunColumn::cause, r.cause);
  set(RunColumn::duration_ms, std::to_string(r.duration_ms));
  set(RunColumn::version, QUILL_VERSION);
  set(RunColumn::host, host_name());
  set(RunColumn::run_id, r.run_id);
  set(RunColumn::attempts, r.attempts > 0 ? std::to_string(r.attempts) : std::string());
  set(RunColumn::imei, r.identity.imei);
  set(RunColumn::revision, r.identity.revision);
  std::string line;
  for (size_t k = 0; k < kRunColumnCount; ++k) {
    if (k > 0) line += ',';
    const bool text = is_text_column(static_cast<RunColumn>(k));
    line += csv_field(text ? spreadsheet_safe(fields[k]) : fields[k]);
  }
  return line + "\r\n";
}

std::string sha256_hex(const uint8_t* data, size_t size) {
  return platform::sha256_hex(data, size);
}

std::string runs_file_path() {
  {
    std::lock_guard lock(path_mutex);
    if (!path_override.empty()) return path_override;
  }
  return engine::at_log_directory() + kRunsFileName;
}

void set_runs_file_path(std::string path) {
  std::lock_guard lock(path_mutex);
  path_override = std::move(path);
}

bool append_run_record(const std::string& path, std::string_view line, std::string* why) {
  platform::FileError error;
  auto fail = [why, &error](const char* step) {
    if (why) *why = step ? std::string(step) + ": " + error.text : error.text;
    return false;
  };
  std::unique_lock lock(append_mutex);
  // Read access too, for the end of the file. Opening never waits on a FIFO in its place; it is
  // refused below. A link in its place would send the record elsewhere.
  platform::File file = platform::File::open(path, platform::FileAccess::read_append, &error,
                                             platform::FileLinks::refuse);
  if (!file.is_open()) return fail(nullptr);
  platform::FileStatus st;
  if (!file.status(&st, &error)) return fail("fstat");
  if (!st.regular) {
    if (why) *why = "not a regular file";
    return false;
  }
  // Whether the file is empty is decided under the lock, so that one header appears however many
  // processes create the file at once.
  if (!file.lock(&error)) return fail("flock");
  if (!file.status(&st, &error)) return fail("fstat");

  // A record that a crash cut short stays a damaged record of its own; this one starts afresh.
  std::string data = st.size == 0
                         ? run_header_line()
                         : cut_end_repair(st.size, [&file](int64_t at, char* to, size_t n) {
                             return file.read_at(at, to, n);
                           });
  data += line;
  if (!file.write_all(data, &error)) {
    // Back to the lines that were whole; the lock still keeps every other writer out.
    file.truncate(st.size);
    return fail("write");
  }
  // The shipper of the line's records is woken while the lock is held, so that it never counts a
  // record both by reading it and by its wake.
  records_appended();
  // The record is in the file; the next writer may go on while this one waits for the disk.
  file.unlock();
  lock.unlock();
  if (!file.flush_to_disk(&error)) return fail("fdatasync");
  if (!file.close(&error)) return fail("close");
  return true;
}

UnwrittenRecords unwritten_records() {
  std::lock_guard lock(unwritten_mutex);
  return unwritten;
}

bool record_run(const engine::ModuleSlot& slot, const engine::RunRecord& record, std::string* why) {
  const std::string path = runs_file_path();
  const std::string blocked = records_blocked();
  if (!blocked.empty()) {
    *why = blocked;
  } else if (append_run_record(path, run_record_line(record), why)) {
    day_totals().add(record.result, record.end);
    return true;
  }
  const std::string status = "record not written: " + base_name(path) + ": " + *why;
  engine::report_status(slot, status.c_str());
  engine::debug_trace("record not written: %s: %s", path.c_str(), why->c_str());
  std::lock_guard lock(unwritten_mutex);
  ++unwritten.count;
  if (("; " + unwritten.reasons + "; ").find("; " + *why + "; ") == std::string::npos)
    unwritten.reasons += (unwritten.reasons.empty() ? "" : "; ") + *why;
  return false;
}

std::string retired_runs_path(const std::string& path, const std::string& date, int number) {
  const size_t slash = path.find_last_of(platform::kPathSeparators);
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  return folder + kRetiredRunsPrefix + date + (number > 1 ? "-" + std::to_string(number) : "") +
         ".csv";
}

bool retire_old_runs_file(const std::string& path, const std::string& date, std::string* renamed,
                          std::string* why, bool* old_columns_kept) {
  if (old_columns_kept) *old_columns_kept = false;
  platform::FileError error;
  platform::File file =
      platform::File::open(path, platform::FileAccess::read, &error, platform::FileLinks::refuse);
  if (!file.is_open()) {
    if (error.missing) return true;
    if (why) *why = error.text;
    return false;
  }
  // The header line: the first line, as far as a header reaches.
  char head[1024];
  const long n = file.read(head, sizeof head, &error);
  file.close();
  if (n < 0) {
    if (why) *why = error.text;
    return false;
  }
  if (n == 0) return true;
  std::string_view first(head, static_cast<size_t>(n));
  first = first.substr(0, first.find('\n'));
  std::vector<std::string> names;
  size_t count = 0;
  if (split_csv_record(first, names, count) &&
      std::find(names.begin(), names.begin() + static_cast<long>(count), "run_id") !=
          names.begin() + static_cast<long>(count))
    return true;
  for (int number = 1; number < 1000; ++number) {
    const std::string to = retired_runs_path(path, date, number);
    if (platform::rename_file_new(path, to, &error)) {
      if (renamed) *renamed = to;
      engine::debug_trace("%s had the old columns: renamed %s", path.c_str(), to.c_str());
      return true;
    }
    if (!error.exists) break;
  }
  if (why) *why = "not renamed: " + error.text;
  if (old_columns_kept) *old_columns_kept = true;
  return false;
}

bool start_recording(std::string* why) {
  engine::set_record_sink(record_run);
  const std::string path = runs_file_path();
  const std::string today = iso_local_time(platform::clock().local_time()).substr(0, 10);
  std::string renamed, not_renamed;
  bool old_columns_kept = false;
  const bool retired = retire_old_runs_file(path, today, &renamed, &not_renamed, &old_columns_kept);
  {
    std::lock_guard lock(blocked_mutex);
    blocked_reason = old_columns_kept ? "its older columns stay (" + not_renamed + ")" : "";
  }
  // The files retired today may hold today's runs: the one retired now, and those of a start
  // earlier today.
  std::vector<std::string> paths = {path};
  for (int number = 1; number < 1000; ++number) {
    const std::string retired_path = retired_runs_path(path, today, number);
    platform::FileError error;
    platform::File file = platform::File::open(retired_path, platform::FileAccess::read, &error,
                                               platform::FileLinks::refuse);
    if (!file.is_open() && error.missing) break;
    paths.push_back(retired_path);
  }
  const bool counted = day_totals().count_files(paths, why);
  if (!retired && why) *why = not_renamed + (counted ? "" : "; " + *why);
  return retired && counted;
}

}  // namespace station
