#include "station/runs_reader.h"

#include <algorithm>

#include "station/runs_csv.h"

namespace station {

namespace {

constexpr size_t kReadSize = 64 * 1024;

}  // namespace

RunsColumns::RunsColumns() {
  for (size_t k = 0; k < kRunColumnCount; ++k) at_[k] = k;
}

bool RunsColumns::from_header(const std::vector<std::string>& fields, size_t count,
                              RunsColumns* out) {
  RunsColumns found;
  found.at_.fill(kAbsent);
  found.count_ = count;
  for (size_t k = 0; k < count; ++k) {
    const auto name = std::find(kRunColumnNames.begin(), kRunColumnNames.end(), fields[k]);
    if (name != kRunColumnNames.end())
      found.at_[static_cast<size_t>(name - kRunColumnNames.begin())] = k;
  }
  if (!found.has(RunColumn::start) || !found.has(RunColumn::end) || !found.has(RunColumn::result))
    return false;
  *out = found;
  return true;
}

RunsReader::RunsReader(OnRecord on_record, OnSkipped on_skipped, int64_t offset,
                       int64_t records_before, RunsColumns columns)
    : on_record_(std::move(on_record)),
      on_skipped_(std::move(on_skipped)),
      columns_(columns),
      position_(offset),
      consumed_(offset),
      records_(records_before) {}

void RunsReader::feed(std::string_view bytes) {
  while (!bytes.empty()) {
    const size_t end = bytes.find('\n');
    const std::string_view part = bytes.substr(0, end);
    const int64_t part_end = position_ + static_cast<int64_t>(part.size());
    if (line_.empty() && !line_overlong_ && end != std::string_view::npos &&
        part.size() <= kRecordLimit) {
      add_line(part, position_, part_end + 1, false);  // a line within the piece: read where it is
    } else {
      if (line_.empty() && !line_overlong_) line_begin_ = position_;
      if (line_.size() + part.size() > kRecordLimit)
        line_overlong_ = true;
      else if (!line_overlong_)
        line_ += part;
      if (end == std::string_view::npos) {
        position_ = part_end;
        return;
      }
      add_line(line_, line_begin_, part_end + 1, line_overlong_);
      line_.clear();
      line_overlong_ = false;
    }
    position_ = part_end + 1;
    bytes.remove_prefix(end + 1);
  }
}

void RunsReader::finish(bool final) {
  // A last line without its line end is the one being written or cut by a crash: not a record.
  drain(final);
}

void RunsReader::add_line(std::string_view text, int64_t begin, int64_t end, bool overlong) {
  size_t quotes = 0;
  for (char c : text) quotes += c == '"';
  // Most lines are whole records of their own: read at once, never copied.
  if (pending_.empty() && !overlong && quotes % 2 == 0) {
    if (!take(text, begin, end)) skip(begin, end);
    return;
  }
  pending_.push_back({std::string(text), begin, end, overlong, quotes % 2 == 1});
  drain(false);
}

void RunsReader::drain(bool at_end) {
  while (!pending_.empty()) {
    size_t used = 0, bytes = 0;
    bool open = false, too_long = false;
    while (used < pending_.size()) {
      const Line& line = pending_[used++];
      bytes += line.text.size() + 1;
      open ^= line.odd_quotes;
      if (line.overlong || bytes > kRecordLimit || (open && used >= kRecordLineLimit)) {
        too_long = true;
        break;
      }
      if (!open) break;
    }
    if (open && !too_long && !at_end) return;  // the record goes on in lines not read yet
    if (!open && !too_long && take(used)) {
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(used));
      continue;
    }
    skip(pending_.front().begin, pending_.front().end);
    pending_.pop_front();
  }
}

bool RunsReader::take(size_t lines) {
  if (lines == 1) return take(pending_.front().text, pending_.front().begin, pending_.front().end);
  std::string joined = pending_.front().text;
  for (size_t k = 1; k < lines; ++k) joined += '\n' + pending_[k].text;
  return take(joined, pending_.front().begin, pending_[lines - 1].end);
}

// Reads `text` as a record of the current columns, or as a header line that names new ones.
bool RunsReader::take(std::string_view text, int64_t begin, int64_t end) {
  size_t n = 0;
  if (!split_csv_record(text, fields_, n)) return false;
  if (!RunsColumns::from_header(fields_, n, &columns_)) {
    if (n != columns_.count()) return false;
    ++records_;
    on_record_(RunsRecord{fields_, columns_, text, begin, end, records_});
  }
  consumed_ = end;
  return true;
}

void RunsReader::skip(int64_t begin, int64_t end) {
  if (on_skipped_) on_skipped_(begin, end);
  consumed_ = end;
}

bool read_runs(const platform::File& file, RunsReader& reader, bool final, std::string* why) {
  platform::FileStatus status;
  platform::FileError error;
  if (!file.status(&status, &error)) {
    if (why) *why = error.text;
    return false;
  }
  if (status.directory || !status.regular) {
    if (why) *why = status.directory ? "Is a directory" : "not a regular file";
    return false;
  }
  std::vector<char> buffer(kReadSize);
  // Everything after what the reader was fed before.
  int64_t at = reader.position();
  while (at < status.size) {
    const size_t size = static_cast<size_t>(std::min<int64_t>(status.size - at, kReadSize));
    if (!file.read_at(at, buffer.data(), size)) {
      if (why) *why = "read failed at byte " + std::to_string(at);
      return false;
    }
    reader.feed(std::string_view(buffer.data(), size));
    at += static_cast<int64_t>(size);
  }
  reader.finish(final);
  return true;
}

RunsColumns header_columns(const platform::File& file) {
  char buffer[4096];
  platform::FileStatus status;
  RunsColumns columns;
  if (!file.status(&status) || status.size <= 0) return columns;
  const size_t size = static_cast<size_t>(std::min<int64_t>(status.size, sizeof buffer));
  if (!file.read_at(0, buffer, size)) return columns;
  const std::string_view text(buffer, size);
  const size_t end = text.find('\n');
  if (end == std::string_view::npos) return columns;
  std::vector<std::string> fields;
  size_t n = 0;
  std::string_view line = text.substr(0, end);
  if (split_csv_record(line, fields, n)) RunsColumns::from_header(fields, n, &columns);
  return columns;
}

bool read_runs_file(const std::string& path, RunsReader& reader, std::string* why, bool* missing) {
  platform::FileError error;
  const platform::File file =
      platform::File::open(path, platform::FileAccess::read, &error, platform::FileLinks::refuse);
  if (missing) *missing = !file.is_open() && error.missing;
  if (!file.is_open()) {
    if (error.missing) return true;
    if (why) *why = error.text;
    return false;
  }
  return read_runs(file, reader, true, why);
}

}  // namespace station
