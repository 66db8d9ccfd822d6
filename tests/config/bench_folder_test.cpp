// A bench folder whose name holds Chinese characters, as the working directory, with an update file
// named in Chinese: the settings, the device table, the bench lock, the AT traffic log, the record
// of runs and a debug file all live there, and the module stores the file under its name in UTF-8.
// On Windows every path reaches the system in UTF-16; ctest runs this program there once more in a
// Chinese locale, whose ANSI code page is 936.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "config/device_table.h"
#include "config/settings.h"
#include "engine/at_log.h"
#include "engine/file_image.h"
#include "engine/module_slot.h"
#include "engine/run_control.h"
#include "engine/run_record.h"
#include "engine/runs_csv.h"
#include "platform/bench_lock.h"
#include "platform/com_ports.h"
#include "platform/debug_file.h"
#include "platform/debug_output.h"
#include "platform/executable_dir.h"
#include "platform/files.h"
#include "platform/utf8_path.h"
#include "platform/virtual_clock.h"
#include "tests/support/message_recorder.h"
#include "tests/support/simulated_port.h"
#include "tests/support/temp_dir.h"
#ifdef _WIN32
#include "platform/win/wide_text.h"
#endif

namespace {

namespace fs = std::filesystem;
using platform::utf8_path;

const std::string kUpdateContent = "fota image \x01\x02\xFF\r\n" + std::string(3000, 'q');

void write_bytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// The fields of the last record of runs.csv.
std::vector<std::string> last_record(const fs::path& runs) {
  std::string text = testing_support::read_file(runs);
  if (text.size() < 2) return {};
  text.resize(text.size() - 2);
  std::vector<std::string> fields;
  size_t count = 0;
  engine::split_csv_record(text.substr(text.rfind("\r\n") + 2), fields, count);
  return fields;
}

std::string field(const std::vector<std::string>& fields, engine::RunColumn column) {
  const size_t k = static_cast<size_t>(column);
  return k < fields.size() ? fields[k] : "<no such field>";
}

class BenchFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bench = root.path() / utf8_path("测试台");
    fs::create_directory(bench);
    in_bench.emplace(bench);
    platform::set_port_opener([this](unsigned, std::string*) {
      modules.push_back(testing_support::make_simulated_port());
      return std::shared_ptr<platform::SerialPort>(modules.back().port);
    });
  }
  void TearDown() override {
    for (engine::ModuleSlot& slot : engine::slots()) engine::join_worker(slot);
    platform::set_port_opener({});
  }

  // The working directory, as the tool sees it, with its final separator.
  std::string bench_text() const { return platform::working_directory(); }

  // Runs Module1 as START does, with the settings as loaded, to its end.
  void run_module1() {
    config::load_settings();
    config::LoadFilePath();
    engine::ModuleSlot& slot = engine::slots()[0];
    ASSERT_EQ(engine::start_module(slot), engine::StartOutcome::started);
    engine::join_worker(slot);
  }

  // The file stored on the module of the last run, under `name`.
  std::optional<std::string> stored(const std::string& name) const {
    const auto& files = modules.back().module->files();
    const auto found = files.find(name);
    if (found == files.end()) return std::nullopt;
    return found->second;
  }

  std::string stored_names() const {
    std::string names;
    for (const auto& [name, content] : modules.back().module->files()) names += "'" + name + "' ";
    return names;
  }

  platform::VirtualClock clock;
  platform::ScopedClock use_clock{clock};
  testing_support::MessageRecorder window;
  testing_support::TempDir root;
  fs::path bench;
  std::optional<testing_support::ScopedWorkingDirectory> in_bench;
  std::vector<testing_support::SimulatedPort> modules;
};

}  // namespace

