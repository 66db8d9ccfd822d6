#include "config/device_table.h"

#include <algorithm>
#include <utility>

#include "engine/notifications.h"
#include "platform/atol_number.h"
#include "platform/files.h"

namespace config {

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads the regular file at `path` in pieces of 4096 bytes. False when it cannot be opened or read.
bool read_in_pieces(const char* path, DeviceTableParser& parser) {
  platform::File file = platform::File::open(path, platform::FileAccess::read);
  if (!file.is_open()) return false;
  platform::FileStatus st;
  bool ok = file.status(&st) && st.regular;
  char buffer[4096];
  while (ok) {
    long n = file.read(buffer, sizeof buffer);
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    parser.feed({buffer, static_cast<size_t>(n)});
  }
  file.close();
  if (ok) parser.finish();
  return ok;
}

}  // namespace

DeviceTable& device_table() {
  static DeviceTable table;
  return table;
}

DeviceTableParser::DeviceTableParser(DeviceTable& table) : table_(table) {
  if (DeviceRecord* r = record()) *r = DeviceRecord{};
}

// The record of the current line, or null when the table is full.
DeviceRecord* DeviceTableParser::record() {
  int count = table_.deviceCount;
  if (count < 0 || count >= kMaxDeviceRecords) return nullptr;
  return &table_.devices[static_cast<size_t>(count)];
}

void DeviceTableParser::feed(std::string_view text) {
  for (char c : text) {
    if (c == '\n') {
      end_line();
      continue;
    }
    line_open_ = true;
    if (c == ',' || c == ';') {
      end_field();
    } else {
      if (length_ < text_.size()) text_[length_] = c;
      ++length_;
    }
  }
}

void DeviceTableParser::finish() {
  if (line_open_) end_line();
}

void DeviceTableParser::end_field() {
  const int field = field_++;
  const size_t length = std::exchange(length_, 0);
  const std::string_view seen(text_.data(), std::min(length, text_.size()));
  DeviceRecord* r = record();
  if (!r) return;
  if (field > kMaxDeviceFields) {
    ++cut_fields_;
    return;
  }
  if (field == 1 || field == 3) {
    auto& to = field == 1 ? r->deviceName : r->deviceLabel;
    std::copy(seen.begin(), seen.end(), to.begin());  // the last byte stays zero
    if (length > seen.size()) ++cut_fields_;
    return;
  }
  const std::string_view number = seen.substr(0, kDeviceNumberChars);
  if (length > number.size()) ++cut_fields_;
  if (field == 2)
    r->deviceNumber = platform::atol_int32(number);
  else if (field % 2 == 0)
    parse_hex(number, &r->valuesA[static_cast<size_t>((field - 4) / 2)]);
  else
    parse_hex(number, &r->valuesB[static_cast<size_t>((field - 5) / 2)]);
}

void DeviceTableParser::end_line() {
  if (record())
    ++table_.deviceCount;
  else
    ++dropped_lines_;
  if (DeviceRecord* r = record()) *r = DeviceRecord{};
  field_ = 1;
  length_ = 0;
  line_open_ = false;
}

int read_cfgini_file() {
  DeviceTable fresh;
  DeviceTableParser parser(fresh);
  if (!read_in_pieces(kDeviceTableFileName, parser)) {
    engine::debug_trace("read_cfgini_file() read failed.");
    return 0;
  }
  if (parser.dropped_lines() > 0 || parser.cut_fields() > 0)
    engine::debug_trace(
        "read_cfgini_file() beyond the table's bounds: %d lines after record %d dropped, %d fields "
        "ignored or cut.",
        parser.dropped_lines(), kMaxDeviceRecords, parser.cut_fields());
  device_table() = fresh;
  engine::debug_trace("read_cfgini_file() read success.");
  return 1;
}

int parse_hex(std::string_view text, uint32_t* value) {
  uint32_t so_far = 0;
  bool any_digit = false;
  for (char c : text) {
    if (c == ' ' || c == '\t') {
      *value = so_far;
      continue;
    }
    int digit = hex_digit(c);
    if (digit < 0 || so_far > 0x0FFFFFFFu) return 0;
    so_far = so_far * 16 + static_cast<uint32_t>(digit);
    any_digit = true;
    *value = so_far;
  }
  return any_digit ? 1 : 0;
}

}  // namespace config
