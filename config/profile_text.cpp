#include "config/profile_text.h"

#include <utility>

namespace config {

namespace {

// Blanks around names and values. CR and LF end lines, so they never occur inside one.
bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

char ascii_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  return true;
}

bool is_quote(char c) {
  return c == '"' || c == '\'';
}

bool without_blank_ends(std::string_view name) {
  return name.empty() || (!is_blank(name.front()) && !is_blank(name.back()));
}

// The value as it is written after "key=": quoted when it would otherwise lose its end blanks or
// its enclosing quotes on reading.
std::string encode_value(std::string_view value) {
  bool quote = !value.empty() &&
               (is_blank(value.front()) || is_blank(value.back()) ||
                (value.size() >= 2 && is_quote(value.front()) && value.front() == value.back()));
  if (!quote) return std::string(value);
  std::string out;
  out.reserve(value.size() + 2);
  out += '"';
  out += value;
  out += '"';
  return out;
}

}  // namespace

ProfileText::ProfileText(std::string text) : text_(std::move(text)) {
  parse();
}

bool ProfileText::writable_section(std::string_view section) {
  return section.find_first_of("\r\n") == std::string_view::npos && without_blank_ends(section);
}

bool ProfileText::writable_key(std::string_view key) {
  return !key.empty() && key.find_first_of("\r\n=") == std::string_view::npos &&
         without_blank_ends(key) && key.front() != ';' && key.front() != '[';
}

bool ProfileText::writable_value(std::string_view value) {
  return value.find_first_of("\r\n") == std::string_view::npos;
}

void ProfileText::parse() {
  lines_.clear();
  size_t pos = 0;
  while (pos < text_.size()) {
    size_t end = text_.find_first_of("\r\n", pos);
    size_t next = end;
    if (end == std::string::npos)
      end = next = text_.size();
    else
      next += text_.compare(end, 2, "\r\n") == 0 ? 2 : 1;
    lines_.push_back(classify(pos, end, next));
    pos = next;
  }
}

size_t ProfileText::first_section(std::string_view section) const {
  size_t i = 0;
  while (i < lines_.size() &&
         !(lines_[i].kind == Line::Kind::section && same_name(name_of(lines_[i]), section)))
    ++i;
  return i;
}

ProfileText::Line ProfileText::classify(size_t begin, size_t end, size_t next) const {
  Line line;
  line.begin = begin;
  line.end = end;
  line.next = next;
  size_t first = begin;
  while (first < end && is_blank(text_[first])) ++first;
  if (first == end || text_[first] == ';') return line;

  auto trimmed = [this](size_t& b, size_t& e) {
    while (b < e && is_blank(text_[b])) ++b;
    while (e > b && is_blank(text_[e - 1])) --e;
  };

  if (text_[first] == '[') {
    size_t close = slice(first, end).rfind(']');
    if (close != std::string_view::npos && close > 0) {
      line.kind = Line::Kind::section;
      line.name_begin = first + 1;
      line.name_end = first + close;
      trimmed(line.name_begin, line.name_end);
      return line;
    }
  }

  size_t equals = slice(first, end).find('=');
  if (equals == std::string_view::npos) return line;
  line.name_begin = first;
  line.name_end = first + equals;
  trimmed(line.name_begin, line.name_end);
  if (line.name_begin == line.name_end) return line;  // "=value" names no key

  line.kind = Line::Kind::key;
  line.value_begin = first + equals + 1;
  while (line.value_begin < end && is_blank(text_[line.value_begin])) ++line.value_begin;
  line.value_first = line.value_begin;
  line.value_last = end;
  trimmed(line.value_first, line.value_last);
  if (line.value_last - line.value_first >= 2 && is_quote(text_[line.value_first]) &&
      text_[line.value_first] == text_[line.value_last - 1]) {
    ++line.value_first;
    --line.value_last;
  }
  return line;
}

std::optional<std::string_view> ProfileText::find(std::string_view section,
                                                  std::string_view key) const {
  for (size_t i = first_section(section) + 1; i < lines_.size(); ++i) {
    const Line& line = lines_[i];
    if (line.kind == Line::Kind::section) break;
    if (line.kind == Line::Kind::key && same_name(name_of(line), key))
      return slice(line.value_first, line.value_last);
  }
  return std::nullopt;
}

std::string_view ProfileText::find_or(std::string_view section, std::string_view key,
                                      std::string_view default_value) const {
  if (std::optional<std::string_view> value = find(section, key)) return *value;
  while (!default_value.empty() && is_blank(default_value.back())) default_value.remove_suffix(1);
  return default_value;
}

std::vector<std::string_view> ProfileText::sections() const {
  std::vector<std::string_view> out;
  for (const Line& line : lines_)
    if (line.kind == Line::Kind::section) out.push_back(name_of(line));
  return out;
}

std::vector<ProfileText::Entry> ProfileText::entries() const {
  std::vector<Entry> out;
  size_t sections = 0;
  for (const Line& line : lines_) {
    if (line.kind == Line::Kind::section)
      ++sections;
    else if (sections > 0 && line.kind == Line::Kind::key)
      out.push_back({sections - 1, name_of(line), slice(line.value_first, line.value_last)});
  }
  return out;
}

std::string ProfileText::line_end_style() const {
  size_t end = text_.find_first_of("\r\n");
  if (end == std::string::npos || text_.compare(end, 2, "\r\n") == 0) return "\r\n";
  return text_[end] == '\r' ? "\r" : "\n";
}

// What ends the text's last line before something is added after it. A last line that ends in a
// lone CR is complete; in a CR LF text it is made CR LF.
std::string ProfileText::line_end_for_last_line() const {
  if (text_.empty() || text_.back() == '\n') return {};
  std::string style = line_end_style();
  if (text_.back() == '\r') return style == "\r\n" ? "\n" : "";
  return style;
}

bool ProfileText::set(std::string_view section, std::string_view key, std::string_view value) {
  if (!writable_section(section) || !writable_key(key) || !writable_value(value)) return false;
  const std::string encoded = encode_value(value);
  const std::string eol = line_end_style();

  const size_t first = first_section(section);
  if (first == lines_.size()) {
    text_ += line_end_for_last_line() + "[" + std::string(section) + "]" + eol + std::string(key) +
             "=" + encoded + eol;
    parse();
    return true;
  }

  size_t after = first;  // the line the key goes after: the section's last key, or its header
  for (size_t i = first + 1; i < lines_.size() && lines_[i].kind != Line::Kind::section; ++i) {
    const Line& line = lines_[i];
    if (line.kind != Line::Kind::key) continue;
    if (same_name(name_of(line), key)) {
      text_.replace(line.value_begin, line.end - line.value_begin, encoded);
      parse();
      return true;
    }
    after = i;
  }

  std::string added = std::string(key) + "=" + encoded + eol;
  const size_t at = lines_[after].next;
  if (at == text_.size()) added.insert(0, line_end_for_last_line());
  text_.insert(at, added);
  parse();
  return true;
}

}  // namespace config
