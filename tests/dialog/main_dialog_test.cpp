// The main dialog's behaviour with no window system: a recording face, simulated modules behind
// in-memory ports and real worker threads on a virtual clock. The same tests run on Linux and,
// cross-built, under Wine.
#include "dialog/main_dialog.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "devices/port_census.h"
#include "devices/port_watcher.h"
#include "dialog/control_table.h"
#include "engine/run_control.h"
#include "platform/bench_folder.h"
#include "platform/com_ports.h"
#include "platform/executable_dir.h"
#include "resources/bitmap_ids.h"
#include "station/line_records.h"
#include "station/run_record.h"
#include "tests/dialog/recording_face.h"
#include "tests/support/settling_gate.h"
#include "tests/support/simulated_port.h"
#include "tests/support/temp_dir.h"
#ifndef _WIN32
#include "tests/support/pg_server.h"
#endif

namespace {

using dialog::kPanelIds;
using testing_support::RecordingFace;

const dialog::PanelIds& panel(int k) {
  return kPanelIds[static_cast<size_t>(k)];
}

engine::ModuleSlot& slot(int k) {
  return engine::slots()[static_cast<size_t>(k)];
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::set_port_opener([this](unsigned n, std::string* why) {
      std::lock_guard lock(mutex_);
      if (std::find(ports.begin(), ports.end(), n) == ports.end() || refused.count(n)) {
        if (why) *why = "no such port";
        return std::shared_ptr<platform::SerialPort>();
      }
      modules_.push_back(testing_support::make_simulated_port(faults[n]));
      return std::shared_ptr<platform::SerialPort>(modules_.back().port);
    });
    station::set_runs_file_path((bench.path() / "runs.csv").string());
  }
  void TearDown() override {
    dialog.reset();  // ends every run
    platform::set_port_opener({});
    station::set_runs_file_path({});
  }

  // ZEBL.ini with the update file, the settling time and each module's AT port (0: none).
  void write_settings(const std::vector<int>& at_ports, int sleep_time = 0,
                      const std::string& more = {}) {
    std::ofstream(update_file(), std::ios::binary) << std::string(1500, 'Q');
    std::ofstream ini(bench.path() / "ZEBL.ini", std::ios::binary);
    ini << "[FilePath]\r\nPath=" << update_file() << "\r\nSleepTime=" << sleep_time << "\r\n";
    const char* ordinals[] = {"First", "Second", "Third", "Fourth", "Fifth", "Sixth"};
    for (size_t k = 0; k < at_ports.size() && k < 6; ++k)
      ini << "[ATPort_" << ordinals[k] << "]\r\nnumber=" << at_ports[k] << "\r\n";
    ini << more;
  }
  std::string update_file() const { return (bench.path() / "update.bin").string(); }

  dialog::MainDialog& open() {
    auto census = [this] {
      devices::AtPortCandidates.assign(ports.begin(), ports.end());
      devices::DiagPortCandidates.clear();
      return ports.empty() ? 0 : 1;
    };
    dialog =
        std::make_unique<dialog::MainDialog>(face, dialog::MainDialog::PortCensus{census, census});
    dialog->OnInitDialog();
    return *dialog;
  }
  // The operator opens module k's AT list and picks `entry`.
  void pick(int k, const std::string& entry) {
    dialog->fill_port_list(k, dialog::kAtList);
    const auto& entries = face.lists[panel(k).at_port_list].entries;
    const auto found = std::find(entries.begin(), entries.end(), entry);
    ASSERT_NE(found, entries.end()) << entry;
    dialog->choose_port(k, dialog::kAtList, static_cast<int>(found - entries.begin()));
  }
  bool idle(int k) { return dialog->button_caption(k) == "START"; }
  void run_until_idle(int k) {
    ASSERT_TRUE(face.run_until([&] { return idle(k) && !engine::worker_in_progress(slot(k)); }));
  }

  testing_support::TempDir bench;
  testing_support::ScopedWorkingDirectory cwd{bench.path()};
  testing_support::SettlingGate clock;
  platform::ScopedClock use_clock{clock};
  std::vector<unsigned> ports{1, 2, 3};  // what the census finds
  std::map<unsigned, simulator::Faults> faults;
  std::set<unsigned> refused;  // present, but they do not open
  RecordingFace face;
  std::unique_ptr<dialog::MainDialog> dialog;

 private:
  std::mutex mutex_;
  std::vector<testing_support::SimulatedPort> modules_;
};

