// The main dialog on a bench of simulated modules: START, PAUSE, ALL START, the close rule and the
// workers' notifications, with real worker threads on pseudo-terminals.
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "engine/module_slot.h"
#include "engine/notifications.h"
#include "engine/serial_link.h"
#include "resources/result_bitmaps.h"
#include "tests/ui/bench_fixture.h"
#include "tests/ui/wait_until.h"

namespace {

using ui_testing::BenchTest;

constexpr int kRunLimitMs = 60000;  // generous: a run of a small file takes about a second

bool shows_colour(QWidget* picture, QRgb colour) {
  return picture->isVisible() && picture->grab().toImage().pixel(2, 2) == colour;
}

engine::ModuleSlot& slot(int k) {
  return engine::slots()[static_cast<size_t>(k)];
}

}  // namespace

TEST_F(BenchTest, OneModuleRunsToPassAndTheFileArrivesWhole) {
  write_settings({1});
  add_modules({1});
  open_dialog();
  ASSERT_EQ(at_list(0)->currentText(), "COM1");
  status_line(0)->setText("left from before");

  start_button(0)->click();
  EXPECT_EQ(start_button(0)->text(), "PAUSE");
  EXPECT_EQ(status_line(0)->text(), "");
  ASSERT_TRUE(ui_testing::wait_until_equal([&] { return start_button(0)->text(); },
                                           QString("START"), kRunLimitMs));

  // "download success!\r\n" shows as one line; the bar is back at 0; the PASS picture shows.
  EXPECT_EQ(status_line(0)->text(), "download success!");
  // Its tooltip lists the run's status lines, the earlier run's text not among them.
  const QString lines = status_line(0)->toolTip();
  EXPECT_TRUE(lines.contains("Prepare to download, please wait...") &&
              lines.contains("Byte count match successful: 1500!") &&
              lines.contains("download success!"))
      << lines.toStdString();
  EXPECT_FALSE(lines.contains("left from before"));
  EXPECT_EQ(progress_bar(0)->GetPos(), 0);
  EXPECT_TRUE(shows_colour(result_picture(0), resources::kPassBackground));
  EXPECT_EQ(exit_code_after_return(0), engine::DL_OK);
  EXPECT_EQ(testing_support::read_file(bench.path() / "store" / "COM1" / "update.bin"), content);
  EXPECT_TRUE(boxes.messages.empty());
}

TEST_F(BenchTest, StartWithoutAPortAsksForOneAndLeavesThePanelIdle) {
  write_settings({});
  open_dialog();
  dialog->send_message(engine::WM_SLOT_STATUS + 2, reinterpret_cast<uintptr_t>("old line"), 0);
  dialog->send_message(engine::WM_SLOT_PROGRESS + 2, 40, 100);
  dialog->show_result_picture(2, 0);

  start_button(2)->click();

  ASSERT_EQ(boxes.messages.size(), 1u);
  EXPECT_EQ(boxes.messages[0].text, QString::fromUtf8("请设置 <Module 3> 的串口!"));
  EXPECT_EQ(boxes.messages[0].caption, "warning!");
  EXPECT_EQ(boxes.messages[0].owner, dialog.get());
  EXPECT_EQ(start_button(2)->text(), "START");
  EXPECT_EQ(status_line(2)->text(), "");
  EXPECT_EQ(progress_bar(2)->GetPos(), 0);
  EXPECT_FALSE(result_picture(2)->isVisible());
  EXPECT_EQ(slot(2).busy.load(), 0);
}

TEST_F(BenchTest, APortThatDoesNotOpenFailsTheModuleAtOnce) {
  write_settings({1});
  add_modules({1});
  // Another holder keeps the port: the trial opening is refused.
  engine::ModuleSlot holder;
  holder.atPort = 1;
  ASSERT_EQ(engine::OpenATPort(holder), 1);
  open_dialog();

  start_button(0)->click();

  EXPECT_EQ(start_button(0)->text(), "START");
  EXPECT_EQ(status_line(0)->text(), "OpenATPort Failed!");
  EXPECT_TRUE(shows_colour(result_picture(0), resources::kFailBackground));
  EXPECT_EQ(slot(0).busy.load(), 0);
  EXPECT_EQ(slot(0).resultOk.load(), 0);
  EXPECT_FALSE(slot(0).hAT.is_open());
  EXPECT_TRUE(boxes.messages.empty());
  engine::close_at_port(holder);
}

