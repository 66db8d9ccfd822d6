// Start-up: one instance per bench folder and per user; the program's life is the main dialog.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <cstdlib>
#include <filesystem>

#include "platform/bench_lock.h"
#include "platform/instance_lock.h"
#include "tests/ui/bench_fixture.h"
#include "ui/cor_vexapp.h"

namespace {

using ui_testing::BenchTest;

// The single-instance lock of this test lives in a runtime folder of its own.
class StartUpTest : public BenchTest {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("XDG_RUNTIME_DIR")) previous_ = old;
    ::setenv("XDG_RUNTIME_DIR", runtime.str().c_str(), 1);
  }
  void TearDown() override {
    if (previous_.empty())
      ::unsetenv("XDG_RUNTIME_DIR");
    else
      ::setenv("XDG_RUNTIME_DIR", previous_.c_str(), 1);
    BenchTest::TearDown();
  }
  static bool main_dialog_exists() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (qobject_cast<ui::COR_VEXDlg*>(w)) return true;
    }
    return false;
  }

  testing_support::TempDir runtime;
  std::string previous_;
};

TEST_F(StartUpTest, ASecondInstanceSaysSoAndEndsWithZero) {
  write_settings({});
  auto first = platform::InstanceLock::acquire("ZEBL");
  ASSERT_NE(first, nullptr);
  bool dialog_seen = false;
  ui::set_message_box_handler([&](QWidget* owner, const QString& text, const QString& caption) {
    boxes.messages.push_back({owner, text, caption});
    dialog_seen = main_dialog_exists();
  });

  ui::COR_VEXApp app;
  EXPECT_EQ(app.InitInstance(), 0);
  ASSERT_EQ(boxes.messages.size(), 1u);
  EXPECT_EQ(boxes.messages[0].text,
            QStringLiteral("Tool has been opened!\nAlready running: process %1 ui_tests")
                .arg(::getpid()));
  EXPECT_EQ(boxes.messages[0].caption, QCoreApplication::applicationName());
  EXPECT_FALSE(dialog_seen);
  EXPECT_FALSE(main_dialog_exists());
}

// Another program on the bench holds it, whatever its environment (another lock folder of its
// own, as a cron job or su has): the window says which process, and does not start.
TEST_F(StartUpTest, AnotherProgramOnTheBenchKeepsTheWindowFromStarting) {
  write_settings({});
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    auto lock = platform::BenchLock::acquire(bench.str());
    if (::write(ready[1], lock ? "y" : "n", 1) != 1) ::_exit(1);
    ::pause();
    ::_exit(0);
  }
  ::close(ready[1]);
  char taken = 0;
  ASSERT_EQ(::read(ready[0], &taken, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(taken, 'y');

  {
    ui::COR_VEXApp app;
    EXPECT_EQ(app.InitInstance(), 0);
  }
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  ASSERT_EQ(boxes.messages.size(), 1u);
  EXPECT_EQ(boxes.messages[0].text.split('\n'),
            QStringList({"Tool has been opened!",
                         QStringLiteral("Already running: process %1 ui_tests").arg(holder)}));
  EXPECT_FALSE(main_dialog_exists());
  EXPECT_TRUE(platform::InstanceLock::acquire("ZEBL"));  // the window let the user's lock go

  // A lock file that cannot be made stops the start with the reason.
  std::filesystem::remove(bench.path() / "ZEBL.lock");
  std::filesystem::create_directory(bench.path() / "ZEBL.lock");
  ui::COR_VEXApp app;
  EXPECT_EQ(app.InitInstance(), 1);
  ASSERT_EQ(boxes.messages.size(), 2u);
  EXPECT_EQ(boxes.messages[1].text,
            "The bench lock cannot be taken: " + QString::fromStdString(bench.str()) +
                "/ZEBL.lock: Is a directory");
  EXPECT_FALSE(main_dialog_exists());
}

TEST_F(StartUpTest, TheFirstInstanceHoldsTheLockWhileItsDialogRuns) {
  write_settings({});
  bool refused_while_open = false;
  QTimer::singleShot(0, [&] {
    platform::InstanceLock::Refusal refusal;
    refused_while_open =
        platform::InstanceLock::acquire("ZEBL", {}, &refusal) == nullptr && refusal.held;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* d = qobject_cast<ui::COR_VEXDlg*>(w)) d->close();
    }
  });

  ui::COR_VEXApp app;
  EXPECT_EQ(app.InitInstance(), 0);
  EXPECT_TRUE(refused_while_open);
  EXPECT_TRUE(boxes.messages.empty());
  EXPECT_FALSE(main_dialog_exists());
}

}  // namespace
