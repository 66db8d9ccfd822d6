#include "tools/log_reader/at_log_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "engine/at_exchange.h"
#include "engine/at_log.h"
#include "engine/download_sequence.h"
#include "platform/virtual_clock.h"
#include "tests/support/debug_capture.h"
#include "tests/support/simulated_port.h"
#include "tools/log_reader/log_view.h"

using namespace log_reader;
using namespace std::string_literals;

namespace {

const std::string kSent = "\xB7\xA2\xB3\xF6: ";
const std::string kReceived = "\xCA\xD5\xB5\xBD: ";

std::string rec(const std::string& prefix, const std::string& text, const char* time = "14:03:07",
                const char* end = "\r\n") {
  return std::string("06/18/2021 ") + time + " " + prefix + text + end;
}

struct Collect final : RecordSink {
  void record(Record&& r) override { records.push_back(std::move(r)); }
  void damage(const Damage& d) override { damages.push_back(d); }
  std::vector<Record> records;
  std::vector<Damage> damages;
};

// A piece of the update file with CR LF, NUL and the start of a stamp in it.
const std::string kPiece =
    "\x01\x02\r\n\0\xFF\r\n06/18/2021 14:0\r\n\x7F"s + std::string(40, '\x90');

// Garbage, a download's data phase left without an answer, a record written with CR LF line ends
// and a cut last record.
const std::string kLog =
    std::string("\0\xFFgarbage\r\n", 11) + rec(kSent, "AT\r\n") + rec(kReceived, "\r\nOK\r\n") +
    rec(kSent, "AT+CFSWFILE=0,\"a.bin\",0,132,10000\r\n") + rec(kReceived, "\r\nDOWNLOAD\r\n") +
    rec(kSent, kPiece, "14:03:08") + rec(kSent, kPiece, "14:03:09") +
    rec(kSent, "AT+CFSTERM\r\r\n", "14:03:10", "\r\r\n") + rec(kReceived, "\r\nOK", "14:03:11", "");

// A log in memory.
struct MemoryLog final : LogFile {
  explicit MemoryLog(std::string b) : bytes(std::move(b)) {}
  bool read_at(uint64_t offset, char* buffer, size_t size) override {
    if (offset + size > bytes.size()) return false;
    bytes.copy(buffer, size, static_cast<size_t>(offset));
    return true;
  }
  std::string failure() const override { return "short read"; }
  std::string bytes;
};

std::string view(const std::string& log, ViewOptions options = {}) {
  std::ostringstream out;
  MemoryLog memory(log);
  std::string error;
  EXPECT_TRUE(print_log(memory, log.size(), options, out, &error)) << error;
  return out.str();
}

}  // namespace

TEST(AtLogReaderTest, SplitsRecordsWhateverPiecesTheBytesComeIn) {
  for (size_t piece : {kLog.size(), size_t{1}, size_t{7}, size_t{27}}) {
    SCOPED_TRACE(piece);
    Collect c;
    Parser parser(c);
    for (size_t at = 0; at < kLog.size(); at += piece) parser.feed(kLog.substr(at, piece));
    parser.finish();
    ASSERT_EQ(c.records.size(), 8u);
    ASSERT_EQ(c.damages.size(), 1u);
    EXPECT_EQ(c.damages[0].kind, Damage::Kind::before_first_record);
    EXPECT_EQ(c.damages[0].size, 11u);
    EXPECT_EQ(c.records[0].offset, 11u);
    EXPECT_EQ(c.records[1].direction, Direction::received);
    EXPECT_EQ(c.records[1].text, "\r\nOK\r\n");
    EXPECT_EQ(c.records[4].text, kPiece);
    EXPECT_EQ(c.records[5].time, "14:03:09");
    EXPECT_EQ(c.records[6].text, "AT+CFSTERM\r\n");  // its CR LF line ends undone
    EXPECT_EQ(c.records[6].size, 12u);
    EXPECT_TRUE(c.records[6].complete);
    EXPECT_EQ(c.records[7].text, "\r\nOK");
    EXPECT_FALSE(c.records[7].complete);
  }
}

