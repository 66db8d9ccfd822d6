// The `quillmark` program in a real X session (a private Xvfb): a bench of two simulated modules,
// ALL START from the keyboard, the close rule answering real close requests (WM_DELETE_WINDOW), a
// second instance refused, and a screenshot of the finished runs.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <string>

#include "tests/support/temp_dir.h"
#include "tests/ui/x_session.h"

namespace {

namespace fs = std::filesystem;
using testing_support::read_file;
using x_session::await;
using x_session::Child;
using x_session::Xvfb;

constexpr const char* kMainTitle = "^VX4410 Quillmark Ver1\\.18$";
constexpr const char* kRefusalCaption = "^warning$";

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!x_session::on_path("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
    ASSERT_FALSE(x.display().empty()) << "Xvfb did not start";

    content.resize(1500);
    std::mt19937 random(7);
    for (char& c : content) c = static_cast<char>(random());
    std::ofstream(bench.path() / "update.bin", std::ios::binary) << content;
    std::ofstream(bench.path() / "ZEBL.ini")
        << "[FilePath]\r\nPath=" << (bench.path() / "update.bin").string()
        << "\r\nSleepTime=0\r\n[ATPort_First]\r\nnumber=1\r\n[ATPort_Second]\r\nnumber=2\r\n";

    simulator = x_session::spawn({QUILL_SIMULATOR, "--count", "2", "--store", "store"},
                                 bench.path(), {}, true);
    std::string line;
    while (x_session::read_line(simulator.output, &line) && line != "ready") {
    }
    ASSERT_EQ(line, "ready");
  }
  void TearDown() override {
    for (Child* c : {&second, &first}) {
      if (c->pid > 0) {
        ::kill(c->pid, SIGKILL);
        ::waitpid(c->pid, nullptr, 0);
      }
    }
    if (simulator.pid > 0) {
      ::kill(simulator.pid, SIGTERM);
      ::waitpid(simulator.pid, nullptr, 0);
      ::close(simulator.output);
    }
  }

  // The program in the bench; its diagnostics go to <bench>/<log>.
  Child start_window(const std::string& log) {
    return x_session::spawn({"/bin/sh", "-c", std::string("exec \"$0\" 2>") + log, QUILL_WINDOW},
                            bench.path(),
                            {x.env(), "QT_QPA_PLATFORM=xcb", "XDG_RUNTIME_DIR=" + runtime.str()});
  }
  // What a program that did not show its window said, for the failure message.
  std::string ended_early(Child& c, const std::string& log) {
    int code = -2;
    std::string why = "still running";
    if (x_session::has_exited(c.pid, &code)) {
      why = "ended with " + std::to_string(code);
      c.pid = -1;
    }
    return why + "; its diagnostics:\n" + read_file(bench.path() / log);
  }
  int collect(Child& c) {
    const int code = x_session::wait_exit(c.pid);
    c.pid = -1;
    return code;
  }
  // A real close request to the window, as a window manager's close box sends it.
  void request_close(const std::string& window) {
    ASSERT_EQ(x_session::run({QUILL_CLOSE_REQUEST, window}, {x.env()}), 0);
  }
  // Module n's run has ended: its stored file is the update file and its AtLog holds the answer to
  // the run's last command.
  bool module_done(int n) const {
    const std::string log = read_file(bench.path() / ("AtLog_" + std::to_string(n) + ".ini"));
    const size_t last = log.find("AT+CBAPPS");
    return read_file(bench.path() / "store" / ("COM" + std::to_string(n)) / "update.bin") ==
               content &&
           last != std::string::npos && log.find("OK", last) != std::string::npos;
  }

  Xvfb x;
  testing_support::TempDir bench;
  testing_support::TempDir runtime;
  std::string content;
  Child simulator, first, second;
};

