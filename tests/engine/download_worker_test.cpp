#include "engine/download_worker.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/file_image.h"
#include "engine/notifications.h"
#include "engine/run_control.h"
#include "engine/run_recorder.h"
#include "platform/com_ports.h"
#include "tests/engine/exchange_fixture.h"
#include "tests/support/recording_sink.h"
#include "tests/support/simulated_port.h"
#include "tests/support/temp_dir.h"

using simulator::Faults;

namespace {

// Runs workers against simulated modules on the virtual clock; every COM number opens a module of
// `faults`.
class WorkerTest : public ExchangeFixture {
 protected:
  void SetUp() override {
    ExchangeFixture::SetUp();
    platform::set_port_opener([this](unsigned n, std::string*) {
      ++openings;
      opened_port = n;
      sim = testing_support::make_simulated_port(faults);
      if (on_open) on_open(*sim.port);
      return sim.port;
    });
    slot.index = 0;
    slot.atPort = 4;
    slot.sleepTime = 8000;
    slot.filePath = write_file("update.bin", 2500);
    slot.busy = 1;
    slot.upgraded = 0;
    take_snapshot();
  }
  void TearDown() override { platform::set_port_opener({}); }

  std::string write_file(const std::string& name, size_t size) {
    std::string content(size, '\0');
    for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>(i % 251);
    std::ofstream((dir.path() / name), std::ios::binary) << content;
    return (dir.path() / name).string();
  }
  void take_snapshot() {
    slot.run.filePath = slot.filePath;
    slot.run.fileName = engine::module_file_name(slot.filePath, nullptr);
    slot.run.atPort = slot.atPort;
    slot.run.sleepTime = slot.sleepTime;
  }

  // The messages as short text: "S:<status>", "P:<done>/<total>", "R:<index>,<ok>", "F".
  std::vector<std::string> trace() const {
    std::vector<std::string> out;
    for (auto& m : window.messages()) {
      if (m.msg - engine::WM_SLOT_STATUS < 6u) out.push_back("S:" + m.text);
      if (m.msg == engine::WM_SLOT_PROGRESS)
        out.push_back("P:" + std::to_string(m.wParam) + "/" + std::to_string(m.lParam));
      if (m.msg == engine::WM_SLOT_RESULT)
        out.push_back("R:" + std::to_string(m.wParam) + "," + std::to_string(m.lParam));
      if (m.msg - engine::WM_SLOT_FINISHED < 6u)
        out.push_back("F:" + std::to_string(m.wParam) + "," + std::to_string(m.lParam));
    }
    return out;
  }
  std::vector<std::string> commands() const { return sim.module->commands(); }

  testing_support::TempDir dir;
  Faults faults;
  std::function<void(testing_support::ScriptedModule&)> on_open;
  testing_support::SimulatedPort sim;
  int openings = 0;
  unsigned opened_port = 0;
};

}  // namespace

TEST_F(WorkerTest, SuccessfulRunReportsInOrderAndLeavesTheSlotIdle) {
  EXPECT_EQ(engine::DownloadWorker(&slot), engine::DL_OK);
  EXPECT_EQ(trace(),
            (std::vector<std::string>{
                "S:Prepare to download, please wait...", "S:Start downloading file...",
                "P:1024/2500", "P:2048/2500", "P:2500/2500", "S:Byte count match successful: 2500!",
                "S:download success!\r\n", "P:0/100", "P:0/100", "R:0,1", "F:0,100"}));
  EXPECT_EQ(opened_port, 4u);
  EXPECT_EQ(slot.resultOk, 1);
  EXPECT_EQ(slot.upgraded, 1);
  EXPECT_EQ(slot.busy, 0);
  EXPECT_EQ(slot.active, 0);
  EXPECT_FALSE(slot.hAT.is_open());
  EXPECT_EQ(slot.fileSize, 2500);
  ASSERT_NE(slot.fileData, nullptr);  // kept until the next run
  EXPECT_EQ(sim.module->files().at("update.bin").size(), 2500u);
  // Settling, handshake, then the sequence.
  EXPECT_EQ(elapsed(), 8000 + 340 + 320 + 220 + 3 * 120 + 4 * 320);
}

