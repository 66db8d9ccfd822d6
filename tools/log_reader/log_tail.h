#pragma once

// Where the last records of a log begin, found from its end: --tail reads only those, whatever the
// size of the log, in bounded memory.

#include <cstdint>
#include <optional>
#include <string>

namespace log_reader {

// A log read at any offset.
class LogFile {
 public:
  virtual ~LogFile() = default;
  // Reads exactly `size` bytes at `offset`; false when it cannot (failure() tells why).
  virtual bool read_at(uint64_t offset, char* buffer, size_t size) = 0;
  virtual std::string failure() const = 0;
};

// The size of each read.
constexpr size_t kLogBlock = 1 << 20;

struct TailStart {
  uint64_t shown_from = 0;   // the first of the last records: the first one printed
  uint64_t parsed_from = 0;  // where reading starts: a record from which the data records after it
                             // are told as a reading from the start of the log tells them
  bool garbage_first = false;  // the log does not start with a record
};

// Where the last `count` (at least 1) records of the first `size` bytes of `log` begin, reading
// back from the end in blocks of `block` bytes. None when the log holds no more than that many
// records (it is read whole), or when it cannot be read (`failed` is then set).
std::optional<TailStart> find_tail(LogFile& log, uint64_t size, uint64_t count, bool* failed,
                                   size_t block = kLogBlock);

}  // namespace log_reader
