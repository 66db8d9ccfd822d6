// A bench folder named in Chinese as the working directory holds the settings, the device table,
// the bench lock, the AT traffic log, the record of runs and a debug file; the module stores an
// update file named in Chinese under its UTF-8 name. Under Wine also as on a Chinese system.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <optional>
#include <string>

#include "config/device_table.h"
#include "config/settings.h"
#include "engine/at_log.h"
#include "engine/run_control.h"
#include "platform/bench_lock.h"
#include "platform/com_ports.h"
#include "platform/debug_file.h"
#include "platform/debug_output.h"
#include "platform/executable_dir.h"
#include "platform/utf8_path.h"
#include "platform/virtual_clock.h"
#include "station/run_record.h"
#include "tests/support/message_recorder.h"
#include "tests/support/simulated_port.h"
#include "tests/support/temp_dir.h"
#ifdef _WIN32
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;
using platform::utf8_path;
using testing_support::read_file;

const std::string kContent = "fota \x01\xFF\r\n" + std::string(3000, 'q');

class BenchFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine::set_record_sink(station::record_run);  // as the programs record their runs
    fs::create_directory(bench);
    in_bench.emplace(bench);
    platform::set_port_opener([this](unsigned, std::string*) {
      module = testing_support::make_simulated_port();
      return std::shared_ptr<platform::SerialPort>(module.port);
    });
  }
  void TearDown() override { platform::set_port_opener({}); }

  // Runs Module1 as START does, with the settings as loaded: the files the module then holds.
  std::map<std::string, std::string> run_module1() {
    config::load_settings();
    config::LoadFilePath();
    engine::ModuleSlot& slot = engine::slots()[0];
    EXPECT_EQ(engine::start_module(slot), engine::StartOutcome::started);
    engine::join_worker(slot);
    EXPECT_EQ(slot.exitCode, engine::DL_OK);
    return module.module ? module.module->files() : std::map<std::string, std::string>{};
  }

  platform::VirtualClock clock;
  platform::ScopedClock use_clock{clock};
  testing_support::MessageRecorder window;
  testing_support::TempDir root;
  const fs::path bench = root.path() / utf8_path("测试台");
  std::optional<testing_support::ScopedWorkingDirectory> in_bench;
  testing_support::SimulatedPort module;
};

}  // namespace

TEST_F(BenchFolderTest, EverythingOfARunLivesInTheChineseNamedFolderUnderItsOwnName) {
  const std::string folder = platform::working_directory();
  ASSERT_EQ(folder, platform::utf8_text(bench) + folder.back());
  EXPECT_EQ(config::settings_path_in(folder), folder + "ZEBL.ini");

  // The bench lock is the folder's own; a second holder is told who holds it.
  platform::LockRefusal refusal;
  auto lock = platform::BenchLock::acquire(folder, &refusal);
  ASSERT_TRUE(lock) << refusal.reason;
  EXPECT_EQ(read_file(bench / "ZEBL.lock"), platform::holder_record());
  EXPECT_FALSE(platform::BenchLock::acquire(folder, &refusal));
  EXPECT_EQ(refusal.holder, platform::process_id());

  std::string why;
  auto debug = platform::DebugFile::open(folder + "调试.log", &why);
  ASSERT_TRUE(debug) << why;

  // The update file's path is saved and read back whole, with and without a UTF-8 mark.
  const std::string update = folder + "升级包 v2.bin";
  std::ofstream(utf8_path(update), std::ios::binary) << kContent;
  const std::string ports = "[ATPort_First]\r\nnumber=3\r\n";
  for (const std::string mark : {"", "\xEF\xBB\xBF"}) {
    std::ofstream(bench / "ZEBL.ini", std::ios::binary)
        << mark + "[FilePath]\r\nSleepTime=0\r\n" + ports;
    ASSERT_TRUE(config::SaveFilePath(update));
    EXPECT_EQ(read_file(bench / "ZEBL.ini"),
              mark + "[FilePath]\r\nSleepTime=0\r\nPath=" + update + "\r\n" + ports);
    EXPECT_EQ(config::LoadFilePath(), update);
  }
  std::ofstream(bench / "ZEBL.cfg", std::ios::binary) << "A1,5,B2,1F,2e\r\n";
  EXPECT_EQ(config::load_settings(), 1);  // the folder's device table
  EXPECT_EQ(config::device_table().deviceCount, 1);

  EXPECT_EQ(run_module1()["升级包 v2.bin"], kContent);
  // The AT traffic log and the record of runs are the folder's; both name the file in UTF-8.
  EXPECT_EQ(engine::at_log_directory(), folder);
  EXPECT_NE(read_file(bench / "AtLog_1.ini").find("AT+CFSWFILE=0,\"升级包 v2.bin\",0,"),
            std::string::npos);
  EXPECT_NE(read_file(bench / "runs.csv").find("," + update + ",3009,"), std::string::npos);

  // The debug file's lines end as on Linux.
  platform::debug_output("\r\nloaded " + update);
  debug.reset();
  const std::string traces = read_file(bench / utf8_path("调试.log"));
  EXPECT_NE(traces.find(" loaded " + update + "\n"), std::string::npos) << traces;
  EXPECT_EQ(traces.find('\r'), std::string::npos);
}

// Settings that an older tool wrote in the ANSI code page of a Chinese system (936) name the file
// as their UTF-8 twin does, and the module gets the same name. On Linux there is no code page: the
// bytes are the name of a file named so, and are sent so.
TEST_F(BenchFolderTest, SettingsInCodePage936NameTheFileAsTheirUtf8TwinDoes) {
  // 升级包_誠.bin in 936: the second byte of 誠 is a backslash, which must not cut the name.
  const std::string written = "\xC9\xFD\xBC\xB6\xB0\xFC_\xD5\\.bin";
#ifdef _WIN32
  ASSERT_EQ(::GetACP(), 936u) << "ctest runs this as on a Chinese system (CodePage936.*)";
  const std::string name = "升级包_誠.bin";
#else
  const std::string name = written;
#endif
  std::ofstream(utf8_path(name), std::ios::binary) << kContent;
  std::ofstream(bench / "ZEBL.ini", std::ios::binary)
      << "[FilePath]\r\nPath=" + written + "\r\nSleepTime=0\r\n[ATPort_First]\r\nnumber=3\r\n";
  EXPECT_EQ(config::LoadFilePath(), name);
  EXPECT_EQ(run_module1()[name], kContent);
  EXPECT_NE(read_file(bench / "runs.csv").find("," + name + ",3009,"), std::string::npos);
}
