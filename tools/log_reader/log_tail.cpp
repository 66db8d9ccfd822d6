#include "tools/log_reader/log_tail.h"

#include <algorithm>
#include <string_view>

#include "tools/log_reader/at_log_reader.h"

namespace log_reader {

namespace {

// The starts of the records of a log, from its end backwards, found as the reading from the start
// finds them (at the start of the log, and after "\r\n" where a record's stamps and prefix follow).
// Only one block, and a record header from the block after it, are held at a time.
class RecordStarts {
 public:
  RecordStarts(LogFile& log, uint64_t size, size_t block)
      : log_(log), block_(block), start_(size) {}

  // The start of the record before the one given last (the last record first). None before the
  // first record, and when the log cannot be read (failed() tells).
  std::optional<uint64_t> previous();
  bool failed() const { return failed_; }

 private:
  bool load();

  LogFile& log_;
  const size_t block_;
  std::string buffer_;
  uint64_t start_;   // offset of buffer_[0] in the log
  size_t next_ = 0;  // line ends before this position of buffer_ are still to be looked at
  bool first_given_ = false;
  bool failed_ = false;
};

// Reads the block before the buffer and keeps of the buffer only what a line end at the block's
// end needs: its own byte and a record header.
bool RecordStarts::load() {
  const size_t keep = std::min(buffer_.size(), kRecordHeaderSize + 1);
  const size_t block = static_cast<size_t>(std::min<uint64_t>(block_, start_));
  std::string bytes(block + keep, '\0');
  if (!log_.read_at(start_ - block, bytes.data(), block)) {
    failed_ = true;
    return false;
  }
  std::copy_n(buffer_.data(), keep, bytes.data() + block);
  buffer_ = std::move(bytes);
  start_ -= block;
  next_ = block + std::min(next_, keep);
  return true;
}

std::optional<uint64_t> RecordStarts::previous() {
  for (;;) {
    while (next_ > 1) {
      const size_t lf = --next_;
      if (buffer_[lf] != '\n' || buffer_[lf - 1] != '\r') continue;
      if (begins_record(std::string_view(buffer_).substr(lf + 1))) return start_ + lf + 1;
    }
    if (start_ == 0) {
      if (first_given_ || !begins_record(buffer_)) return std::nullopt;
      first_given_ = true;
      return 0;
    }
    if (!load()) return std::nullopt;
  }
}

struct FirstRecord final : RecordSink {
  void record(Record&& r) override {
    if (!first) first = std::move(r);
  }
  void damage(const Damage&) override {}
  std::optional<Record> first;
};

// The record from `begin` to the start of the next one at `end`, as the reading from the start
// reads it.
std::optional<Record> read_record(LogFile& log, uint64_t begin, uint64_t end, uint64_t size,
                                  size_t block) {
  FirstRecord sink;
  Parser parser(sink, begin);
  const uint64_t stop = std::min(size, end + kRecordHeaderSize);
  std::string piece;
  for (uint64_t at = begin; at < stop && !sink.first;) {
    piece.resize(static_cast<size_t>(std::min<uint64_t>(block, stop - at)));
    if (!log.read_at(at, piece.data(), piece.size())) return std::nullopt;
    parser.feed(piece);
    at += piece.size();
  }
  parser.finish();
  return std::move(sink.first);
}

}  // namespace

std::optional<TailStart> find_tail(LogFile& log, uint64_t size, uint64_t count, bool* failed,
                                   size_t block) {
  *failed = false;
  RecordStarts starts(log, size, block);
  TailStart tail;
  for (uint64_t k = 0; k < count; ++k) {
    const std::optional<uint64_t> start = starts.previous();
    if (!start) {
      *failed = starts.failed();
      return std::nullopt;
    }
    tail.shown_from = *start;
  }
  // A data record is told by the records before it: reading starts at the nearest earlier record
  // after which that no longer matters (an answer of the module, or an AT command).
  tail.parsed_from = tail.shown_from;
  while (const std::optional<uint64_t> earlier = starts.previous()) {
    const std::optional<Record> record = read_record(log, *earlier, tail.parsed_from, size, block);
    if (!record) {
      *failed = true;
      return std::nullopt;
    }
    tail.parsed_from = *earlier;
    if (Classifier::settles(*record)) break;
  }
  if (starts.failed()) {
    *failed = true;
    return std::nullopt;
  }
  char head[kRecordHeaderSize];
  const size_t head_size = static_cast<size_t>(std::min<uint64_t>(size, sizeof head));
  if (!log.read_at(0, head, head_size)) {
    *failed = true;
    return std::nullopt;
  }
  tail.garbage_first = !begins_record(std::string_view(head, head_size));
  return tail;
}

}  // namespace log_reader