TEST_F(BenchTest, CloseIsRefusedWhileAWorkerIsActiveAndClosesEverythingAfterwards) {
  write_settings({1});
  simulator::Faults silent;
  silent.silent = true;
  add_modules({1}, silent);
  open_dialog();
  start_button(0)->click();
  // The worker waits for an answer on its open port.
  ASSERT_TRUE(ui_testing::wait_until(
      [&] { return slot(0).active.load() == 1 && slot(0).hAT.is_open(); }, kRunLimitMs));

  QTest::keyClick(dialog.get(), Qt::Key_Escape);  // a close request
  dialog->close();                                // and the close box
  ASSERT_EQ(boxes.messages.size(), 2u);
  for (const auto& box : boxes.messages) {
    EXPECT_EQ(box.text, "download is doing,can't be closed!");
    EXPECT_EQ(box.caption, "warning");
    EXPECT_EQ(box.owner, nullptr);
  }
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(start_button(0)->text(), "PAUSE");
  EXPECT_TRUE(slot(0).hAT.is_open());
  EXPECT_EQ(slot(0).runEnabled.load(), 1);

  start_button(0)->click();  // PAUSE
  ASSERT_TRUE(ui_testing::wait_until_equal([&] { return start_button(0)->text(); },
                                           QString("START"), kRunLimitMs));
  EXPECT_EQ(exit_code_after_return(0), engine::DL_PAUSED);
  EXPECT_EQ(status_line(0)->text(), "device1 errcode=15");
  // The cause behind the code is one hover away.
  EXPECT_TRUE(status_line(0)->toolTip().contains("Download Pause!"));

  dialog->close();
  EXPECT_EQ(boxes.messages.size(), 2u);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(dialog->result(), QDialog::Rejected);
  for (const engine::ModuleSlot& s : engine::slots()) {
    EXPECT_FALSE(s.hAT.is_open());
    EXPECT_FALSE(s.hThread.joinable());
    EXPECT_EQ(s.fileData, nullptr);
  }
}

TEST_F(BenchTest, AllStartStartsTheModulesWithPortsInOrderHalfASecondApart) {
  write_settings({0, 2, 0, 0, 5, 0});
  add_modules({2, 5});
  open_dialog();

  QElapsedTimer clock;
  clock.start();
  std::vector<std::pair<int, qint64>> starts;
  QObject::connect(dialog.get(), &ui::COR_VEXDlg::run_started,
                   [&](int k) { starts.emplace_back(k, clock.nsecsElapsed()); });
  qint64 event_handled_at = -1;
  QTimer::singleShot(0, [&] { event_handled_at = clock.nsecsElapsed(); });

  all_start_button()->click();
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].first, 1);
  EXPECT_FALSE(all_start_button()->isEnabled());
  EXPECT_TRUE(dialog->all_start_running());

  ASSERT_TRUE(ui_testing::wait_until([&] { return !dialog->all_start_running(); }, kRunLimitMs));
  const qint64 ended_at = clock.nsecsElapsed();
  EXPECT_TRUE(all_start_button()->isEnabled());
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(starts[1].first, 4);
  EXPECT_GE(starts[1].second - starts[0].second, 500'000'000);
  EXPECT_GE(ended_at - starts[1].second, 500'000'000);
  // The window handled its events between the two starts.
  EXPECT_GT(event_handled_at, starts[0].second);
  EXPECT_LT(event_handled_at, starts[1].second);

  ASSERT_TRUE(ui_testing::wait_until(
      [&] { return start_button(1)->text() == "START" && start_button(4)->text() == "START"; },
      kRunLimitMs));
  EXPECT_EQ(exit_code_after_return(1), engine::DL_OK);
  EXPECT_EQ(exit_code_after_return(4), engine::DL_OK);
  EXPECT_TRUE(boxes.messages.empty());  // no reminder for the modules without a port
}

