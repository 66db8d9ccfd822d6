// The device table parser on any bytes: the bounds hold, and pieces give the records of the whole.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "config/device_table.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

void parse(config::DeviceTable& table, std::string_view text, size_t piece) {
  config::DeviceTableParser parser(table);
  for (size_t at = 0; at < text.size(); at += piece) parser.feed(text.substr(at, piece));
  parser.finish();
}

bool same(const config::DeviceTable& a, const config::DeviceTable& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  config::DeviceTable whole;
  parse(whole, text, text.size() + 1);
  check(whole.deviceCount >= 0 && whole.deviceCount <= config::kMaxDeviceRecords);
  for (const config::DeviceRecord& r : whole.devices)
    check(r.deviceName.back() == '\0' && r.deviceLabel.back() == '\0');

  config::DeviceTable pieces;
  parse(pieces, text, 1 + size % 13);
  check(same(whole, pieces));

  // A second load into the same table (as without the rebuild) stops at the table's end.
  parse(whole, text, text.size() + 1);
  check(whole.deviceCount >= 0 && whole.deviceCount <= config::kMaxDeviceRecords);

  uint32_t value = 0;
  int result = config::parse_hex(text, &value);
  check(result == 0 || result == 1);
  return 0;
}