TEST(AtLogReaderTest, ShowsOneLinePerRecordWithTheDataFolded) {
  EXPECT_EQ(view(kLog),
            "(damaged: 11 bytes before the first record)\n"
            "06/18/2021 14:03:07  sent      AT\\r\\n\n"
            "06/18/2021 14:03:07  received  \\r\\nOK\\r\\n\n"
            "06/18/2021 14:03:07  sent      AT+CFSWFILE=0,\"a.bin\",0,132,10000\\r\\n\n"
            "06/18/2021 14:03:07  received  \\r\\nDOWNLOAD\\r\\n\n"
            "06/18/2021 14:03:08  sent      data, 2 blocks, 132 bytes, until 14:03:09\n"
            "06/18/2021 14:03:10  sent      AT+CFSTERM\\r\\n\n"
            "06/18/2021 14:03:11  received  \\r\\nOK [cut off: the log ends inside this record]\n");

  // The tail is counted in records; the data phase is still recognised.
  EXPECT_EQ(view(kLog, {.raw = false, .tail = 3}),
            "(damaged: 11 bytes before the first record)\n"
            "06/18/2021 14:03:09  sent      data, 66 bytes\n"
            "06/18/2021 14:03:10  sent      AT+CFSTERM\\r\\n\n"
            "06/18/2021 14:03:11  received  \\r\\nOK [cut off: the log ends inside this record]\n");

  std::string raw = view(kLog, {.raw = true, .tail = 1000});
  EXPECT_NE(raw.find("  sent      \\x01\\x02\\r\\n\\0\\xFF\\r\\n06/18/2021 14:0\\r\\n\\x7F\\x90"),
            std::string::npos);
  EXPECT_EQ(std::count(raw.begin(), raw.end(), '\n'), 9);

  // Binary outside a download, a log cut inside a record's stamps, a log without a record.
  EXPECT_EQ(view(rec(kReceived, std::string(20, '\xEE')) + "06/18/2021 14:0"),
            "06/18/2021 14:03:07  received  data, 20 bytes\n"
            "(damaged: the log ends inside the stamps of a record, 15 bytes at byte 48)\n");
  EXPECT_EQ(view("no record\r\n06/18/2021 99:03:07 " + kSent + "AT\r\n"),
            "(damaged: 41 bytes and no record in them)\n");
}

// The engine's own log of a download, with CR LF inside the data.
TEST(AtLogReaderTest, ReadsTheLogOfARealDownload) {
#ifdef _WIN32
  ::_putenv_s("TZ", "CST-8");
  ::_tzset();
#else
  ::setenv("TZ", "CST-8", 1);
  ::tzset();
#endif
  platform::VirtualClock clock{1624024987 - 8 * 3600};
  platform::ScopedClock use_clock{clock};
  testing_support::DebugCapture debug;
  engine::ModuleSlot slot;
  slot.index = 0;
  std::filesystem::remove(engine::at_log_path(slot));
  auto sim = testing_support::make_simulated_port();
  slot.hAT.reset(sim.port);
  slot.runEnabled = 1;
  const std::string pattern(
      "\r\n\x01\x02\xFE\xFF"
      "0123456789",
      16);
  std::string image;
  while (image.size() < 15000) image += pattern;
  image.resize(15000);
  slot.fileData = std::make_unique<uint8_t[]>(image.size());
  std::memcpy(slot.fileData.get(), image.data(), image.size());
  slot.fileSize = static_cast<int32_t>(image.size());
  slot.run.fileName = "abc.bin";
  ASSERT_EQ(engine::at_handshake(slot), engine::DL_OK);
  ASSERT_EQ(engine::download_file(slot), engine::DL_OK);

  std::ostringstream out;
  std::string error;
  ASSERT_TRUE(print_log(engine::at_log_path(slot), {}, out, &error)) << error;
  std::string lines = out.str();
  EXPECT_EQ(lines.find("damaged"), std::string::npos) << lines;
  EXPECT_EQ(lines.rfind("06/18/2021 14:03:07  sent      AT\\r\\n\n", 0), 0u) << lines;
  for (const char* expected :
       {"  sent      AT+CFSWFILE=0,\"abc.bin\",0,10240,10000\\r\\n\n",
        "  sent      data, 10 blocks, 10240 bytes", "  sent      data, 5 blocks, 4760 bytes",
        "  sent      at+cfsgfis=0,abc.bin\\r\\n\n", "  sent      AT+CBAPPS\\r\\n\n"})
    EXPECT_NE(lines.find(expected), std::string::npos) << expected << "\n" << lines;
}