TEST_F(WorkerTest, MissingOrEmptyFileFailsWithoutOpeningThePort) {
  for (std::string path : {(dir.path() / "missing.bin").string(), write_file("empty.bin", 0)}) {
    SCOPED_TRACE(path);
    window.clear();
    slot.run.filePath = path;
    EXPECT_EQ(engine::DownloadWorker(&slot), engine::DL_FILE_READ);
    EXPECT_EQ(trace(), (std::vector<std::string>{"S:read file error!",
                                                 "S:device1 errcode=3, read file error!", "R:0,0",
                                                 "F:0,100"}));
    EXPECT_EQ(openings, 0);
    EXPECT_EQ(slot.resultOk, 0);
    EXPECT_EQ(slot.upgraded, 0);
    EXPECT_EQ(slot.busy, 0);
    EXPECT_EQ(elapsed(), 0);
  }
}

TEST_F(WorkerTest, AFileNameTheCommandsCannotCarryIsRefusedBeforeAnythingIsSent) {
  for (const char* name : {"a\"b.bin", "a\rb.bin", "a\nb.bin", "a\tb.bin", "a,b.bin"}) {
    window.clear();
    slot.filePath = write_file(name, 10);
    take_snapshot();
    slot.index = 2;
    EXPECT_EQ(engine::DownloadWorker(&slot), engine::DL_FILE_READ);
    EXPECT_EQ(trace(), (std::vector<std::string>{"S:invalid file name!",
                                                 "S:device3 errcode=3, invalid file name!", "R:2,0",
                                                 "F:0,100"}));
    EXPECT_EQ(openings, 0);
  }
}

TEST_F(WorkerTest, AFailingSequenceIsRetriedOnceAndReportedOnce) {
  faults.refused = {"AT+CFSINIT"};
  EXPECT_EQ(engine::DownloadWorker(&slot), engine::DL_CFSINIT_FAILED);
  EXPECT_EQ(window.statuses(0),
            (std::vector<std::string>{"Prepare to download, please wait...",
                                      "Start downloading file...", "AT+CFSINIT failed!",
                                      "Start downloading file...", "AT+CFSINIT failed!",
                                      "download error!\r\n", "device1 errcode=11"}));
  EXPECT_EQ(commands(), (std::vector<std::string>{"AT", "ATE0", "AT+CFSINIT", "AT+CFSTERM",
                                                  "AT+CFSINIT", "AT+CFSTERM"}));
  EXPECT_EQ(slot.upgraded, 0);
}

TEST_F(WorkerTest, ARetryThatSucceedsStartsTheBarAgain) {
  faults.error_on_packet = 1;
  EXPECT_EQ(engine::DownloadWorker(&slot), engine::DL_OK);
  auto t = trace();
  std::vector<std::string> progress;
  for (auto& line : t)
    if (line.rfind("P:", 0) == 0) progress.push_back(line);
  EXPECT_EQ(progress,
            (std::vector<std::string>{"P:1024/2500", "P:2048/2500", "P:2500/2500", "P:1024/2500",
                                      "P:2048/2500", "P:2500/2500", "P:0/100", "P:0/100"}));
  EXPECT_EQ(sim.module->files().at("update.bin").size(), 2500u);
}

