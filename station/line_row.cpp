#include "station/line_row.h"

#include <limits>

#include "platform/sha256.h"
#include "station/record_time.h"

namespace station {

namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool is_hex(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int days_in_month(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

LineType line_type(RunColumn column) {
  switch (column) {
    case RunColumn::run_id:
      return LineType::uuid;
    case RunColumn::start:
    case RunColumn::end:
      return LineType::time;
    case RunColumn::module:
    case RunColumn::com:
    case RunColumn::result:
    case RunColumn::attempts:
      return LineType::integer;
    case RunColumn::size:
    case RunColumn::duration_ms:
      return LineType::bigint;
    default:
      return LineType::text;
  }
}

bool line_row(const RunsRecord& record, LineRow* row) {
  for (size_t c = 0; c < kRunColumnCount; ++c) {
    std::optional<std::string>& value = (*row)[c];
    value.reset();
    const std::string_view field = record.field(static_cast<RunColumn>(c));
    if (field.empty()) continue;
    bool fits = false;
    switch (line_type(static_cast<RunColumn>(c))) {
      case LineType::uuid:
        fits = is_uuid(field);
        break;
      case LineType::time:
        fits = is_record_time(field);
        break;
      case LineType::integer:
        fits = is_integer(field, std::numeric_limits<int32_t>::min(),
                          std::numeric_limits<int32_t>::max());
        break;
      case LineType::bigint:
        fits = is_integer(field, std::numeric_limits<int64_t>::min(),
                          std::numeric_limits<int64_t>::max());
        break;
      case LineType::text:
        value = valid_utf8(field);
        continue;
    }
    if (fits) value = std::string(field);
  }
  std::optional<std::string>& id = (*row)[static_cast<size_t>(RunColumn::run_id)];
  if (record.columns.has(RunColumn::run_id)) return id.has_value();
  std::string_view text = record.text;
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  id = derived_run_id(record.number, text);
  return true;
}

std::string derived_run_id(int64_t number, std::string_view text) {
  const std::string input = std::to_string(number) + '\n' + std::string(text);
  std::string hex =
      platform::sha256_hex(reinterpret_cast<const uint8_t*>(input.data()), input.size());
  hex.resize(32);
  static constexpr char kHex[] = "0123456789abcdef";
  auto nibble = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
  hex[12] = '8';                                  // the version
  hex[16] = kHex[(nibble(hex[16]) & 0x3) | 0x8];  // the variant: 10xx
  return hex.substr(0, 8) + '-' + hex.substr(8, 4) + '-' + hex.substr(12, 4) + '-' +
         hex.substr(16, 4) + '-' + hex.substr(20, 12);
}

bool is_uuid(std::string_view text) {
  if (text.size() != 36) return false;
  for (size_t k = 0; k < text.size(); ++k) {
    const bool dash = k == 8 || k == 13 || k == 18 || k == 23;
    if (dash ? text[k] != '-' : !is_hex(text[k])) return false;
  }
  return true;
}

bool is_record_time(std::string_view text) {
  RecordTime t;
  return read_record_time(text, &t) && t.fraction_digits <= 6 && t.offset_hours <= 15 &&
         t.offset_minutes <= 59 && t.year >= 1 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
         t.day <= days_in_month(t.year, t.month) && t.hour <= 23 && t.minute <= 59 &&
         t.second <= 59;
}

bool is_integer(std::string_view text, int64_t min, int64_t max) {
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  if (text.empty() || text.size() > 19) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (!is_digit(c)) return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (negative) return min < 0 && value <= static_cast<uint64_t>(-(min + 1)) + 1;
  return max >= 0 && value <= static_cast<uint64_t>(max);
}

std::string valid_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t k = 0; k < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[k]);
    size_t length = 0;
    uint32_t low = 0;
    if (c >= 0x01 && c < 0x80)
      length = 1;
    else if (c >= 0xC2 && c < 0xE0)
      length = 2, low = 0x80;
    else if (c >= 0xE0 && c < 0xF0)
      length = 3, low = 0x800;
    else if (c >= 0xF0 && c < 0xF5)
      length = 4, low = 0x10000;
    bool valid = length > 0 && k + length <= text.size();
    uint32_t code = length <= 1 ? c : c & (0x3F >> (length - 1));  // 0: not a first byte
    for (size_t m = 1; valid && m < length; ++m) {
      const unsigned char next = static_cast<unsigned char>(text[k + m]);
      valid = (next & 0xC0) == 0x80;
      code = code << 6 | (next & 0x3F);
    }
    valid = valid && code >= low && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
    if (valid) {
      out.append(text.substr(k, length));
      k += length;
    } else {
      out += "\xEF\xBF\xBD";
      ++k;
    }
  }
  return out;
}

}  // namespace station
