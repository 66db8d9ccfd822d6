#pragma once

// The lines that quillmark-log prints for a log.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "tools/log_reader/at_log_reader.h"
#include "tools/log_reader/log_tail.h"

namespace log_reader {

struct ViewOptions {
  bool raw = false;              // every block in full, no data summaries
  std::optional<uint64_t> tail;  // only the last this many records (print_log)
};

// The text of a block on one line: printable ASCII as it is, a backslash as "\\", CR, LF, tab and
// NUL as "\r", "\n", "\t", "\0", any other byte as "\xHH". At most `limit` bytes of `text` are
// shown.
std::string escape(std::string_view text, size_t limit = std::string_view::npos);

// Takes the records of one log and prints one line per record: the stamps as written, "sent" or
// "received", and the escaped text. Data is summarised as "data, N bytes"; consecutive data
// records of one direction share a line ("data, 10 blocks, 10240 bytes, until 14:03:10"). Damage
// is always shown.
class LogView final : public RecordSink {
 public:
  LogView(const ViewOptions& options, std::ostream& out) : options_(options), out_(out) {}

  // Records that start before `offset` are taken (they tell which records after them are data)
  // but not printed.
  void show_from(uint64_t offset) { shown_from_ = offset; }

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
  uint64_t shown_from_ = 0;
  std::optional<Fold> fold_;
};

// Prints the first `size` bytes of a log, read in blocks of `block` bytes. With a tail, the start
// of the last records is found from the end of the log first (log_tail.h), and only they are read
// (with the few records before them that tell which of them are data): the same lines as a reading
// of the whole log prints for them, in bounded memory. False when it cannot be read, with the
// reason in *error.
bool print_log(LogFile& log, uint64_t size, const ViewOptions& options, std::ostream& out,
               std::string* error, size_t block = kLogBlock);

// Prints the log at `path` as it is when it is opened.
bool print_log(const std::string& path, const ViewOptions& options, std::ostream& out,
               std::string* error);

}  // namespace log_reader
