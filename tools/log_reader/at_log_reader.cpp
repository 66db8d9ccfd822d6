#include "tools/log_reader/at_log_reader.h"

#include <algorithm>
#include <cstring>

namespace log_reader {

namespace {

// The direction prefixes in code page 936: "发出: " and "收到: ".
constexpr std::string_view kSentPrefix = "\xB7\xA2\xB3\xF6\x3A\x20";
constexpr std::string_view kReceivedPrefix = "\xCA\xD5\xB5\xBD\x3A\x20";

// The two stamps; '0' stands for a digit.
constexpr std::string_view kStamps = "00/00/0000 00:00:00 ";
constexpr size_t kHeaderSize = kStamps.size() + kSentPrefix.size();
static_assert(kHeaderSize == kRecordHeaderSize);

enum class Match { none, partial, full };

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

int two_digits(std::string_view s, size_t at) {
  return (s[at] - '0') * 10 + (s[at + 1] - '0');
}

// Whether `s` starts with a record's stamps and prefix; partial when it is shorter than that and
// could still be one.
Match match_header(std::string_view s) {
  size_t n = std::min(s.size(), kHeaderSize);
  for (size_t k = 0; k < n && k < kStamps.size(); ++k)
    if (kStamps[k] == '0' ? !is_digit(s[k]) : s[k] != kStamps[k]) return Match::none;
  if (n > kStamps.size()) {
    std::string_view prefix = s.substr(kStamps.size(), n - kStamps.size());
    if (!kSentPrefix.starts_with(prefix) && !kReceivedPrefix.starts_with(prefix))
      return Match::none;
  }
  if (n < kHeaderSize) return Match::partial;
  int month = two_digits(s, 0), day = two_digits(s, 3);
  int hour = two_digits(s, 11), minute = two_digits(s, 14), second = two_digits(s, 17);
  bool valid = month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour <= 23 && minute <= 59 &&
               second <= 60;
  return valid ? Match::full : Match::none;
}

// Undoes CR LF line ends: every CR LF becomes LF.
std::string restore_line_ends(std::string_view text, size_t* removed) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++*removed;
      continue;
    }
    out += text[i];
  }
  return out;
}

bool is_text_byte(unsigned char c) {
  return (c >= 0x20 && c < 0x7F) || c == '\r' || c == '\n' || c == '\t';
}

// An AT command as the tool sends it: "AT..." or "at..." with printable text, ending in CR LF.
bool looks_like_command(const Record& r) {
  std::string_view t = r.text;
  if (r.size != t.size() || t.size() < 4 || t.size() > 512) return false;
  if (!((t[0] == 'A' || t[0] == 'a') && (t[1] == 'T' || t[1] == 't'))) return false;
  if (!t.ends_with("\r\n")) return false;
  t.remove_suffix(2);
  return std::all_of(t.begin(), t.end(), [](unsigned char c) { return c >= 0x20 && c < 0x7F; });
}

}  // namespace

bool begins_record(std::string_view bytes) {
  return match_header(bytes) == Match::full;
}

void Parser::feed(std::string_view bytes) {
  if (state_ == State::done) return;
  buffer_.append(bytes);
  scan(false);
}

void Parser::finish() {
  if (state_ == State::done) return;
  scan(true);
  if (state_ == State::record) end_record(false);
  if (state_ == State::garbage || (state_ == State::start && offset_ > start_))
    sink_.damage({Damage::Kind::no_record, 0, offset_});
  state_ = State::done;
}

void Parser::begin_record(size_t at) {
  std::string_view header(buffer_.data() + at, kHeaderSize);
  current_ = Record{};
  current_.offset = offset_ + at;
  current_.date = header.substr(0, 10);
  current_.time = header.substr(11, 8);
  current_.direction =
      header.substr(kStamps.size()) == kSentPrefix ? Direction::sent : Direction::received;
  text_start_ = current_.offset + kHeaderSize;
  last_byte_ = 0;
  state_ = State::record;
}