TEST_F(WindowTest, AllStartFromTheKeyboardAndTheCloseRuleOnRealCloseRequests) {
  first = start_window("first.log");
  const std::string main_window = x_session::await_window(x, first.pid, kMainTitle);
  ASSERT_FALSE(main_window.empty()) << "no main window: " << ended_early(first, "first.log");

  // Enter presses ALL START, the default button; a close request right behind it meets a running
  // module and is refused with a message box.
  ASSERT_TRUE(x_session::press(x, main_window, "Return"));
  request_close(main_window);
  const std::string refusal = x_session::await_window(x, first.pid, kRefusalCaption);
  ASSERT_FALSE(refusal.empty()) << "the close request was not refused";
  ASSERT_TRUE(x_session::press(x, refusal, "Return"));
  EXPECT_TRUE(await([&] { return x_session::windows(x, first.pid, kRefusalCaption).empty(); }));

  // A second instance in the same bench says so and ends with 0 once acknowledged, without ever
  // showing a main dialog.
  second = start_window("second.log");
  const std::string notice = x_session::await_window(x, second.pid, "^quillmark$");
  ASSERT_FALSE(notice.empty()) << "the second instance showed no message: "
                               << ended_early(second, "second.log");
  EXPECT_TRUE(x_session::windows(x, second.pid, kMainTitle).empty());
  ASSERT_TRUE(x_session::press(x, notice, "Return"));
  EXPECT_EQ(collect(second), 0);

  ASSERT_TRUE(await([&] { return module_done(1) && module_done(2); }))
      << "the modules did not both receive the update file";
  EXPECT_EQ(x_session::run({"import", "-window", "root", QUILL_SCREENSHOT}, {x.env()}), 0);

  // Now the close request is accepted and the program ends with 0. (A request that still meets a
  // worker sending its last notices is refused; it is acknowledged and repeated.)
  int code = -2;
  request_close(main_window);
  ASSERT_TRUE(await([&] {
    if (x_session::has_exited(first.pid, &code)) return true;
    const auto boxes = x_session::windows(x, first.pid, kRefusalCaption);
    if (!boxes.empty() && x_session::press(x, boxes.front(), "Return")) request_close(main_window);
    return false;
  })) << "the window did not close";
  first.pid = -1;
  EXPECT_EQ(code, 0);
}

// Enter held down (or left pressed by a barcode scanner or a remote desktop) is one ALL START: the
// keyboard's auto-repeat sends a stream of key events, and only the first is a fresh press.
TEST_F(WindowTest, EnterHeldDownStartsAllStartOnce) {
  first = start_window("first.log");
  const std::string main_window = x_session::await_window(x, first.pid, kMainTitle);
  ASSERT_FALSE(main_window.empty()) << "no main window: " << ended_early(first, "first.log");

  // Held for longer than the two runs take, so that a repeat would meet idle modules again.
  ASSERT_EQ(x_session::run({"xdotool", "windowfocus", "--sync", main_window, "keydown", "Return"},
                           {x.env()}),
            0);
  ASSERT_TRUE(await([&] { return module_done(1) && module_done(2); }));
  ::usleep(3 * 1000 * 1000);
  ASSERT_EQ(x_session::run({"xdotool", "keyup", "Return"}, {x.env()}), 0);

  // Closed once every run has ended; then the record holds one run per module.
  int code = -2;
  request_close(main_window);
  ASSERT_TRUE(await([&] {
    if (x_session::has_exited(first.pid, &code)) return true;
    const auto boxes = x_session::windows(x, first.pid, kRefusalCaption);
    if (!boxes.empty() && x_session::press(x, boxes.front(), "Return")) request_close(main_window);
    return false;
  })) << "the window did not close";
  first.pid = -1;
  EXPECT_EQ(code, 0);
  const std::string runs = read_file(bench.path() / "runs.csv");
  EXPECT_EQ(std::count(runs.begin(), runs.end(), '\n'), 3) << runs;  // the header and two runs
}

}  // namespace
