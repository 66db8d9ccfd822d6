#pragma once

// The lines that quillmark-log prints for a log.

#include <cstdint>
#include <deque>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "tools/log_reader/at_log_reader.h"

namespace log_reader {

struct ViewOptions {
  bool raw = false;              // every block in full, no data summaries
  std::optional<uint64_t> tail;  // only the last this many records
};

// The text of a block on one line: printable ASCII as it is, a backslash as "\\", CR, LF, tab and
// NUL as "\r", "\n", "\t", "\0", any other byte as "\xHH". At most `limit` bytes of `text` are
// shown.
std::string escape(std::string_view text, size_t limit = std::string_view::npos);

// Takes the records of one log and prints one line per record: the stamps as written, "sent" or
// "received", and the escaped text. Data is summarised as "data, N bytes"; consecutive data
// records of one direction share a line ("data, 10 blocks, 10240 bytes, until 14:03:10"). With a
// tail, the last records are kept until finish(); damage is always shown.
class LogView final : public RecordSink {
 public:
  LogView(const ViewOptions& options, std::ostream& out) : options_(options), out_(out) {}

  void record(Record&& record) override;
  void damage(const Damage& damage) override;
  // The end of the log: prints what is held back.
  void finish();

 private:
  struct Fold {
    std::string date, time, last_date, last_time;
    Direction direction = Direction::sent;
    uint64_t blocks = 0, bytes = 0;
  };
  void print(const Record& record);
  void print(const Damage& damage);
  void flush_fold();

  ViewOptions options_;
  std::ostream& out_;
  Classifier classifier_;
  std::deque<Record> tail_;
  std::vector<Damage> cut_end_;  // printed after the tail
  std::optional<Fold> fold_;
};

// Prints the log at `path`, read in pieces. False when it cannot be read, with the system's reason
// in *error.
bool print_log(const std::string& path, const ViewOptions& options, std::ostream& out,
               std::string* error);

}  // namespace log_reader