TEST_F(BenchFolderTest, EverythingOfARunLivesInTheChineseNamedFolderUnderItsOwnName) {
  const std::string folder = bench_text();
  ASSERT_EQ(folder, platform::utf8_text(bench) + folder.back());

  // The bench lock is the folder's own; a second holder is told who holds it.
  platform::LockRefusal refusal;
  auto lock = platform::BenchLock::acquire(folder, &refusal);
  ASSERT_TRUE(lock) << refusal.reason;
  EXPECT_EQ(testing_support::read_file(bench / "ZEBL.lock"), platform::holder_record());
  EXPECT_FALSE(platform::BenchLock::acquire(folder, &refusal));
  EXPECT_TRUE(refusal.held);
  EXPECT_EQ(refusal.holder, platform::process_id());

  // The debug file named in Chinese, beside the settings.
  std::string why;
  auto debug = platform::DebugFile::open(folder + "调试.log", &why);
  ASSERT_TRUE(debug) << why;

  // The update file's path is written into the settings and read back whole; a file saved with a
  // UTF-8 mark keeps it.
  const std::string update = folder + "升级包 v2.bin", other = folder + "第二个.bin";
  write_bytes(utf8_path(update), kUpdateContent);
  write_bytes(bench / "ZEBL.ini", "[FilePath]\r\nSleepTime=0\r\n[ATPort_First]\r\nnumber=3\r\n");
  write_bytes(bench / "ZEBL.cfg", "A1,5,B2,1F,2e\r\n");
  ASSERT_TRUE(config::SaveFilePath(update));
  EXPECT_EQ(testing_support::read_file(bench / "ZEBL.ini"),
            "[FilePath]\r\nSleepTime=0\r\nPath=" + update + "\r\n[ATPort_First]\r\nnumber=3\r\n");
  EXPECT_EQ(config::LoadFilePath(), update);
  const std::string mark = "\xEF\xBB\xBF";
  write_bytes(bench / "ZEBL.ini", mark + testing_support::read_file(bench / "ZEBL.ini"));
  ASSERT_TRUE(config::SaveFilePath(other));
  EXPECT_EQ(config::LoadFilePath(), other);
  ASSERT_TRUE(config::SaveFilePath(update));
  EXPECT_EQ(
      testing_support::read_file(bench / "ZEBL.ini"),
      mark + "[FilePath]\r\nSleepTime=0\r\nPath=" + update + "\r\n[ATPort_First]\r\nnumber=3\r\n");
  EXPECT_EQ(config::load_settings(), 1);  // the device table of the folder
  EXPECT_EQ(config::device_table().deviceCount, 1);

  run_module1();
  EXPECT_EQ(engine::slots()[0].exitCode, engine::DL_OK);
  EXPECT_EQ(stored("升级包 v2.bin"), kUpdateContent) << "stored as " << stored_names();

  // The AT traffic log and the record of runs are the folder's; both name the file in UTF-8.
  EXPECT_EQ(engine::at_log_directory(), folder);
  const std::string log = testing_support::read_file(bench / "AtLog_1.ini");
  EXPECT_NE(log.find("AT+CFSWFILE=0,\"升级包 v2.bin\",0,"), std::string::npos) << log;
  const auto record = last_record(bench / "runs.csv");
  EXPECT_EQ(field(record, engine::RunColumn::file), update);
  EXPECT_EQ(field(record, engine::RunColumn::result), "0");

  // The debug file's lines end as on Linux.
  platform::debug_output("\r\n");
  platform::debug_output("loaded " + update);
  debug.reset();
  const std::string traces = testing_support::read_file(bench / utf8_path("调试.log"));
  EXPECT_NE(traces.find(" read_cfgini_file() read success.\n"), std::string::npos) << traces;
  EXPECT_NE(traces.find(" loaded " + update + "\n"), std::string::npos) << traces;
  EXPECT_EQ(traces.find('\r'), std::string::npos);
}

// A settings file written by an older tool in the ANSI code page of a Chinese system (936) names
// the same file as its UTF-8 twin, and the module gets the same name; a path saved later is UTF-8.
// On Linux there is no code page: the bytes are the name of a file named so, and are sent so.
TEST_F(BenchFolderTest, SettingsInCodePage936NameTheFileAsTheirUtf8TwinDoes) {
  const std::string folder = bench_text();
  // 誠's second byte in 936 is a backslash: a path cut at its separators before it is converted
  // gives the module a different name.
  const std::string name = "升级包_誠.bin";
#ifdef _WIN32
  // ctest runs this as on a Chinese system (the CodePage936 run).
  ASSERT_EQ(::GetACP(), 936u);
  const std::wstring wide = platform::win::widen(folder + name);
  std::string ansi(wide.size() * 2, '\0');
  BOOL lossy = FALSE;
  ansi.resize(::WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, wide.data(),
                                    static_cast<int>(wide.size()), ansi.data(),
                                    static_cast<int>(ansi.size()), nullptr, &lossy));
  ASSERT_FALSE(lossy);
  ASSERT_NE(ansi.find("\xD5\\"), std::string::npos);       // 誠
  const std::string path = folder + name, sent_as = name;  // UTF-8, whatever the file held
#else
  const std::string gbk_name = "\xC9\xFD\xBC\xB6\xB0\xFC_\xD5\\.bin";
  const std::string ansi = folder + gbk_name, path = ansi, sent_as = gbk_name;
#endif
  write_bytes(utf8_path(path), kUpdateContent);
  write_bytes(bench / "ZEBL.ini",
              "[FilePath]\r\nPath=" + ansi + "\r\nSleepTime=0\r\n[ATPort_First]\r\nnumber=3\r\n");
  EXPECT_EQ(config::LoadFilePath(), path);
  run_module1();
  EXPECT_EQ(engine::slots()[0].exitCode, engine::DL_OK);
  EXPECT_EQ(stored(sent_as), kUpdateContent) << "stored as " << stored_names();
  EXPECT_EQ(field(last_record(bench / "runs.csv"), engine::RunColumn::file), path);

  const std::string utf8 = folder + "升级包.bin";
  ASSERT_TRUE(config::SaveFilePath(utf8));
  EXPECT_EQ(config::LoadFilePath(), utf8);
}
