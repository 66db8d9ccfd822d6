// The `quillmark` program in a real X session (a private Xvfb): a bench of two simulated modules,
// ALL START from the keyboard, the close rule answering real close requests (WM_DELETE_WINDOW), a
// second instance refused, its diagnostic lines only where asked for, and a screenshot of the
// finished runs. Its command line is answered without any display.
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

  // The program in the bench with the lock folder `runtime_dir`; its standard error goes to
  // <bench>/<log>.
  Child start_window(const std::string& log, const std::string& runtime_dir,
                     const std::vector<std::string>& options = {}) {
    std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>" + log, QUILL_WINDOW};
    argv.insert(argv.end(), options.begin(), options.end());
    return x_session::spawn(argv, bench.path(),
                            {x.env(), "QT_QPA_PLATFORM=xcb", "XDG_RUNTIME_DIR=" + runtime_dir});
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
  // Closes the first program's window with close requests, acknowledging the refusals that meet a
  // worker still sending its last notices; gives its exit code (-2 when it did not end).
  int close_when_idle(const std::string& main_window) {
    int code = -2;
    request_close(main_window);
    const bool ended = await([&] {
      if (x_session::has_exited(first.pid, &code)) return true;
      const auto boxes = x_session::windows(x, first.pid, kRefusalCaption);
      if (!boxes.empty() && x_session::press(x, boxes.front(), "Return"))
        request_close(main_window);
      return false;
    });
    if (ended) first.pid = -1;
    return code;
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
  testing_support::TempDir other_runtime;  // of a session with another environment (cron, su)
  std::string content;
  Child simulator, first, second;
};

TEST_F(WindowTest, AllStartFromTheKeyboardAndTheCloseRuleOnRealCloseRequests) {
  first = start_window("first.log", runtime.str(), {"--debug", "debug.log"});
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
  // showing a main dialog, also when it runs with a lock folder of its own.
  second = start_window("second.log", other_runtime.str());
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
  EXPECT_EQ(close_when_idle(main_window), 0);

  // Its diagnostic lines went to the file asked for, one stamped line each, and not to the
  // terminal (no ZEBL.cfg is normal: its line is among them).
  const std::string debug = read_file(bench.path() / "debug.log");
  EXPECT_NE(debug.find(" read_cfgini_file() read failed.\n"), std::string::npos) << debug;
  EXPECT_EQ(debug.find("\n\n"), std::string::npos) << debug;
  EXPECT_NE(debug.front(), '\n');
  for (const char* log : {"first.log", "second.log"})
    EXPECT_EQ(read_file(bench.path() / log).find("read_cfgini_file"), std::string::npos) << log;
}

// --help, --version and a bad option are answered before the window system starts: also where
// there is no display at all.
TEST(WindowProgramTest, AnswersItsCommandLineWithoutADisplay) {
  std::string out;
  for (const char* help : {"--help", "-h"}) {
    EXPECT_EQ(x_session::run({"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY",
                              "QT_QPA_PLATFORM=xcb", QUILL_WINDOW, help},
                             {}, &out),
              0)
        << help;
    for (const char* part : {"Usage: quillmark [-C DIR | --default-bench] [--debug FILE]\n",
                             "--bench=DIR", "--default-bench", "~/quillmark", "--debug=FILE",
                             "--version", "Exit status:", "Tool has been opened!"})
      EXPECT_NE(out.find(part), std::string::npos) << part << "\n" << out;
  }
  EXPECT_EQ(x_session::run({"env", "-u", "DISPLAY", QUILL_WINDOW, "--version"}, {}, &out), 0);
  EXPECT_EQ(out.rfind("quillmark ", 0), 0u) << out;

  testing_support::TempDir dir;
  for (const char* bad : {"--bogus", "--debug", "bench"}) {
    const std::string errors = (dir.path() / "errors").string();
    EXPECT_EQ(
        x_session::run({"/bin/sh", "-c", "exec \"$0\" \"$1\" 2>\"$2\"", QUILL_WINDOW, bad, errors},
                       {"QT_QPA_PLATFORM=xcb", "DISPLAY="}, &out),
        2)
        << bad;
    const std::string told = read_file(errors);
    EXPECT_EQ(told.rfind("quillmark: ", 0), 0u) << told;
    EXPECT_NE(told.find("\nUsage: quillmark [-C DIR | --default-bench] [--debug FILE]\nTry "
                        "'quillmark --help'.\n"),
              std::string::npos)
        << told;
    EXPECT_EQ(out, "");
  }

  // A bench that is not there, and a default bench that cannot be made, are refused with the
  // reason: without a display (an empty DISPLAY is none) nothing else is shown.
  std::ofstream(dir.path() / "quillmark") << "a file where the default bench would be";
  for (const auto& [option, told] : std::vector<std::pair<std::string, std::string>>{
           {"--bench=" + dir.str() + "/missing",
            "bench folder " + dir.str() + "/missing: No such file or directory"},
           {"--default-bench", "bench folder " + dir.str() + "/quillmark: not a folder"},
       }) {
    const std::string errors = (dir.path() / "errors").string();
    EXPECT_EQ(x_session::run(
                  {"/bin/sh", "-c", "exec \"$0\" \"$1\" 2>\"$2\"", QUILL_WINDOW, option, errors},
                  {"QT_QPA_PLATFORM=xcb", "DISPLAY=", "HOME=" + dir.str()}, &out),
              2)
        << option;
    EXPECT_EQ(read_file(errors), "quillmark: " + told + "\n");
  }
}

// Enter held down (or left pressed by a barcode scanner or a remote desktop) is one ALL START: the
// keyboard's auto-repeat sends a stream of key events, and only the first is a fresh press.
TEST_F(WindowTest, EnterHeldDownStartsAllStartOnce) {
  first = start_window("first.log", runtime.str());
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
  EXPECT_EQ(close_when_idle(main_window), 0);
  const std::string runs = read_file(bench.path() / "runs.csv");
  EXPECT_EQ(std::count(runs.begin(), runs.end(), '\n'), 3) << runs;  // the header and two runs
}

}  // namespace
