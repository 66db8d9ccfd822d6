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

}  // namespace station
