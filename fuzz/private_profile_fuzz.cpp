// The private-profile parser and its in-place edit on any bytes.
// Input: "section\0key\0value\0text"; without three NULs the whole input is the text, and the edit
// writes a path as the settings file's Browse does.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/profile_text.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

bool same_name(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

size_t line_count(std::string_view text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string_view section = "FilePath", key = "Path", value = "/srv/update.bin", text = input;
  std::string_view parts[3];
  size_t pos = 0;
  int found = 0;
  for (; found < 3; ++found) {
    size_t nul = input.find('\0', pos);
    if (nul == std::string_view::npos) break;
    parts[found] = input.substr(pos, nul - pos);
    pos = nul + 1;
  }
  if (found == 3) {
    section = parts[0];
    key = parts[1];
    value = parts[2];
    text = input.substr(pos);
  }

  const config::ProfileText before{std::string(text)};
  const auto entries = before.entries();
  std::vector<std::string> old_values;
  for (const auto& e : entries) {
    auto v = before.find(e.section, e.key);
    check(v.has_value());
    old_values.emplace_back(*v);
  }
  const bool existed = before.find(section, key).has_value();

  config::ProfileText after = before;
  const bool writable = config::ProfileText::writable_section(section) &&
                        config::ProfileText::writable_key(key) &&
                        config::ProfileText::writable_value(value);
  check(after.set(section, key, value) == writable);
  if (!writable) {
    check(after.text() == before.text());
    return 0;
  }

  // The value reads back as written, and every other entry reads as before.
  check(after.find(section, key) == value);
  for (size_t i = 0; i < entries.size(); ++i) {
    if (same_name(entries[i].section, section) && same_name(entries[i].key, key)) continue;
    check(after.find(entries[i].section, entries[i].key) == old_values[i]);
  }

  // A replaced value keeps the line structure; an added key or section only inserts bytes.
  const std::string& a = before.text();
  const std::string& b = after.text();
  if (existed) {
    check(line_count(a) == line_count(b));
  } else {
    check(b.size() > a.size());
    size_t prefix = 0;
    while (prefix < a.size() && a[prefix] == b[prefix]) ++prefix;
    size_t suffix = 0;
    while (suffix < a.size() - prefix && a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix])
      ++suffix;
    check(prefix + suffix == a.size());
  }

  // Writing the same value again changes nothing.
  config::ProfileText again = after;
  check(again.set(section, key, value));
  check(again.text() == after.text());
  return 0;
}