TEST_F(WorkerTest, TheCauseNamesTheFailureThatTheCodeNamesAndEveryProgramTellsTheRecordsText) {
  std::optional<testing_support::RecordingSink> sink(std::in_place);
  const std::string partial = "; the module may hold a partial update.bin";
  struct Case {
    const char* fault;
    int result;
    std::string cause;
  } cases[] = {
      // Pulled out during the data: the retry's code with both causes, in order.
      {"pull-after=1500", engine::DL_CFSINIT_FAILED,
       "Download packet write failed! ; retry: AT+CFSINIT failed! (device gone: COM4)" + partial},
      {"error-packet=1", engine::DL_OK, "passed on the retry after: Download packet return Error!"},
      {"refuse=AT+CFSINIT", engine::DL_CFSINIT_FAILED, "AT+CFSINIT failed!"},  // the same, once
      {"count-offset=1", engine::DL_BYTE_COUNT_FAILED, "Byte count match failed: 2501!" + partial},
      {"silent", engine::DL_AT_FAILED, "AT Failed!"},  // no retry without a handshake
      {"delay=0", engine::DL_OK, ""},
      // The port that opened on trial does not open after the settling wait.
      {"", engine::DL_AT_FAILED, "AT Failed! (OpenATPort Failed!: COM4 is not present)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    faults = {};
    if (*c.fault == '\0')
      platform::set_port_opener([](unsigned n, std::string* why) {
        *why = "COM" + std::to_string(n) + " is not present";
        return nullptr;
      });
    ASSERT_TRUE(*c.fault == '\0' || faults.parse(c.fault));
    platform::VirtualClock own_clock;
    platform::ScopedClock use(own_clock);
    slot.runEnabled = 1;
    EXPECT_EQ(engine::DownloadWorker(&slot), c.result);
    const engine::RunOutcome outcome = slot.notes.outcome();
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.cause, c.cause);
    EXPECT_TRUE(outcome.recorded);
    // The record the sink was given tells the same, once per run.
    ASSERT_FALSE(sink->records().empty());
    const engine::RunRecord record = sink->records().back();
    EXPECT_EQ(record.result, c.result);
    EXPECT_EQ(record.cause, c.cause);
    EXPECT_EQ(record.module, 1);
    EXPECT_EQ(record.com, 4);
  }
  EXPECT_EQ(sink->records().size(), std::size(cases));

  // Without a sink the run is the same, and nothing is recorded anywhere.
  sink.reset();
  slot.runEnabled = 1;
  platform::VirtualClock own_clock;
  platform::ScopedClock use(own_clock);
  EXPECT_EQ(engine::DownloadWorker(&slot), engine::DL_AT_FAILED);
  EXPECT_FALSE(slot.notes.outcome().recorded);
  EXPECT_EQ(slot.notes.outcome().not_recorded, "no record is kept");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "runs.csv"));
}

namespace {

// Whether `imei` is 15 digits whose last is the check digit of the others.
bool valid_imei(const std::string& imei) {
  if (imei.size() != 15 || imei.find_first_not_of("0123456789") != std::string::npos) return false;
  int sum = 0;
  for (size_t k = 0; k < 15; ++k) {
    const int d = (imei[k] - '0') * (k % 2 == 1 ? 2 : 1);
    sum += d / 10 + d % 10;
  }
  return sum % 10 == 0;
}

}  // namespace