TEST_F(DialogTest, OpensOnTheBenchAsItsSettingsSayAndRunsModulesToTheirResults) {
  ports = {10, 2, 3, 1};
  write_settings({1, 5, 0, 3}, 0, "[OnlyUpgradeScript]\r\nenable=1\r\n");
  faults[3].refused = {"AT+CFSINIT"};
  open();

  // The lists, sorted as text, show each module's configured port that the census found.
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(face.lists[panel(k).at_port_list].entries,
              (std::vector<std::string>{"COM1", "COM10", "COM2", "COM3"}));
    EXPECT_TRUE(face.lists[panel(k).diag_port_list].entries.empty());
    EXPECT_EQ(face.pictures[panel(k).result_picture], resources::kFailBitmapIds[k]);
    EXPECT_FALSE(face.visible[panel(k).result_picture]);
  }
  EXPECT_EQ(face.list_text(panel(0).at_port_list), "COM1");
  EXPECT_EQ(face.list_text(panel(1).at_port_list), "");  // COM5 is not present
  EXPECT_EQ(slot(1).atPort, 5);
  EXPECT_EQ(face.list_text(panel(3).at_port_list), "COM3");
  EXPECT_EQ(face.list_text(dialog::kUpgradeTypeListId), "Only Upgrade Script");
  EXPECT_EQ(face.texts[dialog::kFilePathEditId], update_file());
  EXPECT_EQ(face.texts[dialog::kDayTotalsId], "Today: 0 PASS, 0 FAIL");
  EXPECT_EQ(face.timers[dialog::Timer::totals], 1000);

  // Module1 passes; Module4's module refuses to open its file system.
  dialog->start_or_pause(0);
  dialog->start_or_pause(3);
  EXPECT_EQ(dialog->button_caption(0), "PAUSE");
  EXPECT_EQ(face.texts[panel(0).start_button], "PAUSE");
  EXPECT_EQ(face.started, (std::vector<int>{0, 3}));
  run_until_idle(0);
  run_until_idle(3);
  EXPECT_EQ(face.texts[panel(0).start_button], "START");
  EXPECT_EQ(face.texts[panel(0).status_line], "download success!");
  EXPECT_EQ(face.pictures[panel(0).result_picture], resources::kPassBitmapIds[0]);
  EXPECT_TRUE(face.visible[panel(0).result_picture]);
  EXPECT_EQ(face.bars[panel(0).progress_bar], 0);
  EXPECT_EQ(face.texts[panel(3).status_line], "device4 errcode=11");
  EXPECT_EQ(face.pictures[panel(3).result_picture], resources::kFailBitmapIds[3]);
  // The cause behind the code is in the status line's tooltip.
  EXPECT_NE(face.tooltips[panel(3).status_line].find("AT+CFSINIT failed!"), std::string::npos);
  EXPECT_EQ(face.texts[dialog::kDayTotalsId], "Today: 1 PASS, 1 FAIL");

  // Module3 shows no port: it asks for one. Module2's port does not open: FAIL at once.
  dialog->start_or_pause(2);
  ASSERT_EQ(face.boxes.size(), 1u);
  EXPECT_EQ(face.boxes[0].text, "请设置 <Module 3> 的串口!");
  EXPECT_EQ(face.boxes[0].caption, "warning!");
  EXPECT_EQ(face.boxes[0].owner, dialog::BoxOwner::dialog);
  ports.push_back(5);
  refused.insert(5);
  dialog->OnDeviceChange({devices::DBT_DEVICEARRIVAL, devices::DBT_DEVTYP_PORT, "COM5"});
  ASSERT_EQ(face.list_text(panel(1).at_port_list), "COM5");
  dialog->start_or_pause(1);
  EXPECT_EQ(face.texts[panel(1).status_line], "OpenATPort Failed!");
  EXPECT_NE(face.tooltips[panel(1).status_line].find("OpenATPort Failed!: no such port"),
            std::string::npos);
  // Its record, written on the module's own thread, counts it among the other runs.
  dialog->on_timer(dialog::Timer::totals);
  EXPECT_TRUE(face.run_until([&] {
    dialog->on_timer(dialog::Timer::totals);
    return face.texts[dialog::kDayTotalsId] == "Today: 1 PASS, 1 FAIL, 1 other";
  })) << face.texts[dialog::kDayTotalsId];
  EXPECT_EQ(face.pictures[panel(1).result_picture], resources::kFailBitmapIds[1]);
  EXPECT_TRUE(face.visible[panel(1).result_picture]);
  EXPECT_EQ(dialog->button_caption(1), "START");
}

