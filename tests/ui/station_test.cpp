// The window as a station: a module starts when its port is plugged in, every run leaves its
// record, today's totals follow the runs, a module that comes back after its restart is not
// started again (the status line says why), and a module that is gone shows no result.
#include <QCheckBox>
#include <QLabel>

#include "engine/module_slot.h"
#include "platform/clock.h"
#include "station/run_record.h"
#include "tests/ui/bench_fixture.h"
#include "tests/ui/wait_until.h"

namespace {

constexpr int kRunLimitMs = 60000;  // generous: a run of a small file takes about a second
constexpr int kRearmSeconds = 2;
const QString kWaiting = QStringLiteral("Waiting for a module on COM7...");

int lines_of(const std::filesystem::path& file) {
  const std::string text = testing_support::read_file(file);
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// Module1 on COM7 with start on plug-in and a re-arm time of 2 s; simulated modules are plugged in
// and pulled out as COM7.
class StationTest : public ui_testing::BenchTest {
 protected:
  void open_station() {
    write_settings({7});
    std::ofstream(bench.path() / "ZEBL.ini", std::ios::app)
        << "[Station]\r\nStartOnPlugIn=1\r\nReArmSeconds=" << kRearmSeconds << "\r\n";
    station::set_runs_file_path(runs.string());
    open_dialog();
    totals = dialog->findChild<QLabel*>("day_totals_label");
    ASSERT_NE(totals, nullptr);
  }
  std::unique_ptr<simulator::PtyModuleServer> plug() {
    auto module = std::make_unique<simulator::PtyModuleServer>(bench.path() / "ports",
                                                               bench.path() / "store");
    EXPECT_TRUE(module->add(7, {}));
    module->start();
    return module;
  }
  // Pulls the module out; once the window saw its port go, Module1 waits and shows no result.
  void pull(std::unique_ptr<simulator::PtyModuleServer>& module) {
    module.reset();
    ASSERT_TRUE(ui_testing::wait_until_equal([&] { return status(); }, kWaiting, kRunLimitMs));
    EXPECT_FALSE(result_picture(0)->isVisible());
    EXPECT_EQ(progress_bar(0)->GetPos(), 0);
  }
  // Until the re-arm time has passed since the window saw the port go.
  void await_rearm_time() {
    const int64_t since = platform::clock().now_ms();
    ASSERT_TRUE(ui_testing::wait_until(
        [&] { return platform::clock().now_ms() - since > kRearmSeconds * 1000; }, kRunLimitMs));
  }
  // Until `passed` runs have passed and Module1 is idle again.
  void await_passes(int passed) {
    ASSERT_TRUE(ui_testing::wait_until_equal([&] { return totals->text(); },
                                             QString("Today: %1 PASS, 0 FAIL").arg(passed),
                                             kRunLimitMs));
    ASSERT_TRUE(ui_testing::wait_until_equal([&] { return start_button(0)->text(); },
                                             QString("START"), kRunLimitMs));
    EXPECT_EQ(lines_of(runs), 1 + passed);  // the header and a line per run
  }
  // Until the status line begins with `why`; nothing started meanwhile.
  void await_refusal(const QString& why, int runs_so_far) {
    ASSERT_TRUE(ui_testing::wait_until([&] { return status().startsWith(why); }, kRunLimitMs))
        << status().toStdString();
    EXPECT_EQ(start_button(0)->text(), "START");
    EXPECT_FALSE(result_picture(0)->isVisible());
    EXPECT_EQ(lines_of(runs), 1 + runs_so_far);
  }
  QString status() const { return status_line(0)->text(); }

  void TearDown() override {
    BenchTest::TearDown();
    engine::set_port_facts_provider({});
    station::set_runs_file_path({});
  }

  std::filesystem::path runs = bench.path() / "runs.csv";
  QLabel* totals = nullptr;
};

}  // namespace

// Simulated modules have no serial number: the re-arm time tells a module that restarts after its
// update from the next one.
TEST_F(StationTest, APluggedInModuleStartsOnlyOnItsOwnPortAndEachRunIsRecordedAndCounted) {
  open_station();
  EXPECT_EQ(totals->text(), "Today: 0 PASS, 0 FAIL");
  EXPECT_EQ(status(), kWaiting);
  EXPECT_FALSE(dialog->findChild<QCheckBox*>("plug_in_start_check")->isVisible());

  for (int cycle = 1; cycle <= 2; ++cycle) {
    // A port that no module has never starts anything; Module1's own port starts Module1.
    auto other = std::make_unique<simulator::PtyModuleServer>(bench.path() / "ports");
    ASSERT_TRUE(other->add(8, {}));
    auto module = plug();
    await_passes(cycle);
    EXPECT_EQ(exit_code_after_return(0), engine::DL_OK);
    EXPECT_TRUE(result_picture(0)->isVisible());
    for (int k = 1; k < 6; ++k) EXPECT_EQ(start_button(k)->text(), "START");
    other.reset();
    pull(module);
    if (cycle == 1) {  // back at once, as after its restart: it waits, and says why
      module = plug();
      await_refusal("Waiting: COM7 must be away for 2 s after a run (back after ", 1);
      pull(module);
    }
    await_rearm_time();
  }
}

// A module with a serial number of its own is not started again however long its restart takes,
// and the next module starts at once.
TEST_F(StationTest, AModuleWithASerialNumberIsNotStartedAgainButTheNextOneIs) {
  open_station();
  auto give_serial = [](const std::string& serial) {
    engine::set_port_facts_provider([serial](int) { return engine::PortFacts{{}, {}, serial}; });
  };
  give_serial("SN-A");
  auto module = plug();
  await_passes(1);
  pull(module);
  await_rearm_time();
  module = plug();
  await_refusal("Waiting for another module on COM7: this one passed at ", 1);
  pull(module);
  give_serial("SN-B");
  module = plug();
  await_passes(2);
}
