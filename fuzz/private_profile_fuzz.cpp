// The private-profile parser and its in-place edit on any file bytes, through the file's encoding.
// Input: "section\0key\0value\0file"; without three NULs the whole input is the file, and the edit
// writes a path as the settings file's Browse does.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/profile_encoding.h"
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

// Line ends: LF, CR LF and a lone CR each count once.
size_t line_count(std::string_view text) {
  size_t n = 0;
  for (size_t i = 0; i < text.size(); ++i)
    n += text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'));
  return n;
}

// The lookup as the reader must do it: the first key of the name in the first section of the name.
struct Model {
  explicit Model(const config::ProfileText& t) : sections(t.sections()), entries(t.entries()) {}
  std::optional<std::string_view> find(std::string_view section, std::string_view key) const {
    size_t first = 0;
    while (first < sections.size() && !same_name(sections[first], section)) ++first;
    for (const auto& e : entries)
      if (e.section == first && same_name(e.key, key)) return e.value;
    return std::nullopt;
  }
  std::vector<std::string_view> sections;
  std::vector<config::ProfileText::Entry> entries;
};

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

  // The file's text converts back to the same bytes, unless it is UTF-16 that does not convert.
  const config::DecodedProfile decoded = config::decode_profile(text);
  if (decoded.exact) check(config::encode_profile(decoded.encoding, decoded.text) == text);

  const config::ProfileText before{decoded.text};
  const Model model(before);
  for (const auto& e : model.entries) {
    check(e.section < model.sections.size());
    check(before.find(model.sections[e.section], e.key) ==
          model.find(model.sections[e.section], e.key));
  }
  check(before.find(section, key) == model.find(section, key));
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
  check(Model(after).find(section, key) == value);
  for (const auto& e : model.entries) {
    std::string_view name = model.sections[e.section];
    if (same_name(name, section) && same_name(e.key, key)) continue;
    check(after.find(name, e.key) == before.find(name, e.key));
  }

  // The edited text goes back into the file's encoding and reads as edited; only UTF-16 refuses,
  // and only names or values that are not UTF-8.
  if (decoded.exact) {
    const auto file = config::encode_profile(decoded.encoding, after.text());
    check(file.has_value() || decoded.encoding == config::ProfileEncoding::utf16le ||
          decoded.encoding == config::ProfileEncoding::utf16be);
    if (file) {
      const config::DecodedProfile again = config::decode_profile(*file);
      check(again.exact && again.encoding == decoded.encoding && again.text == after.text());
    }
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
