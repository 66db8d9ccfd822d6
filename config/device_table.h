#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace config {

// The device table file, in the working directory.
constexpr const char* kDeviceTableFileName = "ZEBL.cfg";

constexpr int kMaxDeviceRecords = 20;
constexpr size_t kDeviceTextSize = 12;  // a name or label: 11 characters and a terminating zero
constexpr size_t kDeviceNumberChars = 10;
constexpr int kDeviceValuePairs = 10;
constexpr int kMaxDeviceFields = 3 + 2 * kDeviceValuePairs;

// One line of the file: "name,number,label,a0,b0,a1,b1,...", fields ended by ',' or ';'.
struct DeviceRecord {
  std::array<char, kDeviceTextSize> deviceName{};
  int32_t deviceNumber = 0;
  std::array<char, kDeviceTextSize> deviceLabel{};
  std::array<uint32_t, kDeviceValuePairs> valuesA{};
  std::array<uint32_t, kDeviceValuePairs> valuesB{};
};

struct DeviceTable {
  int32_t deviceCount = 0;  // records taken from the file
  std::array<DeviceRecord, kMaxDeviceRecords> devices{};
};

// The process-wide table, written only by read_cfgini_file.
DeviceTable& device_table();

// Reads the records of device table text into `table`, after the records it already holds. Every
// line, also an empty one, takes the next record, so record i comes from line i. The bounds hold
// whatever the text: records beyond the table are dropped, fields beyond the 23rd ignored, names
// and labels cut to 11 characters, numbers read from their first 10. Text may come in pieces of
// any size; memory use does not grow with the length of a line.
class DeviceTableParser {
 public:
  explicit DeviceTableParser(DeviceTable& table);

  void feed(std::string_view text);
  // Ends a last line that has no line end.
  void finish();

  int dropped_lines() const { return dropped_lines_; }
  int cut_fields() const { return cut_fields_; }

 private:
  DeviceRecord* record();
  void end_field();
  void end_line();

  DeviceTable& table_;
  int field_ = 1;                                 // the number of the field being read, from 1
  std::array<char, kDeviceTextSize - 1> text_{};  // the first characters of the field
  size_t length_ = 0;                             // characters of the field, also those not kept
  bool line_open_ = false;
  int dropped_lines_ = 0;
  int cut_fields_ = 0;
};

// Loads `ZEBL.cfg` of the working directory into the process-wide table, which then holds exactly
// the records of the file (each load starts from an empty table). 1 when the file was read to its
// end; 0 when it could not be opened or read, and the table is left as it was.
int read_cfgini_file();

// Reads hexadecimal digits (either case; blanks skipped) into `value`, which holds the value read
// so far after every digit and blank. Stops at any other character, and at a digit that would go
// beyond eight significant digits. 1 when at least one digit was read and nothing stopped the scan.
int parse_hex(std::string_view text, uint32_t* value);

}  // namespace config
