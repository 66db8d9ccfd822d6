#include "station/runs_csv.h"

#include <algorithm>
#include <optional>

#include "station/run_record.h"

namespace station {

namespace {

// The characters that make a spreadsheet read a cell as a formula, and the guard's own.
bool needs_guard(char c) {
  return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r' || c == '\'';
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// Whether `text` begins with a time as the records write it, "2026-12-09T14:03:07+01:00", and a
// comma after it.
bool begins_time_field(std::string_view text) {
  static constexpr std::string_view kForm = "0000-00-00T00:00:00+00:00,";
  if (text.size() < kForm.size()) return false;
  for (size_t k = 0; k < kForm.size(); ++k) {
    const char c = text[k];
    const bool fits = kForm[k] == '0'   ? is_digit(c)
                      : kForm[k] == '+' ? c == '+' || c == '-'
                                        : c == kForm[k];
    if (!fits) return false;
  }
  return true;
}

}  // namespace

std::string csv_field(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string spreadsheet_safe(std::string_view text) {
  if (text.empty() || !needs_guard(text.front())) return std::string(text);
  return "'" + std::string(text);
}

std::string_view spreadsheet_text(std::string_view field) {
  if (field.size() >= 2 && field.front() == '\'' && needs_guard(field[1])) field.remove_prefix(1);
  return field;
}

bool split_csv_record(std::string_view text, std::vector<std::string>& fields, size_t& count) {
  count = 0;
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  size_t at = 0;
  for (;;) {
    if (count == fields.size()) fields.emplace_back();
    std::string& field = fields[count++];
    field.clear();
    if (at < text.size() && text[at] == '"') {
      for (++at;;) {
        const size_t quote = text.find('"', at);
        if (quote == std::string_view::npos) return false;
        field.append(text.substr(at, quote - at));
        at = quote + 1;
        if (at == text.size() || text[at] != '"') break;
        field += '"';  // a doubled quote
        ++at;
      }
    } else {
      size_t stop = at;
      while (stop < text.size() && text[stop] != ',' && text[stop] != '"' && text[stop] != '\r' &&
             text[stop] != '\n')
        ++stop;
      field.append(text.substr(at, stop - at));
      at = stop;
    }
    if (spreadsheet_text(field).size() != field.size()) field.erase(0, 1);
    if (at == text.size()) return true;
    if (text[at] != ',') return false;
    ++at;
  }
}

bool begins_run_record(std::string_view text) {
  static const std::string header = run_header_line();
  if (text.starts_with(header)) return true;
  return begins_time_field(text) && begins_time_field(text.substr(26));
}

std::string cut_end_repair(int64_t size, const ReadAt& read_at, int64_t reach) {
  if (size <= 0) return {};
  // The bytes after a line end that tell whether a record starts there: two times and the header
  // line are far shorter than this.
  constexpr size_t kLookahead = 256;
  const int64_t limit = std::max<int64_t>(0, size - reach);
  int64_t block_end = size;
  int64_t quotes_after = 0;                 // double quotes from block_end to the end of the file
  std::string later;                        // the first bytes from block_end on
  std::optional<int64_t> quotes_from_line;  // from the earliest line start seen
  std::optional<int64_t> quotes_from_record;
  std::string block;
  char last = '\n';
  while (!quotes_from_record && block_end > limit) {
    const int64_t block_start = std::max(limit, block_end - static_cast<int64_t>(kRepairBlock));
    block.resize(static_cast<size_t>(block_end - block_start));
    if (!read_at(block_start, block.data(), block.size())) break;
    if (block_end == size) last = block.back();
    const std::string text = block + later;
    int64_t quotes = 0;  // in the block after position k
    for (size_t k = block.size(); k-- > 0;) {
      if (block[k] == '\n') {
        if (begins_run_record(std::string_view(text).substr(k + 1))) {
          quotes_from_record = quotes + quotes_after;
          break;
        }
        quotes_from_line = quotes + quotes_after;
      }
      quotes += block[k] == '"';
    }
    if (!quotes_from_record && block_start == 0) quotes_from_record = quotes + quotes_after;
    quotes_after += quotes;
    later = text.substr(0, std::min(text.size(), kLookahead));
    block_end = block_start;
  }
  const int64_t quotes = quotes_from_record ? *quotes_from_record
                         : quotes_from_line ? *quotes_from_line
                                            : quotes_after;
  const bool open_quote = quotes % 2 == 1;
  std::string repair = open_quote ? "\"" : "";
  if (open_quote || last != '\n') repair += !open_quote && last == '\r' ? "\n" : "\r\n";
  return repair;
}

}  // namespace station
