// What the operator's hands do to the dialog: a mouse wheel over a closed port list, Enter held
// down, and a port that arrives while the port question waits for an answer.
#include <QApplication>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QWheelEvent>

#include "tests/ui/bench_fixture.h"

namespace {

using ui::ControlRole;
using ui_testing::BenchTest;
using ui_testing::wait_until;

constexpr int kNoticeLimitMs = 30000;  // generous: a notice arrives within milliseconds

// A wheel turned one notch down over `widget`, delivered as the window system delivers it.
void turn_wheel(QWidget* widget) {
  const QPointF inside(widget->width() / 2.0, widget->height() / 2.0);
  QWheelEvent wheel(inside, widget->mapToGlobal(inside), QPoint(), QPoint(0, -120), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(widget, &wheel);
}

// Enter pressed or released while `focus` has the focus, at the window system's time `at` (0: not
// given): the key goes to it and on to the dialog.
void key_enter(QWidget* focus, QEvent::Type type, bool auto_repeat, quint64 at = 0) {
  QKeyEvent key(type, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"), auto_repeat);
  key.setTimestamp(at);
  QApplication::sendEvent(focus, &key);
}
void press_enter(QWidget* focus, bool auto_repeat, quint64 at = 0) {
  key_enter(focus, QEvent::KeyPress, auto_repeat, at);
}

class OperatorInputTest : public BenchTest {
 protected:
  void SetUp() override {
    previous_ = ui::set_question_handler([this](QWidget*, const QString& text, const QString&) {
      questions << text;
      if (while_asked) while_asked();
      return true;
    });
  }
  void TearDown() override {
    ui::set_question_handler(std::move(previous_));
    BenchTest::TearDown();
  }
  QStringList questions;
  std::function<void()> while_asked;

 private:
  ui::QuestionHandler previous_;
};

}  // namespace

TEST_F(OperatorInputTest, AWheelOverAClosedListNeverChangesItNorTakesTheFocus) {
  write_settings({1, 2});
  add_modules({1, 2, 3});
  open_dialog();
  at_list(0)->setFocus();
  auto* upgrade = control<QComboBox>(ControlRole::upgrade_type_list);

  turn_wheel(at_list(1));  // under the pointer, without the focus
  turn_wheel(at_list(0));  // with the focus
  turn_wheel(upgrade);

  EXPECT_TRUE(questions.isEmpty());
  EXPECT_EQ(at_list(1)->currentText(), "COM2");
  EXPECT_EQ(at_list(0)->currentText(), "COM1");
  EXPECT_EQ(engine::slots()[1].atPort, 2);
  EXPECT_EQ(upgrade->currentIndex(), 0);
  EXPECT_EQ(dialog->focusWidget(), at_list(0));
}

TEST_F(OperatorInputTest, APortArrivingWhileThePortQuestionIsOpenLeavesTheListOnThePortStored) {
  write_settings({0, 4});
  add_modules({4, 5});
  open_dialog();
  std::unique_ptr<simulator::PtyModuleServer> arriving;
  // A module is plugged in while the question waits: the list is refilled meanwhile.
  while_asked = [&] {
    arriving = std::make_unique<simulator::PtyModuleServer>(bench.path() / "ports");
    ASSERT_TRUE(arriving->add(8, {}));
    EXPECT_TRUE(wait_until([&] { return at_list(3)->findText("COM8") >= 0; }, kNoticeLimitMs));
    EXPECT_EQ(at_list(1)->currentText(), "COM4");  // the refill shows the port still configured
  };

  at_list(1)->showPopup();
  at_list(1)->hidePopup();
  const int index = at_list(1)->findText("COM5");
  ASSERT_GE(index, 0);
  at_list(1)->setCurrentIndex(index);
  Q_EMIT at_list(1)->activated(index);

  EXPECT_EQ(questions, QStringList{"update Module2 AT port setting?"});
  EXPECT_EQ(engine::slots()[1].atPort, 5);
  EXPECT_EQ(at_list(1)->currentText(), "COM5");
}

TEST_F(OperatorInputTest, EnterStartsAllStartOnlyOnAFreshPress) {
  write_settings({});
  open_dialog();
  QSignalSpy clicks(all_start_button(), &QPushButton::clicked);
  QWidget* focus = at_list(0);

  for (int i = 0; i < 20; ++i) press_enter(focus, true);  // a key held down since before
  EXPECT_EQ(clicks.count(), 0);
  press_enter(focus, false);
  for (int i = 0; i < 20; ++i) press_enter(focus, true);  // held on after the press
  EXPECT_EQ(clicks.count(), 1);
  press_enter(control<QWidget>(ControlRole::file_path_edit), false);
  EXPECT_EQ(clicks.count(), 2);

  // A repeat that the window system did not mark: a release and a press of the same moment.
  key_enter(focus, QEvent::KeyRelease, false, 5000);
  press_enter(focus, false, 5000);
  EXPECT_EQ(clicks.count(), 2);
  key_enter(focus, QEvent::KeyRelease, false, 5040);
  press_enter(focus, false, 5200);  // a person's next press
  EXPECT_EQ(clicks.count(), 3);
}