TEST_F(BenchTest, ClosingCancelsTheRestOfAllStart) {
  write_settings({1, 2});
  add_modules({1, 2});
  engine::ModuleSlot holder;  // Module1's port does not open: nothing is left running
  holder.atPort = 1;
  ASSERT_EQ(engine::OpenATPort(holder), 1);
  open_dialog();
  QSignalSpy started(dialog.get(), &ui::COR_VEXDlg::run_started);

  all_start_button()->click();
  // A timer of the same interval, started after ALL START's, fires after it would have.
  QTimer later;
  later.setSingleShot(true);
  later.setTimerType(Qt::PreciseTimer);
  QSignalSpy later_fired(&later, &QTimer::timeout);
  later.start(500);
  dialog->close();
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_FALSE(dialog->all_start_running());

  ASSERT_TRUE(later_fired.wait(kRunLimitMs));
  EXPECT_EQ(started.count(), 0);
  EXPECT_EQ(start_button(1)->text(), "START");
  engine::close_at_port(holder);
}

TEST_F(BenchTest, NotificationsReachTheirPanels) {
  write_settings({1, 0});
  add_modules({1});
  open_dialog();
  auto* d = dialog.get();

  // Progress: the exact percentage; a total of 0 or less leaves the bar alone.
  d->send_message(engine::WM_SLOT_PROGRESS + 3, 53, 100);
  EXPECT_EQ(progress_bar(3)->GetPos(), 53);
  d->send_message(engine::WM_SLOT_PROGRESS + 3, 59, 100);
  EXPECT_EQ(progress_bar(3)->GetPos(), 59);
  d->send_message(engine::WM_SLOT_PROGRESS + 3, 5, 0);
  d->send_message(engine::WM_SLOT_PROGRESS + 3, 5, -1);
  EXPECT_EQ(progress_bar(3)->GetPos(), 59);
  d->send_message(engine::WM_SLOT_PROGRESS + 3, 1023, 1024);
  EXPECT_EQ(progress_bar(3)->GetPos(), 99);
  EXPECT_EQ(progress_bar(2)->GetPos(), 0);

  // Status: one line, shown as plain text.
  d->send_message(engine::WM_SLOT_STATUS + 5, reinterpret_cast<uintptr_t>("download error!\r\n"),
                  0);
  EXPECT_EQ(status_line(5)->text(), "download error!");
  EXPECT_EQ(status_line(5)->textFormat(), Qt::PlainText);
  d->send_message(engine::WM_SLOT_STATUS + 5, reinterpret_cast<uintptr_t>(""), 0);
  EXPECT_EQ(status_line(5)->text(), "");

  // Result: PASS and FAIL pictures; an index outside 0..5 does nothing.
  d->send_message(engine::WM_SLOT_RESULT, 1, 1);
  EXPECT_TRUE(shows_colour(result_picture(1), resources::kPassBackground));
  d->send_message(engine::WM_SLOT_RESULT, 1, 0);
  EXPECT_TRUE(shows_colour(result_picture(1), resources::kFailBackground));
  d->send_message(engine::WM_SLOT_RESULT, 6, 1);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(result_picture(k)->isVisible(), k == 1) << k;

  // Panels off and on; the end of a run enables its panel and sets "START".
  d->send_message(engine::WM_PANELS_DISABLE, 0, 0);
  EXPECT_FALSE(all_start_button()->isEnabled());
  EXPECT_FALSE(start_button(4)->isEnabled());
  EXPECT_FALSE(at_list(4)->isEnabled());
  EXPECT_FALSE(control<QComboBox>(ui::ControlRole::type_list)->isEnabled());
  start_button(2)->setText("PAUSE");
  d->send_message(engine::WM_SLOT_FINISHED + 2, 0, 100);
  EXPECT_EQ(start_button(2)->text(), "START");
  EXPECT_TRUE(start_button(2)->isEnabled());
  EXPECT_TRUE(at_list(2)->isEnabled());
  d->send_message(engine::WM_PANELS_ENABLE, 0, 0);
  EXPECT_TRUE(all_start_button()->isEnabled());
  EXPECT_TRUE(start_button(4)->isEnabled());

  // Ports changed: a module without its AT port has its list emptied and its result cleared.
  ASSERT_EQ(at_list(0)->currentText(), "COM1");
  ASSERT_GT(at_list(1)->count(), 0);
  slot(0).resultOk = 1;
  d->send_message(engine::WM_PORTS_CHANGED, 0, 0);
  EXPECT_EQ(at_list(1)->count(), 0);
  EXPECT_EQ(at_list(0)->currentText(), "COM1");
  EXPECT_EQ(slot(0).resultOk.load(), 0);  // no Diag port: cleared as well
}
