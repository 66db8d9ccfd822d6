// The settings file: every section, key and default, the port writers, and reloads.
#include "config/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "config/private_profile.h"
#include "engine/notifications.h"
#include "engine/serial_link.h"
#include "platform/executable_dir.h"
#include "tests/support/debug_capture.h"
#include "tests/support/message_recorder.h"
#include "tests/support/pseudo_terminal.h"
#include "tests/support/temp_dir.h"

using testing_support::read_file;

namespace {

[[maybe_unused]] bool said(const testing_support::DebugCapture& debug, const std::string& part) {
  for (const std::string& line : debug.writes())
    if (line.find(part) != std::string::npos) return true;
  return false;
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { config::load_settings(); }
  void TearDown() override {
    for (engine::ModuleSlot& slot : engine::slots()) {
      slot.workerRunning = false;
      if (slot.hThread.joinable()) slot.hThread.join();
    }
    config::load_settings();  // leaves no port open and no image behind
  }
  void write_settings(const std::string& content) {
    std::ofstream(ini, std::ios::binary) << content;
  }
  // Loads as the dialog does at start-up and on Save.
  void load() {
    config::LoadFilePath();
    config::load_settings();
  }
  std::string key_line(const std::string& section) {
    return config::get_private_profile_string(section, "number", "<missing>", ini);
  }

  testing_support::TempDir bench;
  testing_support::ScopedWorkingDirectory cwd{bench.path()};
  std::string ini = (bench.path() / "ZEBL.ini").string();
  testing_support::MessageRecorder window;
  std::array<engine::ModuleSlot, engine::kModuleCount>& slots = engine::slots();
};

}  // namespace

TEST_F(SettingsTest, WithoutAFileEveryDefaultApplies) {
  testing_support::DebugCapture debug;
  EXPECT_EQ(config::LoadFilePath(), "");
  EXPECT_EQ(config::load_settings(), 0);
  EXPECT_EQ(debug.count("read_cfgini_file() read failed."), 1);
  for (int k = 0; k < engine::kModuleCount; ++k) {
    const engine::ModuleSlot& s = slots[k];
    EXPECT_EQ(s.index, k);
    EXPECT_EQ(s.atPort, 0);
    EXPECT_EQ(s.diagPort, 0);
    EXPECT_EQ(s.filePath, "");
    EXPECT_EQ(s.sleepTime, 8000);
    EXPECT_EQ(s.selectType, 0);
    EXPECT_EQ(s.onlyUpgradeScript, 0);
    EXPECT_EQ(s.upgraded, 1);
    EXPECT_EQ(s.resultOk, 0);
    EXPECT_EQ(s.workDir, platform::working_directory());
  }
  EXPECT_FALSE(std::filesystem::exists(ini));
}

TEST_F(SettingsTest, ReadsEveryKeyAsANumberTheWayAtolDoes) {
  write_settings(
      "[FilePath]\r\nPath=/srv/update files/fw.bin\r\nSleepTime= 250ms\r\n"
      "[ATPort_First]\r\nnumber=7x\r\n[ATPort_Second]\r\nnumber=\r\n[ATPort_Third]\r\nnumber="
      "abc\r\n"
      "[atport_fourth]\r\nNUMBER=  +12\r\n[ATPort_Sixth]\r\nnumber=99999999999\r\n"
      "[DiagPort_Fifth]\r\nnumber=3\r\n[OnlyUpgradeScript]\r\nenable=1\r\n"
      "[SeLectType]\r\nenable=2\r\n[Other]\r\nSleepTime=1\r\n");
  load();
  const int32_t at[] = {7, 0, 0, 12, 0, 2147483647};
  for (int k = 0; k < engine::kModuleCount; ++k) {
    EXPECT_EQ(slots[k].atPort, at[k]) << k;
    EXPECT_EQ(slots[k].diagPort, k == 4 ? 3 : 0) << k;
    EXPECT_EQ(slots[k].filePath, "/srv/update files/fw.bin");
    EXPECT_EQ(slots[k].sleepTime, 250);
    EXPECT_EQ(slots[k].onlyUpgradeScript, 1);  // the stored Upgrade Type is applied
    EXPECT_EQ(slots[k].selectType, 2);         // kept as read: the Type list shows no row
  }
  write_settings("[OnlyUpgradeScript]\nenable=2\n");
  load();
  EXPECT_EQ(slots[0].onlyUpgradeScript, 0);
}

