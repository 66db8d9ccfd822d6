// The operator's choice of a module's port, and ports that arrive and go away while the dialog is
// open (the real port watcher on the bench's ports folder).
#include <QTest>

#include "engine/module_slot.h"
#include "resources/result_bitmaps.h"
#include "tests/support/debug_capture.h"
#include "tests/ui/bench_fixture.h"
#include "tests/ui/wait_until.h"

namespace {

using ui_testing::BenchTest;

constexpr int kNoticeLimitMs = 30000;  // generous: a notice arrives within milliseconds

QStringList entries(QComboBox* list) {
  QStringList shown;
  for (int i = 0; i < list->count(); ++i) shown << list->itemText(i);
  return shown;
}

// The operator opens the list (which refills it) and picks the entry `text`.
void pick(QComboBox* list, const QString& text) {
  list->showPopup();
  list->hidePopup();
  const int index = list->findText(text);
  ASSERT_GE(index, 0) << text.toStdString();
  list->setCurrentIndex(index);
  Q_EMIT list->activated(index);
}

class PortChoiceTest : public BenchTest {
 protected:
  void SetUp() override {
    previous_ = ui::set_question_handler([this](QWidget*, const QString& text, const QString&) {
      questions << text;
      return answer;
    });
  }
  void TearDown() override {
    ui::set_question_handler(std::move(previous_));
    BenchTest::TearDown();
  }
  QStringList questions;
  bool answer = false;

 private:
  ui::QuestionHandler previous_;
};

}  // namespace

TEST_F(PortChoiceTest, APickIsConfirmedStoredAndTakenFromAnyOtherModule) {
  write_settings({0, 4, 5});
  add_modules({3, 10, 7, 4, 5});
  open_dialog();
  // Sorted as text, whatever the order the ports were found in.
  const QStringList shown = entries(at_list(1));
  QStringList order;
  for (const QString& entry : shown)
    if (QStringList({"COM10", "COM3", "COM4", "COM5", "COM7"}).contains(entry)) order << entry;
  EXPECT_EQ(order, QStringList({"COM10", "COM3", "COM4", "COM5", "COM7"}));

  pick(at_list(1), "COM4");  // the module's own port: no question
  EXPECT_TRUE(questions.isEmpty());

  pick(at_list(1), "COM5");  // No: the list shows COM4 again
  EXPECT_EQ(questions, QStringList{"update Module2 AT port setting?"});
  EXPECT_EQ(at_list(1)->currentText(), "COM4");
  EXPECT_EQ(engine::slots()[1].atPort, 4);

  answer = true;
  engine::slots()[1].resultOk = 1;
  pick(at_list(1), "COM5");
  EXPECT_EQ(engine::slots()[1].atPort, 5);
  EXPECT_EQ(engine::slots()[1].resultOk.load(), 0);
  EXPECT_NE(
      testing_support::read_file(bench.path() / "ZEBL.ini").find("[ATPort_Second]\r\nnumber=5"),
      std::string::npos);
  // Module3 had COM5: it loses it, and its list is emptied.
  EXPECT_EQ(engine::slots()[2].atPort, 0);
  EXPECT_EQ(at_list(2)->count(), 0);

  // A module without a port whose pick is refused has its list emptied.
  answer = false;
  pick(at_list(0), "COM7");
  EXPECT_EQ(questions.last(), "update Module1 AT port setting?");
  EXPECT_EQ(at_list(0)->count(), 0);
}

TEST_F(BenchTest, PortsThatComeAndGoReachTheDialogThroughTheWatcher) {
  write_settings({1, 7});
  std::ofstream(bench.path() / "ZEBL.ini", std::ios::app) << "[DiagPort_Second]\r\nnumber=7\r\n";
  add_modules({1});
  testing_support::DebugCapture debug;
  open_dialog();
  EXPECT_FALSE(entries(at_list(1)).contains("COM7"));
  EXPECT_EQ(engine::slots()[1].diagPort, 7);

  // Module2's port arrives: every list is refilled and Module2's port is selected.
  auto arriving =
      std::make_unique<simulator::PtyModuleServer>(bench.path() / "ports", bench.path() / "store");
  ASSERT_TRUE(arriving->add(7, {}));
  arriving->start();
  ASSERT_TRUE(ui_testing::wait_until_equal([&] { return at_list(1)->currentText(); },
                                           QString("COM7"), kNoticeLimitMs));
  EXPECT_TRUE(entries(at_list(4)).contains("COM7"));
  EXPECT_EQ(at_list(0)->currentText(), "COM1");

  // It goes away: Module2, whose Diag port it was, shows FAIL; the lists still offer the port.
  engine::slots()[1].resultOk = 1;
  engine::slots()[1].upgraded = 0;
  arriving.reset();
  ASSERT_TRUE(
      ui_testing::wait_until([&] { return result_picture(1)->isVisible(); }, kNoticeLimitMs));
  EXPECT_EQ(engine::slots()[1].resultOk.load(), 0);
  EXPECT_FALSE(result_picture(0)->isVisible());
  EXPECT_TRUE(entries(at_list(1)).contains("COM7"));
  EXPECT_EQ(debug.count("DBT_DEVICEARRIVAL\r\n"), 1);
  EXPECT_EQ(debug.count("DBT_DEVICEREMOVECOMPLETE\r\n"), 1);
}
