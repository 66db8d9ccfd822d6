#include "engine/download_sequence.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "engine/notifications.h"
#include "tests/engine/exchange_fixture.h"
#include "tests/support/simulated_port.h"

using simulator::Faults;

namespace {

std::string image_of(size_t size) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  return data;
}

bool is_command(const std::string& block) {
  return (block.rfind("AT", 0) == 0 || block.rfind("at", 0) == 0) && block.size() >= 2 &&
         block.compare(block.size() - 2, 2, "\r\n") == 0;
}

class DownloadSequenceTest : public ExchangeFixture {
 protected:
  // A module with `faults` and an image of `size` bytes named abc.bin.
  void prepare(size_t size, Faults faults = {}) {
    sim = testing_support::make_simulated_port(std::move(faults));
    module = sim.port;
    slot.hAT.reset(sim.port);
    image = image_of(size);
    slot.fileData = std::make_unique<uint8_t[]>(size);
    std::memcpy(slot.fileData.get(), image.data(), size);
    slot.fileSize = static_cast<int32_t>(size);
    slot.run.fileName = "abc.bin";
  }

  // Command lines the module received, without the data.
  std::vector<std::string> commands() const { return sim.module->commands(); }

  // The progress messages, as "done/total".
  std::vector<std::string> progress() const {
    std::vector<std::string> out;
    for (auto& m : window.messages())
      if (m.msg == engine::WM_SLOT_PROGRESS)
        out.push_back(std::to_string(m.wParam) + "/" + std::to_string(m.lParam));
    return out;
  }

  // Sizes of the blocks written between each "DOWNLOAD" prompt and the packet's answer.
  std::vector<size_t> pieces() const {
    std::vector<size_t> out;
    for (auto& block : module->written())
      if (!is_command(block)) out.push_back(block.size());
    return out;
  }

  testing_support::SimulatedPort sim;
  std::string image;
};

const std::vector<std::string> kClosing = {"AT+CFSTERM", "AT+CBAINIT", "AT+CBAPPS"};

