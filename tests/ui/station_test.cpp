// The window as a station: a module starts when its port is plugged in, every run leaves its
// record, and today's totals follow the runs.
#include <QCheckBox>
#include <QLabel>
#include <QTest>

#include "engine/module_slot.h"
#include "engine/run_record.h"
#include "tests/ui/bench_fixture.h"
#include "tests/ui/wait_until.h"

namespace {

using ui_testing::BenchTest;

constexpr int kRunLimitMs = 60000;  // generous: a run of a small file takes about a second

int lines_of(const std::filesystem::path& file) {
  const std::string text = testing_support::read_file(file);
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

TEST_F(BenchTest, APluggedInModuleStartsOnlyOnItsOwnPortAndEachRunIsRecordedAndCounted) {
  write_settings({7});
  std::ofstream(bench.path() / "ZEBL.ini", std::ios::app) << "[Station]\r\nStartOnPlugIn=1\r\n";
  const auto runs = bench.path() / "runs.csv";
  engine::set_runs_file_path(runs.string());
  open_dialog();
  auto* totals = dialog->findChild<QLabel*>("day_totals_label");
  ASSERT_NE(totals, nullptr);
  EXPECT_EQ(totals->text(), "Today: 0 PASS, 0 FAIL");
  EXPECT_EQ(status_line(0)->text(), "Waiting for a module on COM7...");
  EXPECT_FALSE(dialog->findChild<QCheckBox*>("plug_in_start_check")->isVisible());

  for (int cycle = 1; cycle <= 2; ++cycle) {
    // A port that no module has never starts anything; Module1's own port starts Module1.
    auto other = std::make_unique<simulator::PtyModuleServer>(bench.path() / "ports");
    ASSERT_TRUE(other->add(8, {}));
    auto module = std::make_unique<simulator::PtyModuleServer>(bench.path() / "ports",
                                                               bench.path() / "store");
    ASSERT_TRUE(module->add(7, {}));
    module->start();
    ASSERT_TRUE(ui_testing::wait_until_equal([&] { return start_button(0)->text(); },
                                             QString("PAUSE"), kRunLimitMs));
    ASSERT_TRUE(ui_testing::wait_until_equal([&] { return start_button(0)->text(); },
                                             QString("START"), kRunLimitMs));
    EXPECT_EQ(engine::slots()[0].exitCode.load(), engine::DL_OK);
    EXPECT_EQ(lines_of(runs), 1 + cycle);  // the header and a line per run
    EXPECT_EQ(totals->text(), QString("Today: %1 PASS, 0 FAIL").arg(cycle));
    for (int k = 1; k < 6; ++k) EXPECT_EQ(start_button(k)->text(), "START");

    // Pulled out, and away for the re-arm time before the next plug-in.
    module.reset();
    other.reset();
    ASSERT_TRUE(ui_testing::wait_until_equal([&] { return status_line(0)->text(); },
                                             QString("Waiting for a module on COM7..."),
                                             kRunLimitMs));
    QTest::qWait(engine::PlugInStart::kRearmAbsenceMs + 100);
  }
  dialog.reset();
  engine::set_runs_file_path({});
}
