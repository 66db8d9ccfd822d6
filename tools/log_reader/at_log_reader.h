#pragma once

// Reading the AT traffic logs AtLog_<n>.ini of a bench: records, the damage around them, and which
// records carry data rather than text.

#include <cstdint>
#include <string>
#include <string_view>

namespace log_reader {

enum class Direction { sent, received };

// At most this many bytes of a record's text are kept; a longer record (only a damaged log has
// one) keeps counting its size.
constexpr size_t kKeptTextBytes = 64 * 1024;

// One block sent to or received from a module.
struct Record {
  uint64_t offset = 0;  // of its date stamp in the file
  std::string date;     // "06/18/2021", as written
  std::string time;     // "14:03:07", as written
  Direction direction = Direction::sent;
  std::string text;      // the block as it went over the line (at most kKeptTextBytes of it)
  uint64_t size = 0;     // bytes of the whole block
  bool complete = true;  // false: the log ends inside the record, before its record end
  bool data = false;     // pieces of the update file, or mostly binary (set by Classifier)
};

// Bytes of a log that are no record.
struct Damage {
  enum class Kind {
    before_first_record,  // the log does not start with a record
    no_record,            // the log holds no record at all
    cut_record,           // the log ends inside the stamps or prefix of a record
  };
  Kind kind;
  uint64_t offset;
  uint64_t size;
};

class RecordSink {
 public:
  virtual ~RecordSink() = default;
  virtual void record(Record&& record) = 0;
  virtual void damage(const Damage& damage) = 0;
};

// Splits a log into records as its bytes come, in pieces of any size, in one pass.
//
// A record starts at the beginning of the log, or right after "\r\n" when the two stamps
// ("%m/%d/%Y %H:%M:%S ") and a direction prefix follow; everything else belongs to the text of the
// record before. A record that ends in CR CR LF was written with CR LF line ends: its text gets
// back its LF line ends (so the engine's rare block that ends in two CRs reads as ending in one).
class Parser {
 public:
  // The bytes fed start at `offset` of the log: the start of the log, or the start of a record.
  explicit Parser(RecordSink& sink, uint64_t offset = 0)
      : sink_(sink), start_(offset), offset_(offset) {}

  void feed(std::string_view bytes);
  // The end of the log: gives the last record and any damage at the end.
  void finish();

 private:
  enum class State { start, garbage, record, done };

  void scan(bool at_end);
  void begin_record(size_t at);
  void append_text(size_t from, size_t to);
  void end_record(bool complete);

  RecordSink& sink_;
  const uint64_t start_;  // of the first byte fed
  State state_ = State::start;
  std::string buffer_;       // bytes not yet decided on: a possible record end and header
  uint64_t offset_ = 0;      // of buffer_[0] in the log
  uint64_t text_start_ = 0;  // offset of the current record's text
  Record current_;
  char last_byte_ = 0;  // the last byte of the current text
};

// Whether `bytes` begin with a record's stamps and direction prefix. A record starts at the start
// of the log or after "\r\n" where this holds.
bool begins_record(std::string_view bytes);

// The number of bytes of a record's stamps and prefix.
constexpr size_t kRecordHeaderSize = 26;

// Marks the records that carry data: what the tool writes after the module's "DOWNLOAD" prompt up
// to the module's next answer (except an AT command), and anything that is mostly binary.
class Classifier {
 public:
  void classify(Record& record);
  // Whether the classifier's state after `record` is the same whatever came before it (an answer
  // of the module, or an AT command): reading can start there with a fresh classifier.
  static bool settles(const Record& record);

 private:
  bool after_prompt_ = false;
};

// Whether a block is mostly bytes that are not text.
bool mostly_binary(std::string_view text);

}  // namespace log_reader