TEST_F(SettingsTest, SleepTimeBelowZeroOrBeyondTenMinutesIsBounded) {
  testing_support::DebugCapture debug;
  const std::pair<std::string, int32_t> cases[] = {{"-5", 0},
                                                   {"600000", 600000},
                                                   {"600001", 600000},
                                                   {"99999999999999999999", 600000},
                                                   {"soon", 0}};
  for (const auto& [text, ms] : cases) {
    write_settings("[FilePath]\nSleepTime=" + text + "\n");
    config::LoadFilePath();
    for (const engine::ModuleSlot& s : slots) EXPECT_EQ(s.sleepTime, ms) << text;
  }
  EXPECT_EQ(debug.count("LoadFilePath() SleepTime -5 is out of range; 0 ms used."), 1);
}

// A re-arm time of 0 would start a module again each time it restarts after its update.
TEST_F(SettingsTest, ReArmSecondsIsReadFromStationWithinOneSecondAndADay) {
  testing_support::DebugCapture debug;
  EXPECT_EQ(config::load_rearm_seconds(), 60);  // no file
  const std::pair<std::string, int64_t> cases[] = {
      {"2", 2}, {"0", 60}, {"soon", 60}, {"90000", 86400}};
  for (const auto& [text, seconds] : cases) {
    write_settings("[Station]\nReArmSeconds=" + text + "\n");
    EXPECT_EQ(config::load_rearm_seconds(), seconds) << text;
  }
  EXPECT_EQ(debug.count("load_rearm_seconds() ReArmSeconds 0 is out of range; 60 s used."), 1);
}

TEST_F(SettingsTest, APathIsKeptWholeOrNotUsedButNeverCut) {
  const std::string long_path = "/srv/" + std::string(400, 'p') + "/fw.bin";
  ASSERT_TRUE(config::SaveFilePath(long_path));
  EXPECT_EQ(config::LoadFilePath(), long_path);
  config::load_settings();
  EXPECT_EQ(slots[5].filePath, long_path);

  testing_support::DebugCapture debug;
  ASSERT_TRUE(config::SaveFilePath(std::string(config::kMaxPathLength + 1, 'p')));
  EXPECT_EQ(config::LoadFilePath(), "");
  config::load_settings();
  EXPECT_EQ(slots[0].filePath, "");
  EXPECT_EQ(debug.count("LoadFilePath() Path of 4096 characters is too long and is not used."), 1);
}

TEST_F(SettingsTest, PortAndOptionWritersUseTheFolderOfTheLastLoad) {
  ASSERT_TRUE(config::save_port_setting(1, config::kAtPortKind, 5));
  ASSERT_TRUE(config::save_port_setting(5, config::kDiagPortKind, 12));
  ASSERT_TRUE(config::save_only_upgrade_script_option(1));
  ASSERT_TRUE(config::save_select_type_option(1));
  EXPECT_FALSE(config::save_port_setting(6, config::kAtPortKind, 1));
  EXPECT_FALSE(config::save_port_setting(0, 2, 1));
  EXPECT_EQ(read_file(ini),
            "[ATPort_Second]\r\nnumber=5\r\n[DiagPort_Sixth]\r\nnumber=12\r\n"
            "[OnlyUpgradeScript]\r\nenable=1\r\n[SeLectType]\r\nenable=1\r\n");

  // In another working directory, the writers keep to the file of the last load until a reload.
  testing_support::TempDir elsewhere;
  testing_support::ScopedWorkingDirectory moved(elsewhere.path());
  ASSERT_TRUE(config::save_select_type_option(0));
  EXPECT_EQ(config::get_private_profile_string("SeLectType", "enable", "", ini), "0");
  EXPECT_FALSE(std::filesystem::exists(elsewhere.path() / "ZEBL.ini"));
  load();
  EXPECT_EQ(slots[1].atPort, 0);  // the new folder has no settings
  ASSERT_TRUE(config::save_port_setting(0, config::kAtPortKind, 9));
  EXPECT_TRUE(std::filesystem::exists(elsewhere.path() / "ZEBL.ini"));
  EXPECT_EQ(key_line("ATPort_First"), "<missing>");
}

