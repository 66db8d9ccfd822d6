// The bottom strip: the option lists, Browse, the settings mode (a real login dialog driven by the
// keyboard) and Save.
#include <sys/stat.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include "engine/module_slot.h"
#include "tests/ui/bench_fixture.h"
#include "ui/login_dlg.h"

namespace {

using ui::ControlRole;
using ui_testing::BenchTest;

std::string settings_file(const BenchTest&, const std::filesystem::path& bench) {
  return testing_support::read_file(bench / "ZEBL.ini");
}

// Once the login dialog is up, types each attempt into its password box and presses `finish`.
void type_into_login(const QStringList& attempts, Qt::Key finish = Qt::Key_Return) {
  QTimer::singleShot(0, [attempts, finish] {
    QWidget* login = QApplication::activeModalWidget();
    ASSERT_NE(login, nullptr);
    auto* box = login->findChild<QLineEdit*>("password_edit");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->echoMode(), QLineEdit::Password);
    for (const QString& attempt : attempts) {
      QTest::keyClicks(box, attempt);
      QTest::keyClick(box, finish);
      if (login->isVisible()) {
        EXPECT_EQ(box->text(), "");  // refused: the box is emptied
      }
    }
  });
}

}  // namespace

TEST_F(BenchTest, OptionListsStoreTheirChoiceAndLeavingOnlyScriptFailsEveryResult) {
  write_settings({});
  open_dialog();
  auto* upgrade = control<QComboBox>(ControlRole::upgrade_type_list);
  auto choose = [&](int index) {
    upgrade->setCurrentIndex(index);
    Q_EMIT upgrade->activated(index);
  };

  choose(0);  // already the option: stored again, no picture
  EXPECT_NE(settings_file(*this, bench.path()).find("[OnlyUpgradeScript]\r\nenable=0"),
            std::string::npos);
  choose(1);
  EXPECT_NE(settings_file(*this, bench.path()).find("enable=1"), std::string::npos);
  for (int k = 0; k < 6; ++k) {
    EXPECT_FALSE(result_picture(k)->isVisible());
    EXPECT_EQ(engine::slots()[k].onlyUpgradeScript, 1);
    engine::slots()[k].resultOk = 1;
  }
  choose(0);
  for (int k = 0; k < 6; ++k) {
    EXPECT_TRUE(result_picture(k)->isVisible()) << k;
    EXPECT_EQ(engine::slots()[k].resultOk.load(), 0);
    EXPECT_EQ(engine::slots()[k].onlyUpgradeScript, 0);
  }
}

TEST_F(BenchTest, BrowseTakesOnlyAFileWithDataAndSavesItsPath) {
  write_settings({});
  open_dialog();
  const auto empty = bench.path() / "a, b \"empty\".bin";
  std::ofstream(empty).flush();
  const auto fifo = bench.path() / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const auto good = bench.path() / "new update.bin";
  std::ofstream(good) << "data";
  QString picked;
  QString title;
  auto previous = ui::set_file_choice_handler([&](QWidget*, const QString& t, const QString&) {
    title = t;
    return picked;
  });
  auto* path_box = control<QLineEdit>(ControlRole::file_path_edit);
  const QString before = path_box->text();

  for (const auto& refused : {empty, fifo}) {
    picked = QString::fromStdString(refused.string());
    control<QPushButton>(ControlRole::browse_button)->click();
  }
  EXPECT_EQ(title, "Select fota files:");
  ASSERT_EQ(boxes.messages.size(), 2u);
  EXPECT_EQ(boxes.messages[0].text,
            "Upgrade file " + QString::fromStdString(empty.string()) + " has no data! ");
  EXPECT_EQ(boxes.messages[1].text,
            "Upgrade file " + QString::fromStdString(fifo.string()) + " cann't be opened! ");
  EXPECT_EQ(boxes.messages[1].caption, "warning");
  EXPECT_EQ(path_box->text(), before);

  picked = QString::fromStdString(good.string());
  control<QPushButton>(ControlRole::browse_button)->click();
  EXPECT_EQ(path_box->text(), picked);
  EXPECT_NE(settings_file(*this, bench.path()).find("Path=" + good.string()), std::string::npos);
  for (const engine::ModuleSlot& slot : engine::slots()) EXPECT_EQ(slot.filePath, good.string());
  ui::set_file_choice_handler(std::move(previous));
}

TEST_F(BenchTest, LoginUnlocksTheSettingsAndSaveLocksAndReloadsThem) {
  write_settings({});
  open_dialog();
  auto enabled = [&](ControlRole role) { return control<QWidget>(role)->isEnabled(); };

  // Wrong passwords are answered and the box emptied; then the right one opens the settings mode.
  type_into_login({"KDRAWPEL ", "kdrawpel", "", ui::kLoginPassword});
  control<QPushButton>(ControlRole::login_button)->click();
  ASSERT_EQ(boxes.messages.size(), 3u);
  EXPECT_EQ(boxes.messages[0].text, QString::fromUtf8("密码错误,请重新输入!"));
  EXPECT_TRUE(enabled(ControlRole::save_button) && enabled(ControlRole::browse_button));
  EXPECT_FALSE(enabled(ControlRole::login_button) || start_button(0)->isEnabled());
  EXPECT_TRUE(control<QWidget>(ControlRole::save_button)->isVisible());
  EXPECT_FALSE(control<QWidget>(ControlRole::login_button)->isVisible());

  // Save stores nothing itself, reloads the file and reselects only the Upgrade Type list.
  std::ofstream(bench.path() / "ZEBL.ini", std::ios::app)
      << "[OnlyUpgradeScript]\r\nenable=1\r\n[SeLectType]\r\nenable=1\r\n";
  control<QPushButton>(ControlRole::save_button)->click();
  EXPECT_EQ(control<QComboBox>(ControlRole::upgrade_type_list)->currentIndex(), 1);
  EXPECT_EQ(control<QComboBox>(ControlRole::type_list)->currentIndex(), 0);
  EXPECT_EQ(engine::slots()[0].selectType, 1);
  EXPECT_FALSE(enabled(ControlRole::save_button) || enabled(ControlRole::file_path_edit));
  EXPECT_TRUE(enabled(ControlRole::login_button) && start_button(5)->isEnabled());
  EXPECT_FALSE(control<QWidget>(ControlRole::save_button)->isVisible());
  EXPECT_TRUE(control<QWidget>(ControlRole::login_button)->isVisible());

  // Escape ends the login with IDCANCEL and no message; the strip stays locked.
  type_into_login({""}, Qt::Key_Escape);
  control<QPushButton>(ControlRole::login_button)->click();
  EXPECT_EQ(boxes.messages.size(), 3u);
  EXPECT_FALSE(enabled(ControlRole::browse_button));
}