void Parser::append_text(size_t from, size_t to) {
  if (to <= from || state_ != State::record) return;
  size_t room = kKeptTextBytes - std::min(kKeptTextBytes, current_.text.size());
  current_.text.append(buffer_, from, std::min(room, to - from));
  current_.size += to - from;
  last_byte_ = buffer_[to - 1];
}

void Parser::end_record(bool complete) {
  current_.complete = complete;
  // A record end of CR CR LF: the line ends of this record were written as CR LF.
  if (complete && current_.size > 0 && last_byte_ == '\r') {
    bool whole = current_.size == current_.text.size();
    size_t removed = 1;  // the record end's own CR
    current_.text = restore_line_ends(current_.text, &removed);
    if (whole) current_.text.pop_back();
    current_.size -= removed;
  }
  sink_.record(std::move(current_));
  current_ = Record{};
}

void Parser::scan(bool at_end) {
  size_t done = 0;  // bytes of buffer_ given to a record or to the damage
  if (state_ == State::start) {
    Match m = match_header(buffer_);
    if (m == Match::partial && !at_end) return;
    if (m == Match::full) {
      begin_record(0);
      done = kHeaderSize;
    } else if (!buffer_.empty()) {
      state_ = State::garbage;
    }
  }
  size_t search = done;
  for (;;) {
    const void* found = search < buffer_.size()
                            ? std::memchr(buffer_.data() + search, '\n', buffer_.size() - search)
                            : nullptr;
    if (!found) break;
    size_t lf = static_cast<const char*>(found) - buffer_.data();
    search = lf + 1;
    if (lf == 0 || lf - 1 < done || buffer_[lf - 1] != '\r') continue;
    std::string_view next = std::string_view(buffer_).substr(lf + 1);
    Match m = match_header(next);
    if (m == Match::none) continue;
    if (m == Match::partial && !at_end) {
      // The record may end here: wait for the rest of the header.
      append_text(done, lf - 1);
      done = lf - 1;
      buffer_.erase(0, done);
      offset_ += done;
      return;
    }
    append_text(done, lf - 1);
    if (state_ == State::record) end_record(true);
    if (state_ == State::garbage) {
      bool none = m == Match::partial && next.empty();
      sink_.damage({none ? Damage::Kind::no_record : Damage::Kind::before_first_record, 0,
                    offset_ + lf + 1});
    }
    if (m == Match::partial) {
      // The log ends after a record end, maybe inside the next record's stamps or prefix.
      if (!next.empty()) sink_.damage({Damage::Kind::cut_record, offset_ + lf + 1, next.size()});
      offset_ += buffer_.size();
      buffer_.clear();
      state_ = State::done;
      return;
    }
    begin_record(lf + 1);
    done = search = lf + 1 + kHeaderSize;
  }
  // No record end in what is left; a final CR may be the start of one.
  size_t end = buffer_.size();
  if (!at_end && end > done && buffer_[end - 1] == '\r') --end;
  append_text(done, end);
  buffer_.erase(0, end);
  offset_ += end;
}

void Classifier::classify(Record& r) {
  if (r.direction == Direction::received) {
    after_prompt_ = r.text.find("DOWNLOAD") != std::string::npos;
    r.data = mostly_binary(r.text);
    return;
  }
  if (looks_like_command(r)) {
    after_prompt_ = false;
    r.data = false;
    return;
  }
  r.data = after_prompt_ || mostly_binary(r.text);
}

bool Classifier::settles(const Record& r) {
  return r.direction == Direction::received || looks_like_command(r);
}

bool mostly_binary(std::string_view text) {
  if (text.size() < 16) return false;
  size_t other =
      std::count_if(text.begin(), text.end(), [](unsigned char c) { return !is_text_byte(c); });
  return other * 4 > text.size();
}

}  // namespace log_reader