TEST_F(SettingsTest, ADuplicatePortIsReleasedOnceAndOnlyForItsKind) {
  write_settings(
      "[ATPort_Second]\nnumber=2\n[ATPort_Fourth]\nnumber=5\n[ATPort_Sixth]\nnumber=5\n"
      "[DiagPort_First]\nnumber=5\n[DiagPort_Second]\nnumber=3\n");
  load();
  // The port list's sequence for Module2 confirming COM5.
  slots[1].atPort = 5;
  config::save_port_setting(1, config::kAtPortKind, 5);
  config::release_duplicate_port(1, config::kAtPortKind, 5);
  EXPECT_EQ(key_line("ATPort_Second"), "5");
  EXPECT_EQ(key_line("ATPort_Fourth"), "");
  EXPECT_EQ(key_line("ATPort_Sixth"), "");
  EXPECT_EQ(key_line("DiagPort_First"), "5");
  EXPECT_EQ(slots[3].atPort, 0);
  EXPECT_EQ(slots[5].atPort, 0);
  EXPECT_EQ(slots[1].atPort, 5);
  EXPECT_EQ(slots[0].diagPort, 5);
  auto m = window.messages();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].msg, 1136u);
  EXPECT_EQ(m[0].wParam, 0u);
  EXPECT_EQ(m[0].lParam, 0);

  // Module1 confirms AT port COM3 while Module2's Diag port is 3: nothing of Module2 changes.
  config::release_duplicate_port(0, config::kAtPortKind, 3);
  config::release_duplicate_port(6, config::kAtPortKind, 5);
  config::release_duplicate_port(0, 2, 5);
  EXPECT_EQ(window.messages().size(), 1u);
  EXPECT_EQ(slots[1].diagPort, 3);
  EXPECT_EQ(slots[1].atPort, 5);
  EXPECT_EQ(key_line("DiagPort_Second"), "3");
}

