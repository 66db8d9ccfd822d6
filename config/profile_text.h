#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace config {

// The text of a private-profile (INI) file, parsed into lines, with the lookup and the in-place
// edit that settings written by hand or on other machines rely on:
// - "[name]" opens a section; a key line is "key=value"; section and key names match without
//   regard to ASCII case; blanks around names and values do not count;
// - a value enclosed in matching quotes (" or ') reads without them;
// - comment lines (";") and lines that are neither sections nor keys are kept and never read;
//   keys before the first section belong to no section;
// - a key is looked for in every section of the name, in file order: the first one wins.
// The text is held as bytes; nothing is translated.
class ProfileText {
 public:
  ProfileText() = default;
  explicit ProfileText(std::string text);

  const std::string& text() const { return text_; }

  // The value of the first `key` in a section named `section`, or nothing.
  std::optional<std::string_view> find(std::string_view section, std::string_view key) const;

  // Sets `key` of `section` to `value`: replaces the value of the first matching key in place
  // (keeping the spelling of the names and the line end), or adds the key after the last key of
  // the first section of that name, or appends the section at the end. Every other byte stays as
  // it was; new lines take the text's line-end style (CRLF or LF). A value that would not read back
  // as itself (blanks at its ends, enclosing quotes) is written in double quotes. False, with the
  // text unchanged, when a name or the value cannot be written as one line (see below).
  bool set(std::string_view section, std::string_view key, std::string_view value);

  // Names and values that can be written so that they read back unchanged.
  static bool writable_section(std::string_view section);
  static bool writable_key(std::string_view key);
  static bool writable_value(std::string_view value);

  // Every (section, key) pair in file order, duplicates included (the fuzzer's oracle uses it).
  struct Entry {
    std::string_view section;
    std::string_view key;
  };
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
