// The bottom strip: the option lists, Browse, the settings mode (a real login dialog driven by the
// keyboard) and Save.
#include <sys/stat.h>

#include <QApplication>
#include <QDir>
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
  QString folder;
  auto previous = ui::set_file_choice_handler([&](QWidget*, const QString& t, const QString& f) {
    title = t;
    folder = f;
    return picked;
  });
  auto* path_box = control<QLineEdit>(ControlRole::file_path_edit);
  const QString before = path_box->text();

  for (const auto& refused : {empty, fifo}) {
    picked = QString::fromStdString(refused.string());
    control<QPushButton>(ControlRole::browse_button)->click();
  }
  EXPECT_EQ(title, "Select fota files:");
  // It opens in the folder of the current update file.
  EXPECT_EQ(folder, QString::fromStdString(update_file().parent_path().string()));
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

  // When that folder is gone, in the bench folder (never the program's own folder).
  for (engine::ModuleSlot& slot : engine::slots()) slot.filePath = "/nonexistent/folder/x.bin";
  picked.clear();
  control<QPushButton>(ControlRole::browse_button)->click();
  EXPECT_EQ(folder, QDir::currentPath());
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

// While the settings are unlocked no run can start and every run can be stopped.
TEST_F(BenchTest, TheSettingsModeStartsNoRunAndLetsEveryRunBeStopped) {
  write_settings({1, 2});
  std::ofstream(bench.path() / "ZEBL.ini", std::ios::app) << "[DiagPort_Second]\r\nnumber=9\r\n";
  simulator::Faults silent;
  silent.silent = true;
  ASSERT_TRUE(server.add(1, silent));  // Module1 runs until it is stopped
  ASSERT_TRUE(server.add(2, {}));
  server.start();
  open_dialog();
  start_button(0)->click();
  ASSERT_EQ(start_button(0)->text(), "PAUSE");

  type_into_login({ui::kLoginPassword});
  control<QPushButton>(ControlRole::login_button)->click();
  EXPECT_FALSE(all_start_button()->isEnabled());
  EXPECT_TRUE(start_button(0)->isEnabled());  // reads PAUSE
  EXPECT_FALSE(start_button(1)->isEnabled());
  // Nothing that asks starts a run: ALL START, All Check, the panels enabled again.
  dialog->all_start();
  dialog->OnBnClickedAllCheck();
  dialog->send_message(engine::WM_PANELS_ENABLE, 0, 0);
  EXPECT_FALSE(all_start_button()->isEnabled() || start_button(1)->isEnabled());
  EXPECT_EQ(start_button(1)->text(), "START");
  EXPECT_FALSE(engine::worker_in_progress(engine::slots()[1]));

  // PAUSE still stops Module1; its end leaves its button disabled until Save.
  start_button(0)->click();
  ASSERT_TRUE(ui_testing::wait_until_equal([&] { return start_button(0)->text(); },
                                           QString("START"), 60000));
  EXPECT_EQ(exit_code_after_return(0), engine::DL_PAUSED);
  EXPECT_FALSE(start_button(0)->isEnabled());

  control<QPushButton>(ControlRole::save_button)->click();
  EXPECT_TRUE(all_start_button()->isEnabled() && start_button(0)->isEnabled() &&
              start_button(1)->isEnabled());
}