#ifndef _WIN32  // pseudo-terminals, and the path limit of a POSIX system
TEST_F(SettingsTest, AReloadLeavesARunningSlotWholeAndReleasesTheOthers) {
  testing_support::PseudoTerminal running_pty, idle_pty;
  running_pty.link_as(bench.path() / "ports", 7);
  idle_pty.link_as(bench.path() / "ports", 8);
  write_settings("[ATPort_First]\nnumber=9\n[ATPort_Second]\nnumber=10\n[FilePath]\nPath=/b\n");

  engine::ModuleSlot& running = slots[0];
  running.atPort = 7;
  ASSERT_EQ(engine::OpenATPort(running), 1);
  auto running_port = running.hAT.get();
  running.fileData = std::make_unique<uint8_t[]>(4);
  running.fileSize = 4;
  const uint8_t* image = running.fileData.get();
  running.run.filePath = "/a";
  running.run.atPort = 7;
  running.busy = 1;
  running.active = 1;
  running.upgraded = 0;
  running.resultOk = 1;
  running.runEnabled = 1;
  std::atomic<bool> release{false};
  running.workerRunning = true;
  running.hThread = std::thread([&] {
    while (!release) std::this_thread::yield();
  });
  struct EndOfRun {
    std::atomic<bool>& release;
    std::thread& worker;
    ~EndOfRun() {
      release = true;
      worker.join();
    }
  } end_of_run{release, running.hThread};

  engine::ModuleSlot& idle = slots[1];
  idle.atPort = 8;
  ASSERT_EQ(engine::OpenATPort(idle), 1);
  auto idle_port = idle.hAT.get();
  idle.fileData = std::make_unique<uint8_t[]>(4);
  idle.fileSize = 4;
  idle.resultOk = 1;
  idle.hThread = std::thread([] {});  // returned, not yet joined

  testing_support::DebugCapture debug;
  load();
  EXPECT_EQ(running.hAT.get(), running_port);
  EXPECT_FALSE(running_port->is_closed());
  EXPECT_EQ(running.fileData.get(), image);
  EXPECT_EQ(running.fileSize, 4);
  EXPECT_TRUE(running.hThread.joinable());
  EXPECT_EQ(running.run.filePath, "/a");
  EXPECT_EQ(running.run.atPort, 7);
  EXPECT_EQ(running.busy, 1);
  EXPECT_EQ(running.active, 1);
  EXPECT_EQ(running.upgraded, 0);
  EXPECT_EQ(running.resultOk, 1);
  EXPECT_EQ(running.runEnabled, 1);
  EXPECT_EQ(running.atPort, 9);  // the reloaded settings wait for its next run
  EXPECT_EQ(running.filePath, "/b");
  EXPECT_EQ(debug.count("load_settings() Module1 is running; its run is left as it is."), 1);

  EXPECT_FALSE(idle.hAT.is_open());
  EXPECT_TRUE(idle_port->is_closed());
  EXPECT_EQ(idle.fileData, nullptr);
  EXPECT_EQ(idle.fileSize, 0);
  EXPECT_FALSE(idle.hThread.joinable());
  EXPECT_EQ(idle.resultOk, 0);
  EXPECT_EQ(idle.upgraded, 1);
  EXPECT_EQ(idle.atPort, 10);
}

TEST_F(SettingsTest, AWorkingDirectoryBeyondTheSystemsPathLimitReadsAndWritesNothing) {
  // A settings path longer than 259 characters is used whole.
  const std::filesystem::path deep = bench.path() / std::string(250, 'd') / std::string(50, 'e');
  std::filesystem::create_directories(deep);
  {
    testing_support::ScopedWorkingDirectory inside(deep);
    ASSERT_TRUE(config::SaveFilePath("/x.bin"));
    EXPECT_EQ(config::LoadFilePath(), "/x.bin");
    EXPECT_TRUE(std::filesystem::exists(deep / "ZEBL.ini"));
  }

  // Beyond the system's limit the working directory cannot even be named.
  const std::string part(250, 'z');
  int depth = 0;
  for (; depth < 20; ++depth)
    ASSERT_TRUE(::mkdir(part.c_str(), 0700) == 0 && ::chdir(part.c_str()) == 0);
  ASSERT_EQ(platform::working_directory(), "");
  testing_support::DebugCapture debug;
  EXPECT_EQ(config::LoadFilePath(), "");
  config::load_settings();
  EXPECT_EQ(slots[0].workDir, "");
  EXPECT_FALSE(config::SaveFilePath("/y.bin"));
  EXPECT_FALSE(config::save_port_setting(0, config::kAtPortKind, 3));
  EXPECT_TRUE(said(debug, "load_settings() the working directory is unknown; defaults used."));
  EXPECT_TRUE(said(debug, "the settings folder is unknown"));
  EXPECT_FALSE(std::filesystem::exists("ZEBL.ini"));
  for (; depth > 0; --depth) ASSERT_TRUE(::chdir("..") == 0 && ::rmdir(part.c_str()) == 0);
}
#endif