// With [Station] Identify=1 the run's last tooltip line tells which module got the file; a module
// that does not tell passes without one.
TEST_F(DialogTest, TheResultOfAnIdentifiedModuleNamesItInTheTooltip) {
  write_settings({1, 2}, 0, "[Station]\r\nIdentify=1\r\n");
  faults[2].silent_identity = true;
  open();
  dialog->start_or_pause(0);
  dialog->start_or_pause(1);
  run_until_idle(0);
  run_until_idle(1);
  EXPECT_EQ(face.texts[panel(0).status_line], "download success!");
  EXPECT_EQ(face.texts[panel(1).status_line], "download success!");
  const std::string& told = face.tooltips[panel(0).status_line];
  const std::string last = "IMEI 350000000000014, revision SIMREV 1.0";
  ASSERT_GE(told.size(), last.size()) << told;
  EXPECT_EQ(told.substr(told.size() - last.size()), last) << told;
  EXPECT_EQ(face.tooltips[panel(1).status_line].find("IMEI"), std::string::npos);
}

TEST_F(DialogTest, AllStartTakesTheIdleModulesWithPortsInOrderOnItsTimer) {
  write_settings({0, 2, 0, 0, 3, 0});
  open();

  dialog->all_start();
  EXPECT_EQ(face.started, (std::vector<int>{1}));
  EXPECT_EQ(face.timers[dialog::Timer::all_start], 500);
  EXPECT_FALSE(face.enabled[dialog::kAllStartId]);
  dialog->all_start();  // pressed again meanwhile: nothing more
  EXPECT_EQ(face.started.size(), 1u);
  dialog->on_timer(dialog::Timer::all_start);
  EXPECT_EQ(face.started, (std::vector<int>{1, 4}));
  dialog->on_timer(dialog::Timer::all_start);
  EXPECT_FALSE(dialog->all_start_running());
  EXPECT_TRUE(face.enabled[dialog::kAllStartId]);
  EXPECT_TRUE(face.boxes.empty());  // no reminder for the modules without a port
  run_until_idle(1);
  run_until_idle(4);
  EXPECT_EQ(slot(1).exitCode.load(), engine::DL_OK);
  EXPECT_EQ(slot(4).exitCode.load(), engine::DL_OK);
}

TEST_F(DialogTest, ThePortQuestionStoresThePortOrPutsTheListBack) {
  ports = {3, 4, 5, 7};
  write_settings({0, 4, 5});
  open();
  bool yes = false;
  face.answer = [&](const std::string&) { return yes; };

  pick(1, "COM4");  // the module's own port: no question
  EXPECT_TRUE(face.boxes.empty());
  pick(1, "COM5");  // No: the list shows COM4 again
  ASSERT_EQ(face.boxes.size(), 1u);
  EXPECT_TRUE(face.boxes[0].question);
  EXPECT_EQ(face.boxes[0].text, "update Module2 AT port setting?");
  EXPECT_EQ(face.boxes[0].caption, "warning");
  EXPECT_EQ(face.list_text(panel(1).at_port_list), "COM4");

  // Yes, while a port arrives during the question: the list shows the port just stored, and
  // Module3, which had it, loses it and its list.
  yes = true;
  face.answer = [&](const std::string&) {
    ports.push_back(8);
    dialog->OnDeviceChange({devices::DBT_DEVICEARRIVAL, devices::DBT_DEVTYP_PORT, "COM8"});
    return true;
  };
  pick(1, "COM5");
  EXPECT_EQ(slot(1).atPort, 5);
  EXPECT_EQ(face.list_text(panel(1).at_port_list), "COM5");
  EXPECT_EQ(slot(2).atPort, 0);
  EXPECT_TRUE(face.lists[panel(2).at_port_list].entries.empty());
  const std::string ini = testing_support::read_file(bench.path() / "ZEBL.ini");
  EXPECT_NE(ini.find("[ATPort_Second]\r\nnumber=5"), std::string::npos) << ini;

  // A module without a port whose pick is refused has its list emptied.
  face.answer = [](const std::string&) { return false; };
  pick(0, "COM7");
  EXPECT_TRUE(face.lists[panel(0).at_port_list].entries.empty());
}

