// --tail: the last records of a log, found from its end, print as the reading of the whole log
// prints them, whatever the blocks the log is read back in.
#include "tools/log_reader/log_tail.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tools/log_reader/at_log_reader.h"
#include "tools/log_reader/log_view.h"

using namespace log_reader;
using namespace std::string_literals;

namespace {

const std::string kSent = "\xB7\xA2\xB3\xF6: ";
const std::string kReceived = "\xCA\xD5\xB5\xBD: ";

std::string rec(const std::string& prefix, const std::string& text, int second,
                const char* end = "\r\n") {
  char stamps[32];
  std::snprintf(stamps, sizeof stamps, "06/18/2021 14:%02d:%02d ", second / 60 % 60, second % 60);
  return stamps + prefix + text + end;
}

// A download's traffic: commands and answers, data pieces with line ends, NULs and a stamp-like
// text in them, records of a tool that wrote CR LF line ends, binary answers outside a download, a
// text the tool sent that is no command, and a record longer than the smallest blocks.
std::string traffic(int packets) {
  const std::string piece =
      "\x01\x02\r\n\0\xFF\r\n06/18/2021 14:0\r\n\r\n"s + std::string(30, '\x90') + "\r\n";
  std::string log;
  int second = 0;
  for (int p = 0; p < packets; ++p) {
    log += rec(kSent, "AT+CFSWFILE=0,\"a.bin\",0,132,10000\r\n", ++second);
    log += rec(kReceived, "\r\nDOWNLOAD\r\n", ++second);
    for (int k = 0; k < 1 + p % 3; ++k) log += rec(kSent, piece, ++second);
    if (p % 2) log += rec(kSent, "hello", ++second);  // no command: still the data phase
    log += rec(kReceived, p % 4 == 3 ? "\r\nERROR\r\n" : "\r\nOK\r\n", ++second);
    log += rec(kSent, "AT\r\r\n", ++second, "\r\r\n");
    log += rec(kReceived, std::string(20, '\xEE'), ++second);
    if (p == 2) log += rec(kSent, std::string(300, 'L') + "\r\n", ++second);
  }
  return log;
}

struct MemoryLog final : LogFile {
  explicit MemoryLog(std::string b) : bytes(std::move(b)) {}
  bool read_at(uint64_t offset, char* buffer, size_t size) override {
    ++reads;
    if (offset + size > bytes.size()) return false;
    bytes.copy(buffer, size, static_cast<size_t>(offset));
    return true;
  }
  std::string failure() const override { return "Input/output error"; }
  std::string bytes;
  int reads = 0;
};

struct Offsets final : RecordSink {
  void record(Record&& r) override { starts.push_back(r.offset); }
  void damage(const Damage&) override {}
  std::vector<uint64_t> starts;
};

// What a reading of the whole log prints when only the records from `shown_from` on are shown.
std::string whole_reading(const std::string& log, uint64_t shown_from) {
  std::ostringstream out;
  LogView view({}, out);
  view.show_from(shown_from);
  Parser parser(view);
  parser.feed(log);
  parser.finish();
  view.finish();
  return out.str();
}

}  // namespace

TEST(LogTailTest, TheLastRecordsPrintAsTheWholeReadingPrintsThemWhateverTheBlocks) {
  const std::string body = traffic(7);
  struct Variant {
    const char* what;
    std::string log;
  } variants[] = {
      {"whole", body},
      {"damaged start, cut last record",
       "\0\xFFgarbage\r\nmore\r\n"s + body + rec(kReceived, "\r\nO", 99, "")},
      {"cut inside the stamps of the next record", body + "06/18/2021 14:0"},
      {"no record at all", "no record\r\n06/18/2021 99:03:07 " + kSent + "AT\r\n"},
  };
  for (const Variant& v : variants) {
    Offsets offsets;
    Parser parser(offsets);
    parser.feed(v.log);
    parser.finish();
    const std::vector<uint64_t>& starts = offsets.starts;
    const std::string full = whole_reading(v.log, 0);
    for (size_t count = 0; count <= starts.size() + 1; ++count) {
      const std::string expected = count == 0 ? whole_reading(v.log, UINT64_MAX)
                                   : count >= starts.size()
                                       ? full
                                       : whole_reading(v.log, starts[starts.size() - count]);
      // Where the tail does not begin inside a run of data records, it is the end of the whole
      // reading (after the damage before the first record, which is always shown).
      std::string lines = expected;
      if (lines.starts_with("(damaged: 17 bytes before")) lines.erase(0, lines.find('\n') + 1);
      if (lines.substr(0, lines.find('\n')).find("  data, ") == std::string::npos) {
        EXPECT_TRUE(full.ends_with(lines)) << count;
      }
      for (size_t block : {size_t{1}, size_t{7}, kRecordHeaderSize, kRecordHeaderSize + 1,
                           size_t{64}, size_t{4096}}) {
        SCOPED_TRACE(std::string(v.what) + ", tail " + std::to_string(count) + ", blocks of " +
                     std::to_string(block));
        MemoryLog memory(v.log);
        std::ostringstream out;
        std::string error;
        ASSERT_TRUE(
            print_log(memory, v.log.size(), {.raw = false, .tail = count}, out, &error, block))
            << error;
        EXPECT_EQ(out.str(), expected);
      }
    }
  }
}

TEST(LogTailTest, OnlyTheEndOfALongLogIsReadAndAReadErrorIsTold) {
  const std::string log = traffic(400);
  Offsets offsets;
  Parser parser(offsets);
  parser.feed(log);
  parser.finish();
  MemoryLog memory(log);
  std::ostringstream out;
  std::string error;
  ASSERT_TRUE(print_log(memory, log.size(), {.raw = false, .tail = 3}, out, &error, 1024));
  EXPECT_EQ(out.str(), whole_reading(log, offsets.starts[offsets.starts.size() - 3]));
  // The last three records and the few before them that tell the data: a few blocks, of hundreds.
  EXPECT_LT(memory.reads, 10) << log.size() / 1024 << " blocks in the log";

  // The log shrinks under the reader: told, with what was printed so far.
  MemoryLog shrunk(log.substr(0, log.size() / 2));
  EXPECT_FALSE(print_log(shrunk, log.size(), {.raw = false, .tail = 3}, out, &error, 1024));
  EXPECT_EQ(error, "Input/output error");
}
