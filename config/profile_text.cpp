#include "config/profile_text.h"

#include <utility>

namespace config {

namespace {

// Blanks around names and values; a line feed always ends the line.
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
  return section.find('\n') == std::string_view::npos && without_blank_ends(section);
}

bool ProfileText::writable_key(std::string_view key) {
  return !key.empty() && key.find_first_of("\n=") == std::string_view::npos &&
         without_blank_ends(key) && key.front() != ';' && key.front() != '[';
}

bool ProfileText::writable_value(std::string_view value) {
  return value.find('\n') == std::string_view::npos;
}

void ProfileText::parse() {
  lines_.clear();
  size_t pos = 0;
  while (pos < text_.size()) {
    size_t feed = text_.find('\n', pos);
    size_t next = feed == std::string::npos ? text_.size() : feed + 1;
    size_t end = feed == std::string::npos ? text_.size() : feed;
    if (end > pos && text_[end - 1] == '\r') --end;  // CRLF, or a CR before the end of the text
    lines_.push_back(classify(pos, end, next));
    pos = next;
  }
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
  bool inside = false;
  for (const Line& line : lines_) {
    if (line.kind == Line::Kind::section)
      inside = same_name(name_of(line), section);
    else if (inside && line.kind == Line::Kind::key && same_name(name_of(line), key))
      return slice(line.value_first, line.value_last);
  }
  return std::nullopt;
}

std::vector<ProfileText::Entry> ProfileText::entries() const {
  std::vector<Entry> out;
  const Line* section = nullptr;
  for (const Line& line : lines_) {
    if (line.kind == Line::Kind::section)
      section = &line;
    else if (section && line.kind == Line::Kind::key)
      out.push_back({name_of(*section), name_of(line)});
  }
  return out;
}

std::string ProfileText::line_end_style() const {
  size_t feed = text_.find('\n');
  return feed != std::string::npos && feed > 0 && text_[feed - 1] == '\r' ? "\r\n" : "\n";
}

// What ends the text's last line before something is added after it.
std::string ProfileText::line_end_for_last_line() const {
  if (text_.empty() || text_.back() == '\n') return {};
  return text_.back() == '\r' ? "\n" : line_end_style();
}

bool ProfileText::set(std::string_view section, std::string_view key, std::string_view value) {
  if (!writable_section(section) || !writable_key(key) || !writable_value(value)) return false;
  const std::string encoded = encode_value(value);
  const std::string eol = line_end_style();

  bool inside = false;
  bool inside_first = false;
  const Line* first_section = nullptr;
  const Line* last_key = nullptr;  // the last key line of the first section of the name
  for (const Line& line : lines_) {
    if (line.kind == Line::Kind::section) {
      inside = same_name(name_of(line), section);
      inside_first = inside && !first_section;
      if (inside_first) first_section = &line;
    } else if (inside && line.kind == Line::Kind::key) {
      if (same_name(name_of(line), key)) {
        text_.replace(line.value_begin, line.end - line.value_begin, encoded);
        parse();
        return true;
      }
      if (inside_first) last_key = &line;
    }
  }

  std::string added(key);
  added += '=';
  added += encoded;
  added += eol;
  if (first_section) {
    const Line& after = last_key ? *last_key : *first_section;
    if (after.next == text_.size()) added.insert(0, line_end_for_last_line());
    text_.insert(after.next, added);
  } else {
    std::string header = line_end_for_last_line();
    header += '[';
    header += section;
    header += ']';
    header += eol;
    text_ += header + added;
  }
  parse();
  return true;
}

}  // namespace config