// A module held in its settling wait (the gate clock): the close rule, PAUSE, a port removal, and
// the settings mode.
TEST_F(DialogTest, TheCloseRuleTheSettingsModeAndARemovedPortMeetARunningModule) {
  write_settings({1, 2}, 8000, "[DiagPort_First]\r\nnumber=9\r\n");
  open();
  dialog->start_or_pause(0);
  ASSERT_TRUE(face.run_until([&] { return clock.waiting() > 0; }));

  dialog->OnClose();  // refused: a run is under way
  ASSERT_EQ(face.boxes.size(), 1u);
  EXPECT_EQ(face.boxes[0].text, "download is doing,can't be closed!");
  EXPECT_EQ(face.boxes[0].owner, dialog::BoxOwner::none);
  EXPECT_FALSE(face.ended);

  // Logged in: nothing starts, PAUSE stays possible, a run's end leaves its button off until Save.
  face.login_ok = true;
  dialog->OnBnClickedLogin();
  EXPECT_TRUE(dialog->settings_unlocked());
  EXPECT_FALSE(face.enabled[dialog::kAllStartId] || face.enabled[panel(1).start_button]);
  EXPECT_TRUE(face.enabled[panel(0).start_button]);
  EXPECT_TRUE(face.visible[dialog::kSaveId] && face.visible[dialog::kPlugInStartId]);
  EXPECT_FALSE(face.visible[dialog::kLoginId]);
  dialog->all_start();
  dialog->start_or_pause(1);
  dialog->send_message(engine::WM_PANELS_ENABLE, 0, 0);
  EXPECT_EQ(face.started, (std::vector<int>{0}));
  EXPECT_FALSE(face.enabled[panel(1).start_button]);

  // The Diag port of the running module goes away: FAIL at once; its run ends.
  ports = {1, 2};
  dialog->OnDeviceChange({devices::DBT_DEVICEREMOVECOMPLETE, devices::DBT_DEVTYP_PORT, "COM9"});
  EXPECT_TRUE(face.visible[panel(0).result_picture]);
  EXPECT_EQ(face.pictures[panel(0).result_picture], resources::kFailBitmapIds[0]);
  dialog->start_or_pause(0);  // PAUSE
  run_until_idle(0);
  EXPECT_EQ(slot(0).exitCode.load(), engine::DL_PAUSED);
  EXPECT_EQ(face.texts[panel(0).status_line], "device1 errcode=15");
  EXPECT_FALSE(face.enabled[panel(0).start_button]);

  dialog->OnBnClickedSave();
  EXPECT_TRUE(face.enabled[panel(0).start_button] && face.enabled[dialog::kAllStartId]);
  EXPECT_FALSE(face.visible[dialog::kSaveId]);
  dialog->OnClose();
  EXPECT_TRUE(face.ended);
  EXPECT_EQ(face.boxes.size(), 1u);
  for (const engine::ModuleSlot& s : engine::slots()) {
    EXPECT_FALSE(s.hAT.is_open());
    EXPECT_FALSE(s.hThread.joinable());
  }
}

TEST_F(DialogTest, BrowseTakesOnlyAFileWithDataAndOpensWhereTheUpdateFileIs) {
  write_settings({});
  open();
  const std::string empty = (bench.path() / "empty.bin").string();
  std::ofstream(empty).flush();
  const std::string good = (bench.path() / "new update.bin").string();
  std::ofstream(good) << "data";
  std::string picked;
  face.pick = [&](const std::string&) { return picked; };

  for (const std::string& refused_file : {empty, (bench.path() / "missing").string()}) {
    picked = refused_file;
    dialog->OnBnClickedBrowse();
  }
  ASSERT_EQ(face.boxes.size(), 2u);
  EXPECT_EQ(face.boxes[0].text, "Upgrade file " + empty + " has no data! ");
  EXPECT_EQ(face.boxes[1].text,
            "Upgrade file " + (bench.path() / "missing").string() + " cann't be opened! ");
  EXPECT_EQ(face.boxes[1].icon, dialog::BoxIcon::stop);
  EXPECT_EQ(face.texts[dialog::kFilePathEditId], update_file());
  EXPECT_EQ(face.folders_offered[0], bench.path().string());

  picked = good;
  dialog->OnBnClickedBrowse();
  EXPECT_EQ(face.texts[dialog::kFilePathEditId], good);
  for (const engine::ModuleSlot& s : engine::slots()) EXPECT_EQ(s.filePath, good);
  EXPECT_NE(testing_support::read_file(bench.path() / "ZEBL.ini").find("Path=" + good),
            std::string::npos);
}

