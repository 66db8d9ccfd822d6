#include "engine/run_record.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>

#include "engine/at_log.h"
#include "engine/day_totals.h"
#include "engine/notifications.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/local_time.h"
#include "platform/sha256.h"

namespace engine {

namespace {

std::mutex provider_mutex;
PortFactsProvider provider;

std::mutex path_mutex;
std::string path_override;

// One append at a time within the process; the file's lock orders the processes.
std::mutex append_mutex;

// The first status of each run under way that told of a failure, by slot.
std::mutex notes_mutex;
std::map<const ModuleSlot*, std::string> first_failures;

const std::string& host_name() {
  static const std::string name = platform::host_name();
  return name;
}

// A status text on one line: line ends inside become blanks, trailing blanks go.
std::string one_line(std::string_view text) {
  std::string s(text);
  std::replace(s.begin(), s.end(), '\r', ' ');
  std::replace(s.begin(), s.end(), '\n', ' ');
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::string take_first_failure(const ModuleSlot& slot) {
  std::lock_guard lock(notes_mutex);
  auto found = first_failures.find(&slot);
  return found == first_failures.end() ? std::string() : found->second;
}

}  // namespace

void set_port_facts_provider(PortFactsProvider p) {
  std::lock_guard lock(provider_mutex);
  provider = std::move(p);
}

PortFacts port_facts(int com) {
  PortFactsProvider p;
  {
    std::lock_guard lock(provider_mutex);
    p = provider;
  }
  return p && com > 0 ? p(com) : PortFacts{};
}

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

std::string csv_field(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string run_header_line() {
  std::string line;
  for (std::string_view name : kRunColumnNames) {
    if (!line.empty()) line += ',';
    line += name;
  }
  return line + "\r\n";
}

std::string run_record_line(const RunRecord& r) {
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
  set(RunColumn::result, std::to_string(r.result));
  set(RunColumn::cause, r.cause);
  set(RunColumn::duration_ms, std::to_string(r.duration_ms));
  set(RunColumn::version, QUILL_VERSION);
  set(RunColumn::host, host_name());
  std::string line;
  for (size_t k = 0; k < kRunColumnCount; ++k) {
    if (k > 0) line += ',';
    line += csv_field(fields[k]);
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
  return at_log_directory() + kRunsFileName;
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
  // Read access too, for the last byte. Opening never waits on a FIFO in its place; it is refused
  // below.
  platform::File file = platform::File::open(path, platform::FileAccess::read_append, &error);
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

  std::string data;
  if (st.size == 0) {
    data = run_header_line();
  } else {
    // A line that a crash cut short stays a damaged line of its own; this record starts afresh.
    char last = '\n';
    if (file.read_byte_at(st.size - 1, &last) && last != '\n') data = "\r\n";
  }
  data += line;
  if (!file.write_all(data, &error)) {
    // Back to the lines that were whole; the lock still keeps every other writer out.
    file.truncate(st.size);
    return fail("write");
  }
  // The record is in the file; the next writer may go on while this one waits for the disk.
  file.unlock();
  lock.unlock();
  if (!file.flush_to_disk(&error)) return fail("fdatasync");
  if (!file.close(&error)) return fail("close");
  return true;
}

bool status_tells_failure(std::string_view status) {
  const std::string s = one_line(status);
  return !s.empty() && s != "Prepare to download, please wait..." &&
         s != "Start downloading file..." && s != "download success!" && s != "download error!" &&
         s.rfind("Byte count match successful", 0) != 0 &&
         !(s.rfind("device", 0) == 0 && s.find("errcode=") != std::string::npos);
}

void note_run_status(const ModuleSlot& slot, std::string_view status) {
  if (!status_tells_failure(status)) return;
  std::lock_guard lock(notes_mutex);
  auto found = first_failures.find(&slot);
  if (found != first_failures.end() && found->second.empty()) found->second = one_line(status);
}

RunRecorder::RunRecorder(ModuleSlot& slot) : slot_(slot) {
  platform::Clock& clock = platform::clock();
  start_ = clock.local_time();
  start_ms_ = clock.now_ms();
  port_ = port_facts(slot.run.atPort);
  std::lock_guard lock(notes_mutex);
  first_failures[&slot_].clear();
}

RunRecorder::~RunRecorder() {
  std::lock_guard lock(notes_mutex);
  first_failures.erase(&slot_);
}

void RunRecorder::finish(int result) {
  if (finished_) return;
  finished_ = true;
  platform::Clock& clock = platform::clock();
  RunRecord record;
  record.start = start_;
  record.end = clock.local_time();
  record.duration_ms = std::max<int64_t>(0, clock.now_ms() - start_ms_);
  record.module = slot_.number();
  record.com = slot_.run.atPort;
  record.port = port_;
  record.file = slot_.run.filePath;
  // The bytes the run loaded and sent, whatever the file holds by now.
  if (slot_.fileData && slot_.fileSize > 0) {
    record.size = slot_.fileSize;
    record.sha256 = sha256_hex(slot_.fileData.get(), static_cast<size_t>(slot_.fileSize));
  }
  record.result = result;
  if (result != DL_OK) {
    record.cause = take_first_failure(slot_);
    if (record.cause.empty())
      record.cause =
          "device" + std::to_string(slot_.number()) + " errcode=" + std::to_string(result);
  }

  const std::string path = runs_file_path();
  std::string why;
  if (!append_run_record(path, run_record_line(record), &why)) {
    const std::string status =
        "record not written: " + path.substr(path.rfind('/') + 1) + ": " + why;
    report_status(slot_, status.c_str());
    debug_trace("record not written: %s: %s", path.c_str(), why.c_str());
  }
  day_totals().add(result == DL_OK, record.end);
}

}  // namespace engine