std::vector<std::string> join(std::vector<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace

TEST_F(DownloadSequenceTest, FifteenThousandBytesGoInTwoPacketsAndAreVerified) {
  prepare(15000);
  EXPECT_EQ(engine::download_file(slot), engine::DL_OK);
  EXPECT_EQ(commands(), join({{"AT+CFSINIT", "AT+CFSWFILE=0,\"abc.bin\",0,10240,10000",
                               "AT+CFSWFILE=0,\"abc.bin\",1,4760,10000", "at+cfsgfis=0,abc.bin"},
                              kClosing}));
  EXPECT_EQ(pieces(), (std::vector<size_t>{1024, 1024, 1024, 1024, 1024, 1024, 1024, 1024, 1024,
                                           1024, 1024, 1024, 1024, 1024, 664}));
  std::vector<std::string> expected_progress;
  for (int done : {1024, 2048, 3072, 4096, 5120, 6144, 7168, 8192, 9216, 10240, 11264, 12288, 13312,
                   14336, 15000})
    expected_progress.push_back(std::to_string(done) + "/15000");
  EXPECT_EQ(progress(), expected_progress);
  EXPECT_EQ(window.statuses(0), (std::vector<std::string>{"Start downloading file...",
                                                          "Byte count match successful: 15000!"}));
  EXPECT_EQ(sim.module->files().at("abc.bin"), image);
  // 320 for each of the five full exchanges; per packet 20 + 200 and 120 per piece.
  EXPECT_EQ(elapsed(), 5 * 320 + 2 * 220 + 15 * 120);
}

struct Layout {
  size_t size;
  std::vector<std::string> announced;  // "mode,length" per packet
  size_t pieces;
  size_t last_piece;
};

// The size names the case; without a printer the test's name would carry the struct's raw bytes.
void PrintTo(const Layout& l, std::ostream* os) {
  *os << l.size << " bytes";
}

class PacketLayoutTest : public DownloadSequenceTest,
                         public ::testing::WithParamInterface<Layout> {};

TEST_P(PacketLayoutTest, PacketsAndPiecesFollowTheFileSize) {
  const Layout& l = GetParam();
  prepare(l.size);
  EXPECT_EQ(engine::download_file(slot), engine::DL_OK);
  std::vector<std::string> announced;
  for (auto& c : commands())
    if (c.rfind("AT+CFSWFILE=0,\"abc.bin\",", 0) == 0)
      announced.push_back(c.substr(24, c.size() - 24 - 6));
  EXPECT_EQ(announced, l.announced);
  auto p = pieces();
  ASSERT_EQ(p.size(), l.pieces);
  EXPECT_EQ(p.back(), l.last_piece);
  EXPECT_EQ(progress().back(), std::to_string(l.size) + "/" + std::to_string(l.size));
  EXPECT_EQ(sim.module->files().at("abc.bin"), image);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, PacketLayoutTest,
    ::testing::Values(Layout{1, {"0,1"}, 1, 1}, Layout{1023, {"0,1023"}, 1, 1023},
                      Layout{1024, {"0,1024"}, 1, 1024}, Layout{1025, {"0,1025"}, 2, 1},
                      Layout{2500, {"0,2500"}, 3, 452}, Layout{10240, {"0,10240"}, 10, 1024},
                      Layout{10241, {"0,10240", "1,1"}, 11, 1},
                      Layout{25000, {"0,10240", "1,10240", "1,4520"}, 25, 424}),
    [](const ::testing::TestParamInfo<Layout>& info) {
      return std::to_string(info.param.size) + "Bytes";
    });

TEST_F(DownloadSequenceTest, RefusedCfsInitEndsWithCfsTermOnly) {
  Faults f;
  f.refused = {"AT+CFSINIT"};
  prepare(100, f);
  EXPECT_EQ(engine::download_file(slot), engine::DL_CFSINIT_FAILED);
  EXPECT_EQ(commands(), (std::vector<std::string>{"AT+CFSINIT", "AT+CFSTERM"}));
  EXPECT_EQ(window.statuses(0).back(), "AT+CFSINIT failed!");
}

TEST_F(DownloadSequenceTest, MissingDownloadPromptFailsTheAnnouncement) {
  Faults f;
  f.refused = {"AT+CFSWFILE"};
  prepare(100, f);
  EXPECT_EQ(engine::download_file(slot), engine::DL_CFSWFILE_FAILED);
  EXPECT_EQ(commands().back(), "AT+CFSTERM");
  EXPECT_EQ(window.statuses(0).back(), "AT+CFSWFILE failed!");
}

TEST_F(DownloadSequenceTest, ErrorAfterTheSecondPacketEndsTheLoop) {
  Faults f;
  f.error_on_packet = 2;
  prepare(15000, f);
  EXPECT_EQ(engine::download_file(slot), engine::DL_PACKET_ERROR);
  EXPECT_EQ(commands(),
            (std::vector<std::string>{"AT+CFSINIT", "AT+CFSWFILE=0,\"abc.bin\",0,10240,10000",
                                      "AT+CFSWFILE=0,\"abc.bin\",1,4760,10000", "AT+CFSTERM"}));
  EXPECT_EQ(window.statuses(0).back(), "Download packet return Error!");
}

TEST_F(DownloadSequenceTest, OkAndErrorInOneReadCountAsOk) {
  prepare(10);
  // Answer the data itself with both tokens.
  auto port = std::make_shared<testing_support::ScriptedModule>(
      [](testing_support::ScriptedModule& m, std::string_view block) {
        if (block.rfind("AT+CFSWFILE", 0) == 0)
          m.reply("\r\nDOWNLOAD\r\n");
        else if (block.rfind("at+cfsgfis", 0) == 0)
          m.reply("\r\n+CFSGFIS: 10\r\n\r\nOK\r\n");
        else if (block.rfind("AT", 0) == 0)
          m.reply("\r\nOK\r\n");
        else
          m.reply("\r\nERROR\r\nOK\r\n");
      });
  slot.hAT.reset(port);
  EXPECT_EQ(engine::download_file(slot), engine::DL_OK);
}

TEST_F(DownloadSequenceTest, UnansweredPacketIsNeverTakenAsStored) {
  prepare(100);
  auto port = std::make_shared<testing_support::ScriptedModule>(
      [](testing_support::ScriptedModule& m, std::string_view block) {
        if (block.rfind("AT+CFSWFILE", 0) == 0) m.reply("\r\nDOWNLOAD\r\n");
        if (block.rfind("AT+CFS", 0) == 0 && block.rfind("AT+CFSWFILE", 0) != 0) m.reply("OK");
      });
  slot.hAT.reset(port);
  EXPECT_EQ(engine::download_file(slot), engine::DL_PACKET_ERROR);
  EXPECT_EQ(window.statuses(0).back(), "Download packet not confirmed!");
  // CFSINIT 320, announcement 20 + 200, one piece 120, 100 polls of 50, CFSTERM 320.
  EXPECT_EQ(elapsed(), 320 + 220 + 120 + 100 * 50 + 320);
  EXPECT_EQ(port->written().back(), "AT+CFSTERM\r\n");
}

TEST_F(DownloadSequenceTest, ByteCountChecks) {
  struct Case {
    const char* fault;
    int result;
    std::string status;
  } cases[] = {
      {"count-offset=-1", engine::DL_BYTE_COUNT_FAILED, "Byte count match failed: 1499!"},
      {"count-offset=1", engine::DL_BYTE_COUNT_FAILED, "Byte count match failed: 1501!"},
      {"count-no-crlf", engine::DL_BYTE_COUNT_FAILED, "The byte count query failed!"},
      {"count-text=1500000000000000000000000000000000000000", engine::DL_BYTE_COUNT_FAILED,
       "The byte count query failed!"},
      {"count-text=99999999999", engine::DL_BYTE_COUNT_FAILED, "The byte count query failed!"},
      {"count-text=4294968796", engine::DL_BYTE_COUNT_FAILED, "The byte count query failed!"},
      {"count-text=abc", engine::DL_BYTE_COUNT_FAILED, "Byte count match failed: 0!"},
      {"count-text=  1500xyz", engine::DL_OK, "Byte count match successful: 1500!"},
      {"refuse=AT+CFSGFIS", engine::DL_BYTE_COUNT_FAILED, "The byte count query failed!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    Faults f;
    ASSERT_TRUE(f.parse(c.fault));
    window.clear();
    prepare(1500, f);
    EXPECT_EQ(engine::download_file(slot), c.result);
    auto statuses = window.statuses(0);
    ASSERT_GE(statuses.size(), 2u);
    EXPECT_EQ(statuses[1], c.status);
    EXPECT_EQ(commands().back(), c.result == engine::DL_OK ? "AT+CBAPPS" : "AT+CFSTERM");
  }
}

TEST_F(DownloadSequenceTest, PrecedenceOfTheClosingCommands) {
  struct Case {
    std::set<std::string> refused;
    int result;
    std::vector<std::string> closing;
    std::vector<std::string> statuses;
  } cases[] = {
      {{"AT+CFSTERM"}, engine::DL_CFSTERM_FAILED, {"AT+CFSTERM"}, {"AT+CFSTERM failed!"}},
      {{"AT+CBAINIT"}, engine::DL_CBAINIT_FAILED, kClosing, {"AT+CBAINIT failed!"}},
      {{"AT+CBAPPS"}, engine::DL_CBAPPS_FAILED, kClosing, {"AT+CBAPPS failed!"}},
      {{"AT+CBAINIT", "AT+CBAPPS"},
       engine::DL_CBAINIT_FAILED,
       kClosing,
       {"AT+CBAINIT failed!", "AT+CBAPPS failed!"}},
  };
  for (const Case& c : cases) {
    Faults f;
    f.refused = c.refused;
    window.clear();
    prepare(10, f);
    EXPECT_EQ(engine::download_file(slot), c.result);
    auto cmds = commands();
    EXPECT_EQ(std::vector<std::string>(cmds.begin() + 3, cmds.end()), c.closing);
    auto statuses = window.statuses(0);
    EXPECT_EQ(std::vector<std::string>(statuses.begin() + 2, statuses.end()), c.statuses);
  }
}

TEST_F(DownloadSequenceTest, StopRequestsTakeEffectAtPacketBoundaries) {
  // Before the first packet.
  prepare(15000);
  slot.runEnabled = 0;
  EXPECT_EQ(engine::download_file(slot), engine::DL_PAUSED);
  EXPECT_EQ(commands(), (std::vector<std::string>{"AT+CFSINIT", "AT+CFSTERM"}));

  // During the first packet's pieces: the packet is completed and answered, then the run stops.
  window.clear();
  prepare(15000);
  slot.runEnabled = 1;
  auto module = sim.module;
  int data_blocks = 0;
  slot.hAT.reset(std::make_shared<testing_support::ScriptedModule>(
      [&](testing_support::ScriptedModule& m, std::string_view block) {
        if (!is_command(std::string(block)) && ++data_blocks == 3) slot.runEnabled = 0;
        for (auto& r : module->receive(block)) m.reply(r.bytes, r.delay_ms);
      }));
  EXPECT_EQ(engine::download_file(slot), engine::DL_PAUSED);
  EXPECT_EQ(data_blocks, 10);
  EXPECT_EQ(module->commands().back(), "AT+CFSTERM");
  EXPECT_EQ(window.statuses(0).back(), "Download Pause!");
}

TEST_F(DownloadSequenceTest, AnErrorAnswerMeetingAStopRequestIsAPause) {
  Faults f;
  f.error_on_packet = 1;
  prepare(100, f);
  auto module = sim.module;
  slot.hAT.reset(std::make_shared<testing_support::ScriptedModule>(
      [&](testing_support::ScriptedModule& m, std::string_view block) {
        if (!is_command(std::string(block))) slot.runEnabled = 0;
        for (auto& r : module->receive(block)) m.reply(r.bytes, r.delay_ms);
      }));
  EXPECT_EQ(engine::download_file(slot), engine::DL_PAUSED);
  EXPECT_EQ(window.statuses(0).back(), "Download Pause!");
}

TEST_F(DownloadSequenceTest, APieceThatDoesNotGoOutFailsThePacketAtOnce) {
  for (const char* fault : {"pull-after=3000", "stall-after=3000"}) {
    SCOPED_TRACE(fault);
    Faults f;
    ASSERT_TRUE(f.parse(fault));
    window.clear();
    prepare(15000, f);
    int64_t start = elapsed();
    EXPECT_EQ(engine::download_file(slot), engine::DL_PACKET_ERROR);
    auto statuses = window.statuses(0);
    EXPECT_EQ(statuses[1], "Download packet write failed!");
    EXPECT_EQ(statuses[2], "AT+CFSTERM failed!");
    // The bytes before the failing piece are the only progress reported.
    EXPECT_EQ(progress().back(), "2048/15000");
    // No packet poll is spent on a packet that did not go out; a stalled line costs one second
    // for the piece and one for the closing command.
    EXPECT_LE(elapsed() - start, 320 + 220 + 2 * 120 + 1000 + 1000 + 2820);
  }
}

TEST_F(DownloadSequenceTest, ALongFileNameIsSentWholeNeverCut) {
  prepare(10);
  slot.run.fileName = std::string(40, 'n') + ".bin";
  EXPECT_EQ(engine::download_file(slot), engine::DL_OK);
  EXPECT_EQ(commands()[1], "AT+CFSWFILE=0,\"" + slot.run.fileName + "\",0,10,10000");
  EXPECT_EQ(commands()[2], "at+cfsgfis=0," + slot.run.fileName);
  EXPECT_EQ(sim.module->files().count(slot.run.fileName), 1u);
}
