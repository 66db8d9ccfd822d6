#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace config {

// The text of a private-profile (INI) file, parsed into lines, with the lookup and the in-place
// edit that settings written by hand or on other machines rely on:
// - a line ends at LF, CR LF or a lone CR;
// - "[name]" opens a section; a key line is "key=value"; section and key names match without
//   regard to ASCII case; blanks around names and values do not count;
// - a value enclosed in matching quotes (" or ') reads without them;
// - comment lines (";") and lines that are neither sections nor keys are kept and never read;
//   keys before the first section belong to no section;
// - only the first section of a name is read or written: a later section of the same name is
//   kept but never seen; of duplicate keys in that section the first wins.
// The text is held as bytes; nothing is translated (see profile_encoding.h for the file's bytes).
class ProfileText {
 public:
  ProfileText() = default;
  explicit ProfileText(std::string text);

  const std::string& text() const { return text_; }

  // The value of the first `key` in the first section named `section`, or nothing.
  std::optional<std::string_view> find(std::string_view section, std::string_view key) const;

  // The value as the private-profile reader gives it: the value found, or else `default_value`
  // without its trailing blanks (its leading blanks stay).
  std::string_view find_or(std::string_view section, std::string_view key,
                           std::string_view default_value) const;

  // Sets `key` of the first section named `section` to `value`: replaces the value of its first
  // matching key in place (keeping the spelling of the names and the line end), or adds the key
  // after the section's last key, or appends the section at the end. Every other byte stays as it
  // was; new lines take the line-end style of the text's first line end (CR LF, LF or CR), and CR
  // LF when it has none. A value that would not read back as itself (blanks at its ends, enclosing
  // quotes) is written in double quotes. False, with the text unchanged, when a name or the value
  // cannot be written as one line (see below).
  bool set(std::string_view section, std::string_view key, std::string_view value);

  // Names and values that can be written so that they read back unchanged.
  static bool writable_section(std::string_view section);
  static bool writable_key(std::string_view key);
  static bool writable_value(std::string_view value);

  // Every section name and every key of a section, in file order, duplicates and the sections that
  // are never read included (the fuzzer's oracle uses them).
  struct Entry {
    size_t section;  // the index of its section in sections()
    std::string_view key;
    std::string_view value;
  };
  std::vector<std::string_view> sections() const;
  std::vector<Entry> entries() const;

 private:
  struct Line {
    enum class Kind { other, section, key };
    Kind kind = Kind::other;
    size_t begin = 0;       // first byte of the line
    size_t end = 0;         // end of the line's text, before its line end
    size_t next = 0;        // first byte after the line end
    size_t name_begin = 0;  // section or key name, blanks removed
    size_t name_end = 0;
    size_t value_begin = 0;  // the value text as written: after the '=' and the blanks after it
    size_t value_first = 0;  // the value as read: blanks and enclosing quotes removed
    size_t value_last = 0;
  };

  void parse();
  // The index of the first section line named `section`, or the number of lines.
  size_t first_section(std::string_view section) const;
  Line classify(size_t begin, size_t end, size_t next) const;
  std::string_view slice(size_t begin, size_t end) const {
    return {text_.data() + begin, end - begin};
  }
  std::string_view name_of(const Line& line) const { return slice(line.name_begin, line.name_end); }
  std::string line_end_style() const;
  std::string line_end_for_last_line() const;

  std::string text_;
  std::vector<Line> lines_;
};

}  // namespace config
