#pragma once

#include <cstddef>
#include <string_view>

namespace station {

// The number that `count` decimal digits at `at` of `text` write ("2026" of a time). False when
// the text is shorter or one of them is not a digit.
inline bool fixed_digits(std::string_view text, size_t at, size_t count, int* value) {
  if (at + count > text.size()) return false;
  int v = 0;
  for (size_t k = at; k < at + count; ++k) {
    if (text[k] < '0' || text[k] > '9') return false;
    v = v * 10 + (text[k] - '0');
  }
  *value = v;
  return true;
}

// The parts of a time as the runs file writes it, ISO 8601 with its offset from UTC:
// "2026-12-09T14:03:07+01:00", also with a fraction of a second or "Z". Each reader judges the
// ranges it needs.
struct RecordTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  size_t fraction_digits = 0;
  int offset_hours = 0, offset_minutes = 0;
  int offset_sign = 1;  // -1 west of UTC
};

// Reads `text` as such a time; false when it is not one in form (a time without its offset names
// no instant, and is not one).
inline bool read_record_time(std::string_view text, RecordTime* t) {
  if (text.size() < 20 || !fixed_digits(text, 0, 4, &t->year) || text[4] != '-' ||
      !fixed_digits(text, 5, 2, &t->month) || text[7] != '-' ||
      !fixed_digits(text, 8, 2, &t->day) || text[10] != 'T' ||
      !fixed_digits(text, 11, 2, &t->hour) || text[13] != ':' ||
      !fixed_digits(text, 14, 2, &t->minute) || text[16] != ':' ||
      !fixed_digits(text, 17, 2, &t->second))
    return false;
  size_t at = 19;
  if (text[at] == '.') {
    const size_t first = ++at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    t->fraction_digits = at - first;
    if (t->fraction_digits == 0) return false;
  }
  if (at + 1 == text.size() && text[at] == 'Z') {
    t->offset_hours = t->offset_minutes = 0;
    t->offset_sign = 1;
    return true;
  }
  if (at + 6 != text.size() || (text[at] != '+' && text[at] != '-')) return false;
  t->offset_sign = text[at] == '-' ? -1 : 1;
  return fixed_digits(text, at + 1, 2, &t->offset_hours) && text[at + 3] == ':' &&
         fixed_digits(text, at + 4, 2, &t->offset_minutes);
}

}  // namespace station
