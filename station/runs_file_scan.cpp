#include "station/runs_file_scan.h"

#include <algorithm>

#include "platform/files.h"

namespace station {

namespace {

// The runs file `path` open for reading under its shared lock. Not open, with `missing` or the
// reason in `why`, when it cannot be.
platform::File open_locked(const std::string& path, bool* missing, std::string* why) {
  platform::FileError error;
  platform::File file =
      platform::File::open(path, platform::FileAccess::read, &error, platform::FileLinks::refuse);
  *missing = !file.is_open() && error.missing;
  if (!file.is_open()) {
    *why = error.text;
    return file;
  }
  platform::FileStatus st;
  if (!file.status(&st, &error) || !st.regular || !file.lock_shared(&error)) {
    *why = !st.regular && error.text.empty() ? "not a regular file" : error.text;
    return platform::File();
  }
  return file;
}

// Reads up to `max` bytes at `offset` of the locked `file`, and `size`, the file's size.
bool read_piece(platform::File& file, int64_t offset, size_t max, std::string* bytes, int64_t* size,
                std::string* why) {
  bytes->clear();
  platform::FileStatus st;
  platform::FileError error;
  if (!file.status(&st, &error)) {
    *why = error.text;
    return false;
  }
  *size = st.size;
  if (offset >= st.size) return true;
  bytes->resize(
      static_cast<size_t>(std::min<int64_t>(st.size - offset, static_cast<int64_t>(max))));
  if (!file.read_at(offset, bytes->data(), bytes->size())) {
    *why = "read failed at byte " + std::to_string(offset);
    return false;
  }
  return true;
}

}  // namespace

bool scan_runs_file(RunsCursor& cursor, size_t max_bytes, bool final, std::vector<RowAt>* rows,
                    ScanResult* result, std::string* why, const std::function<void()>& at_end) {
  *result = ScanResult{};
  bool missing = false;
  platform::File file = open_locked(cursor.path, &missing, why);
  if (!file.is_open()) {
    result->shrunk = missing && cursor.offset > 0;
    return missing;
  }
  if (!cursor.columns_known && cursor.offset > 0) {
    cursor.columns = header_columns(file);
    cursor.columns_known = true;
  }
  std::string bytes;
  int64_t size = 0;
  const bool read = read_piece(file, cursor.offset, max_bytes, &bytes, &size, why);
  if (read && at_end && cursor.offset + static_cast<int64_t>(bytes.size()) >= size) at_end();
  file.unlock();  // the records are parsed while the writers go on
  if (!read) return false;
  if (size < cursor.offset) {
    result->shrunk = true;
    return true;
  }
  LineRow row;
  RunsReader reader(
      [&](const RunsRecord& record) {
        if (!line_row(record, &row)) {
          ++result->skipped;  // no valid run id
          return;
        }
        cursor.start = record.begin;
        cursor.run_id = *row[static_cast<size_t>(RunColumn::run_id)];
        ++result->records;
        if (rows) rows->push_back({row, record.begin, record.end, record.number});
      },
      [&](int64_t, int64_t) { ++result->skipped; }, cursor.offset, cursor.number, cursor.columns);
  reader.feed(bytes);
  result->more =
      bytes.size() == max_bytes && cursor.offset + static_cast<int64_t>(max_bytes) < size;
  reader.finish(final && !result->more);
  cursor.number = reader.records();
  cursor.columns = reader.columns();
  cursor.columns_known = true;
  if (result->more && reader.consumed() == cursor.offset) {
    // A line longer than a whole piece: damaged, passed over.
    cursor.offset += static_cast<int64_t>(bytes.size());
    ++result->skipped;
  } else {
    cursor.offset = reader.consumed();
  }
  return true;
}

bool resume_at(RunsCursor& cursor, const ShipPosition& position) {
  const int64_t length = position.offset - position.start;
  if (position.start <= 0 || position.number < 1 || length <= 0 ||
      length > static_cast<int64_t>(RunsReader::kRecordLimit + RunsReader::kRecordLineLimit))
    return false;
  bool missing = false;
  std::string why, bytes;
  platform::File file = open_locked(cursor.path, &missing, &why);
  if (!file.is_open()) return false;
  const RunsColumns columns = header_columns(file);
  int64_t size = 0;
  if (!read_piece(file, position.start, static_cast<size_t>(length), &bytes, &size, &why) ||
      bytes.size() != static_cast<size_t>(length))
    return false;
  file.unlock();
  bool found = false;
  LineRow row;
  RunsReader reader(
      [&](const RunsRecord& record) {
        found = record.end == position.offset && line_row(record, &row) &&
                *row[static_cast<size_t>(RunColumn::run_id)] == position.run_id;
      },
      {}, position.start, position.number - 1, columns);
  reader.feed(bytes);
  reader.finish(false);
  if (!found || reader.records() != position.number) return false;
  cursor.columns = columns;
  cursor.columns_known = true;
  cursor.offset = position.offset;
  cursor.start = position.start;
  cursor.number = position.number;
  cursor.run_id = position.run_id;
  return true;
}

}  // namespace station
