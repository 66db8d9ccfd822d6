#pragma once

#include <cstdint>
#include <limits>
#include <string_view>

namespace platform {

// Reads a number the way the C library's atol does: leading white space is skipped, one optional
// sign is taken, digits are read up to the first other character, and a text without leading
// digits is 0. Unlike atol it never overflows: a value beyond the range saturates at its bound.
constexpr int64_t atol_number(std::string_view text) {
  size_t i = 0;
  auto is_space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (i < text.size() && is_space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  int64_t value = 0;  // kept negative for a negative number, so that the minimum fits
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    int digit = text[i] - '0';
    if (!negative) {
      value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    } else {
      constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
      value = value < (kMin + digit) / 10 ? kMin : value * 10 - digit;
    }
  }
  return value;
}

// The same, saturated to the range of a 32-bit field (port numbers, settling time, counts).
constexpr int32_t atol_int32(std::string_view text) {
  int64_t value = atol_number(text);
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

}  // namespace platform