// The bench folder is told where the operator sees it when the window works on another folder than
// the one it was started in (the menu's default bench, --bench); the whole path is its tooltip.
TEST_F(DialogTest, TheBenchFolderIsShownOnlyWhenItIsNotWhereTheProgramWasStarted) {
  write_settings({1});
  open();
  EXPECT_FALSE(face.visible[dialog::kBenchFolderId]);
  EXPECT_EQ(face.texts.count(dialog::kBenchFolderId), 0u);

  platform::set_start_directory(platform::working_directory() + "elsewhere" +
                                std::string(1, std::filesystem::path::preferred_separator));
  dialog.reset();
  open();
  const std::string folder = std::filesystem::current_path().string();
  EXPECT_TRUE(face.visible[dialog::kBenchFolderId]);
  EXPECT_EQ(face.texts[dialog::kBenchFolderId], "Bench: " + folder);
  EXPECT_EQ(face.tooltips[dialog::kBenchFolderId], folder);
  // The station's other controls are as before.
  EXPECT_EQ(face.texts[dialog::kDayTotalsId], "Today: 0 PASS, 0 FAIL");
  platform::set_start_directory({});
}

#ifndef _WIN32
// The line's database stops answering (its server is paused): the modules' runs go on, the strip
// tells how many records wait and, on hover, why; closing does not wait for the database. The next
// start sends them once the server answers again, and the strip says nothing more.
TEST_F(DialogTest, RecordsWaitInTheStripWhileTheLineDatabaseIsStoppedAndClosingNeverWaits) {
  testing_support::PgServer server;
  if (!server.available()) GTEST_SKIP() << server.why();
  ASSERT_TRUE(server.create_database("line"));
  ::setenv("PGPASSFILE", server.password_file().c_str(), 1);
  server.pause();
  write_settings({1, 2}, 0,
                 "[Station]\r\nDatabase=" + server.conninfo("line") + "\r\nName=bench-7\r\n");
  open();
  EXPECT_FALSE(face.visible[dialog::kRecordsId]);
  dialog->start_or_pause(0);
  dialog->start_or_pause(1);
  run_until_idle(0);
  run_until_idle(1);
  EXPECT_EQ(slot(0).exitCode, engine::DL_OK);
  EXPECT_EQ(slot(1).exitCode, engine::DL_OK);

  // The reason comes when the shipper gives up waiting for the server.
  ASSERT_TRUE(face.run_until(
      [&] {
        dialog->on_timer(dialog::Timer::totals);
        return !face.tooltips[dialog::kRecordsId].empty() &&
               face.tooltips[dialog::kRecordsId] != "being sent to the line's database";
      },
      std::chrono::minutes(2)))
      << face.tooltips[dialog::kRecordsId];
  EXPECT_EQ(face.texts[dialog::kRecordsId], "records waiting: 2");
  EXPECT_TRUE(face.visible[dialog::kRecordsId]);
  EXPECT_EQ(face.tooltips[dialog::kRecordsId].rfind("not sent: ", 0), 0u);
  // The unlocked settings show the plug-in option in the records' place.
  face.login_ok = true;
  dialog->OnBnClickedLogin();
  EXPECT_FALSE(face.visible[dialog::kRecordsId]);
  EXPECT_TRUE(face.visible[dialog::kPlugInStartId]);
  dialog->OnBnClickedSave();
  EXPECT_TRUE(face.visible[dialog::kRecordsId]);
  dialog->OnClose();
  EXPECT_TRUE(face.ended);
  dialog.reset();

  server.resume();
  face.visible.clear();
  open();
  ASSERT_TRUE(face.run_until(
      [&] {
        dialog->on_timer(dialog::Timer::totals);
        return !face.visible[dialog::kRecordsId] && station::shipping_status().waiting == 0 &&
               server.query("line", "SELECT count(*) FROM quillmark_runs;") == "2";
      },
      std::chrono::minutes(2)));
  EXPECT_EQ(server.query("line", "SELECT min(station), max(station) FROM quillmark_runs;"),
            "bench-7|bench-7");
  ::unsetenv("PGPASSFILE");
}
#else
// The Windows build ships no records to a database: the setting is said to be unused, once, with
// the reason on hover, and the modules run as without it.
TEST_F(DialogTest, ADatabaseSettingIsSaidToBeUnusedAndTheRunsGoOn) {
  write_settings({1}, 0, "[Station]\r\nDatabase=host=records dbname=line\r\n");
  open();
  EXPECT_TRUE(face.visible[dialog::kRecordsId]);
  EXPECT_EQ(face.texts[dialog::kRecordsId], "database not used");
  EXPECT_NE(face.tooltips[dialog::kRecordsId].find("no PostgreSQL client library"),
            std::string::npos);
  dialog->start_or_pause(0);
  run_until_idle(0);
  EXPECT_EQ(slot(0).exitCode, engine::DL_OK);
  dialog->on_timer(dialog::Timer::totals);
  EXPECT_EQ(face.texts[dialog::kRecordsId], "database not used");
}
#endif

}  // namespace