// Asked for its identity, a module that answers is recorded with it; one that answers ERROR or
// nothing still passes, with the field empty. Every run has an id of its own and its attempts.
TEST_F(WorkerTest, TheIdentityIsRecordedWhenAskedAndNeverFailsTheRun) {
  testing_support::RecordingSink sink;
  slot.run.identify = true;
  struct Case {
    const char* fault;
    bool imei;
    bool revision;
    int attempts;
  } cases[] = {
      {"delay=0", true, true, 1},
      {"refuse=AT+CGSN", false, true, 1},
      {"silent-identity", false, false, 1},
      {"error-packet=1", true, true, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    faults = {};
    ASSERT_TRUE(faults.parse(c.fault));
    platform::VirtualClock own_clock;
    platform::ScopedClock use(own_clock);
    slot.runEnabled = 1;
    EXPECT_EQ(engine::DownloadWorker(&slot), engine::DL_OK);
    const std::vector<std::string> sent = commands();
    ASSERT_GE(sent.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(sent.begin(), sent.begin() + 5),
              (std::vector<std::string>{"AT", "ATE0", "AT+CGSN", "AT+CGMR", "AT+CFSINIT"}));
    const engine::RunRecord record = sink.records().back();
    EXPECT_EQ(valid_imei(record.identity.imei), c.imei) << record.identity.imei;
    EXPECT_EQ(record.identity.revision, c.revision ? "SIMREV 1.0" : "");
    EXPECT_EQ(record.attempts, c.attempts);
    EXPECT_EQ(slot.notes.outcome().record.identity.imei, record.identity.imei);
  }
  // Ids: version 4, of the RFC's variant, a new one for every run.
  const std::vector<engine::RunRecord> records = sink.records();
  for (size_t k = 0; k < records.size(); ++k) {
    const std::string& id = records[k].run_id;
    ASSERT_EQ(id.size(), 36u);
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef-"), std::string::npos) << id;
    EXPECT_EQ(id.substr(8, 1) + id.substr(13, 1) + id.substr(18, 1) + id.substr(23, 1), "----");
    EXPECT_EQ(id[14], '4');
    EXPECT_NE(std::string("89ab").find(id[19]), std::string::npos) << id;
    for (size_t j = 0; j < k; ++j) EXPECT_NE(records[j].run_id, id);
  }

  // Not asked: nothing but the described exchange is sent, and the fields stay empty.
  slot.run.identify = false;
  faults = {};
  platform::VirtualClock own_clock;
  platform::ScopedClock use(own_clock);
  slot.runEnabled = 1;
  EXPECT_EQ(engine::DownloadWorker(&slot), engine::DL_OK);
  EXPECT_EQ(commands().at(2), "AT+CFSINIT");
  EXPECT_EQ(sink.records().back().identity.imei, "");
  EXPECT_EQ(sink.records().back().attempts, 1);
}

TEST_F(WorkerTest, StopRequestDuringTheHandshakeSendsNoFileCommand) {
  faults.silent = true;
  on_open = [this](testing_support::ScriptedModule&) {};
  int ats = 0;
  platform::set_port_opener([&](unsigned, std::string*) {
    sim = testing_support::make_simulated_port(faults);
    auto port = std::make_shared<testing_support::ScriptedModule>(
        [&](testing_support::ScriptedModule&, std::string_view) {
          if (++ats == 2) slot.runEnabled = 0;
        });
    sim.port = port;
    return port;
  });
  EXPECT_EQ(engine::DownloadWorker(&slot), engine::DL_PAUSED);
  EXPECT_EQ(ats, 2);
  EXPECT_EQ(window.statuses(0).back(), "device1 errcode=15");
}

TEST_F(WorkerTest, StopRequestDuringTheTransferEndsAtThePacketBoundaryAndTheRetryPausesToo) {
  slot.run.filePath = write_file("big.bin", 25000);
  slot.run.fileName = "big.bin";
  on_open = [this](testing_support::ScriptedModule&) {};
  std::shared_ptr<simulator::SimulatedModule> module;
  int data = 0;
  platform::set_port_opener([&](unsigned, std::string*) {
    module = std::make_shared<simulator::SimulatedModule>();
    return std::make_shared<testing_support::ScriptedModule>(
        [&](testing_support::ScriptedModule& m, std::string_view block) {
          if (block.size() == 1024 && ++data == 5) slot.runEnabled = 0;
          for (auto& r : module->receive(block)) m.reply(r.bytes, r.delay_ms);
        });
  });
  EXPECT_EQ(engine::DownloadWorker(&slot), engine::DL_PAUSED);
  EXPECT_EQ(data, 10);  // the first packet was completed
  EXPECT_EQ(module->commands(),
            (std::vector<std::string>{"AT", "ATE0", "AT+CFSINIT",
                                      "AT+CFSWFILE=0,\"big.bin\",0,10240,10000", "AT+CFSTERM",
                                      "AT+CFSINIT", "AT+CFSTERM"}));
  EXPECT_EQ(slot.resultOk, 0);
}

TEST_F(WorkerTest, TheRunKeepsToItsSnapshot) {
  // Settings changed while the run is under way take effect at the next run only.
  faults.error_on_packet = 1;  // forces the retry
  on_open = [this](testing_support::ScriptedModule&) {
    slot.filePath = "/elsewhere/other.bin";
    slot.atPort = 9;
    slot.sleepTime = 1;
  };
  EXPECT_EQ(engine::DownloadWorker(&slot), engine::DL_OK);
  EXPECT_EQ(opened_port, 4u);
  EXPECT_EQ(sim.module->files().count("update.bin"), 1u);
  EXPECT_EQ(sim.module->files().count("other.bin"), 0u);
}

TEST_F(WorkerTest, EverySimulatedFaultEndsWithinItsProtocolMaximum) {
  // The longest a run may take: settling, 30 unanswered AT, 10 refused ATE0, and two sequences in
  // which every exchange waits for all its polls and every write stalls for one second.
  const int64_t exchange = 20 + 300 + 50 * 50 + 1000;
  const int64_t packet = 20 + 50 * 50 + 1000 + 200 + 3 * (1000 + 120) + 100 * 50;
  const int64_t sequence = exchange + packet + 4 * exchange;
  const int64_t maximum = 8000 + 30 * 520 + 10 * 3120 + 2 * sequence;
  const int kAnyFailure = -1;
  struct Case {
    const char* fault;
    int result;
  } cases[] = {
      {"silent", engine::DL_AT_FAILED},
      {"split", engine::DL_AT_FAILED},
      {"delay=3000", kAnyFailure},  // late answers are taken for later commands
      {"delay=400", engine::DL_OK},
      {"error-packet=1", engine::DL_OK},
      {"count-offset=1", engine::DL_BYTE_COUNT_FAILED},
      {"count-text=x", engine::DL_BYTE_COUNT_FAILED},
      {"count-no-crlf", engine::DL_BYTE_COUNT_FAILED},
      {"refuse=ATE0", engine::DL_ATE0_FAILED},
      {"refuse=AT+CFSWFILE", engine::DL_CFSWFILE_FAILED},
      {"refuse=AT+CFSTERM", engine::DL_CFSTERM_FAILED},
      {"refuse=AT+CBAPPS", engine::DL_CBAPPS_FAILED},
      {"stall-after=1500", engine::DL_CFSINIT_FAILED},  // the retry cannot even begin
      {"pull-after=1500", engine::DL_CFSINIT_FAILED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    faults = {};
    ASSERT_TRUE(faults.parse(c.fault));
    platform::VirtualClock own_clock;
    platform::ScopedClock use(own_clock);
    slot.runEnabled = 1;
    int result = engine::DownloadWorker(&slot);
    if (c.result == kAnyFailure)
      EXPECT_NE(result, engine::DL_OK);
    else
      EXPECT_EQ(result, c.result);
    EXPECT_LE(own_clock.now_ms(), maximum);
  }
}

TEST(FileReadTest, OnlyWholeRegularFilesAreLoaded) {
  testing_support::TempDir dir;
  int32_t size = -7;
  EXPECT_EQ(engine::file_read(dir.str(), &size), nullptr);
#ifdef _WIN32
  EXPECT_EQ(engine::file_read("NUL", &size), nullptr);
#else
  EXPECT_EQ(engine::file_read("/dev/zero", &size), nullptr);
  ASSERT_EQ(::mkfifo((dir.path() / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(engine::file_read((dir.path() / "fifo").string(), &size), nullptr);
#endif
  EXPECT_EQ(engine::file_read((dir.path() / "none").string(), &size), nullptr);
  EXPECT_EQ(size, -7);

  std::string content("OK\0ERROR\r\nDOWNLOAD", 18);
  std::ofstream(dir.path() / "f", std::ios::binary) << content;
  auto data = engine::file_read((dir.path() / "f").string(), &size);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(size, 18);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data.get()), 18), content);
}

TEST(FileReadTest, AFileThatChangesWhileItIsReadIsRefused) {
  testing_support::TempDir dir;
  const std::string path = (dir.path() / "f.bin").string();
  int32_t size = 0;
  struct Case {
    const char* what;
    std::function<void(const std::string&)> change;
  } cases[] = {
      {"grown", [](const std::string& p) { std::ofstream(p, std::ios::app) << "more"; }},
      {"cut", [](const std::string& p) { std::filesystem::resize_file(p, 10); }},
      {"rewritten in place at a later time",
       [](const std::string& p) {
         std::fstream(p, std::ios::in | std::ios::out | std::ios::binary) << "XY";
         std::filesystem::last_write_time(
             p, std::filesystem::last_write_time(p) + std::chrono::hours(24 * 365));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(100, 'a');
    engine::set_file_read_interleave(c.change);
    EXPECT_EQ(engine::file_read(path, &size), nullptr);
  }
#ifndef _WIN32  // Windows replaces no file that is open
  // Replaced by a new file under the same name: the open file is still read whole and unchanged.
  std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(100, 'a');
  engine::set_file_read_interleave([](const std::string& p) {
    std::ofstream(p + ".new", std::ios::binary) << "other";
    std::filesystem::rename(p + ".new", p);
  });
  auto data = engine::file_read(path, &size);
  engine::set_file_read_interleave({});
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data.get()), size), std::string(100, 'a'));
#else
  engine::set_file_read_interleave({});
#endif
}

TEST(FileNameTest, TheNameIsThePartAfterTheLastSlash) {
  std::string why;
  EXPECT_EQ(engine::module_file_name("/a/b/c.bin", &why), "c.bin");
  EXPECT_EQ(engine::module_file_name("c.bin", &why), "c.bin");
#ifdef _WIN32
  EXPECT_EQ(engine::module_file_name("C:\\dir\\name.bin", &why), "name.bin");
#else
  EXPECT_EQ(engine::module_file_name("C:\\dir\\name.bin", &why), "C:\\dir\\name.bin");
#endif
  EXPECT_EQ(engine::module_file_name("/a/b/", &why), "");
  EXPECT_FALSE(why.empty());
  EXPECT_EQ(engine::module_file_name("/a/x;AT+CBAPPS", &why), "");
}
