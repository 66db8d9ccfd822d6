// The terminal runner as its operator sees it: arguments, checks before a run, the display on a
// terminal and in a pipe, Ctrl-C, and the JSON report.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/tools/tool_process.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

const std::regex kStamp(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d )");

// The runner with its output on a pseudo-terminal of `columns` columns, which is its controlling
// terminal (so that a size change reaches it as SIGWINCH).
struct TerminalRun {
  pid_t pid = -1;
  int master = -1;
};

TerminalRun spawn_on_terminal(const std::vector<std::string>& argv, const fs::path& dir,
                              const std::string& runtime_dir, unsigned short columns) {
  winsize size{};
  size.ws_row = 24;
  size.ws_col = columns;
  int master = -1, slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, &size) != 0) return {};
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    ::ioctl(slave, TIOCSCTTY, 0);
    ::dup2(slave, STDOUT_FILENO);
    ::dup2(slave, STDERR_FILENO);
    ::close(master);
    testing_support::exec_in(argv, dir, runtime_dir);
  }
  ::close(slave);
  return {pid, master};
}

// The rows as they appear: escape sequences and carriage returns left out.
std::vector<std::string> visible_rows(const std::string& raw) {
  std::string text = std::regex_replace(raw, std::regex("\033\\[[0-9;]*[A-Za-z]"), "");
  std::vector<std::string> rows;
  std::istringstream in(text);
  for (std::string row; std::getline(in, row);) {
    row.erase(std::remove(row.begin(), row.end(), '\r'), row.end());
    rows.push_back(row);
  }
  return rows;
}

class RunnerTest : public testing_support::ToolBench {
 protected:
  // Runs the runner to its end: its exit code, and its output (standard error too when asked).
  int run(const std::vector<std::string>& args, std::string* out, bool with_errors = true) {
    std::vector<std::string> argv = {QUILL_RUNNER};
    argv.insert(argv.end(), args.begin(), args.end());
    Process p = spawn(argv, bench.path(), runtime.str(), with_errors);
    *out = read_all(p.output);
    return wait_exit(p.pid);
  }
};

}  // namespace

TEST_F(RunnerTest, HelpVersionAndArgumentsItDoesNotTake) {
  std::string out;
  for (const char* help : {"--help", "-h"}) {
    EXPECT_EQ(run({help}, &out, false), 0) << help;  // on standard output
    for (const char* part : {"Usage: quillmark-run", "--debug=FILE", "--json", "--version",
                             "1 to 6", "Exit status:", "  130  stopped by Ctrl-C"})
      EXPECT_NE(out.find(part), std::string::npos) << part << "\n" << out;
  }
  EXPECT_EQ(run({"--version"}, &out, false), 0);
  EXPECT_EQ(out, std::string("quillmark-run ") + QUILL_VERSION + "\n");

  struct Case {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"--x"}, "quillmark-run: unknown option '--x'\n"},
      {{"COM1"}, "quillmark-run: 'COM1' is a port, not a module: name modules by their number"},
      {{"7"}, "quillmark-run: '7' is not a module: modules are numbered 1 to 6\n"},
      {{"--", "--help"}, "quillmark-run: '--help' is not a module"},  // options end at --
      {{"--debug"}, "quillmark-run: option '--debug' requires an argument\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run(c.args, &out), 2) << c.args[0];
    EXPECT_EQ(out.rfind(c.message, 0), 0u) << out;
    EXPECT_NE(out.find("Try 'quillmark-run --help'.\n"), std::string::npos) << out;
  }
}

TEST_F(RunnerTest, BadInputIsToldWithItsPathBeforeAnyModuleStarts) {
  const std::string ini = (bench.path() / "ZEBL.ini").string();
  const std::string update = (bench.path() / "update.bin").string();
  std::string out;
  auto expect_refused = [&](const std::vector<std::string>& args, const std::string& message) {
    EXPECT_EQ(run(args, &out), 2) << message;
    EXPECT_EQ(out, "quillmark-run: " + message + "\n");
    EXPECT_FALSE(fs::exists(bench.path() / "AtLog_1.ini"));  // no module was started
  };

  expect_refused({}, ini +
                         ": No such file or directory (start quillmark-run in the bench folder, or "
                         "name it with --bench)");
  fs::create_directory(ini);
  expect_refused({}, ini + ": is a folder, not the settings file");
  fs::remove(ini);
  write_settings(0);
  expect_refused({}, ini +
                         ": no module has an AT port (set the COM numbers in the window, or as "
                         "number= in the ATPort sections)");
  write_settings(1);
  expect_refused({"2"}, ini +
                            ": Module2 has no AT port (set its COM number in the window, or as "
                            "number= in its ATPort section)");
  fs::remove(update);
  expect_refused({}, update + ": No such file or directory");
  std::ofstream(update).close();
  expect_refused({}, update + ": is empty");
  fs::remove(update);
  fs::create_directory(update);
  expect_refused({}, update + ": is a folder, not an update file");
  fs::remove(update);
  write_settings(1);
  expect_refused({"--debug", (bench.path() / "none" / "debug.log").string()},
                 "cannot open the debug file " + (bench.path() / "none" / "debug.log").string() +
                     ": No such file or directory");
}

TEST_F(RunnerTest, InAPipeEachEventIsOneStampedLineAsItHappensAndCtrlCStopsASettlingWait) {
  write_settings(2, 600000);  // the settling wait is ten minutes: only a stop ends it
  Process sim = start_simulator({"--count", "2"});
  Process run = spawn({QUILL_RUNNER}, bench.path(), runtime.str());
  std::string out;
  while (out.find("Module1 COM1: Prepare to download") == std::string::npos ||
         out.find("Module2 COM2: Prepare to download") == std::string::npos) {
    std::string more = read_until(run.output, "Prepare to download, please wait...\n");
    ASSERT_FALSE(more.empty());
    out += more;
  }
  ::kill(run.pid, SIGINT);
  out += read_all(run.output);
  EXPECT_EQ(wait_exit(run.pid), 130) << out;
  EXPECT_EQ(out.find('\033'), std::string::npos) << out;
  EXPECT_NE(out.find(" Interrupted: stopping the modules...\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Module1 COM1 FAIL (errcode 15): Download Pause!\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find("Module2 COM2 FAIL (errcode 15): Download Pause!\n"), std::string::npos)
      << out;

  // A whole run: every event line carries the time and the module; the progress comes in tenths.
  write_settings(1, 0, 6000);
  EXPECT_EQ(this->run({"1"}, &out), 0) << out;
  std::istringstream lines(out);
  std::vector<std::string> events;
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("Update file:", 0) != 0 && line.rfind("Module1 COM1 PASS", 0) != 0 &&
        line.rfind("Today (", 0) != 0)
      events.push_back(line);
  ASSERT_FALSE(events.empty()) << out;
  for (const std::string& e : events) {
    EXPECT_TRUE(std::regex_search(e, kStamp)) << e;
    EXPECT_NE(e.find(" Module1 COM1: "), std::string::npos) << e;
    std::smatch m;
    if (std::regex_search(e, m, std::regex(R"(: (\d+)% \(.* KiB/s\)$)"))) {
      EXPECT_EQ(std::stoi(m[1]) % 10, 0) << e;
    }
  }
  EXPECT_NE(out.find("Module1 COM1: 100% ("), std::string::npos) << out;
  EXPECT_NE(out.find("Module1 COM1: download success!\n"), std::string::npos) << out;
  EXPECT_EQ(out.find('\033'), std::string::npos);
  stop(sim);
}

TEST_F(RunnerTest, OnATerminalRowsFitItsWidthAndAPassedModuleShowsItsWholeFile) {
  write_settings(2);
  Process sim = start_simulator({"--count", "2", "--fault", "COM2:count-offset=1"});
  TerminalRun term = spawn_on_terminal({QUILL_RUNNER}, bench.path(), runtime.str(), 80);
  std::string raw = read_all(term.master);  // up to the runner's end (EIO)
  EXPECT_EQ(wait_exit(term.pid), 1) << raw;
  std::vector<std::string> rows = visible_rows(raw);
  for (const std::string& row : rows) {
    if (row.find(" [") != std::string::npos) {
      EXPECT_LE(row.size(), 80u) << row;
    }
  }
  // The last drawing of the block: the passed module at 100%, the failed one with its cause.
  std::string last1, last2;
  for (const std::string& row : rows) {
    if (row.rfind("Module1 COM1 [", 0) == 0) last1 = row;
    if (row.rfind("Module2 COM2 [", 0) == 0) last2 = row;
  }
  EXPECT_NE(last1.find("#] 100% PASS"), std::string::npos) << last1;
  EXPECT_EQ(last1.find("-]"), std::string::npos) << last1;
  EXPECT_NE(last2.find("FAIL"), std::string::npos) << last2;
  EXPECT_NE(raw.find("Module2 COM2 FAIL (errcode 13): Byte count match failed: 1501!"),
            std::string::npos);

  // A narrower terminal during a settling wait: the rows are drawn anew to the new width, with
  // the settling wait counting down.
  write_settings(2, 600000);
  term = spawn_on_terminal({QUILL_RUNNER}, bench.path(), runtime.str(), 80);
  std::string seen = read_until(term.master, "s left");
  winsize narrow{};
  narrow.ws_row = 24;
  narrow.ws_col = 40;
  ASSERT_EQ(::ioctl(term.master, TIOCSWINSZ, &narrow), 0);  // SIGWINCH to the runner
  std::string after = read_until(term.master, "\033[J");    // the redraw after the change
  after += read_until(term.master, "\n");
  after += read_until(term.master, "\n");  // both rows at the new width
  ::kill(term.pid, SIGINT);
  after += read_all(term.master);
  EXPECT_EQ(wait_exit(term.pid), 130) << after;
  size_t redraw = after.find("\033[J");
  ASSERT_NE(redraw, std::string::npos);
  std::string block = after.substr(redraw, after.find("Interrupted") - redraw);
  for (const std::string& row : visible_rows(block)) {
    if (row.find(" [") != std::string::npos) {
      EXPECT_LE(row.size(), 40u) << row;
    }
  }
  EXPECT_NE(seen.find("settling, 600 s left"), std::string::npos) << seen;
  stop(sim);
}

TEST_F(RunnerTest, JsonReportIsAllOfStandardOutputAndDebugLinesAreStamped) {
  write_settings(2);
  {
    std::ofstream ini(bench.path() / "ZEBL.ini", std::ios::app);
    ini << "[ATPort_Third]\nnumber=9\n";  // no such port on this bench
  }
  Process sim = start_simulator({"--count", "2", "--fault", "COM2:count-offset=1"});
  const fs::path log = bench.path() / "debug.log";
  std::string out;
  EXPECT_EQ(run({"--json", "--debug=" + log.string()}, &out, false), 1);
  nlohmann::json report = nlohmann::json::parse(out);  // throws on anything else in the output
  ASSERT_EQ(report["modules"].size(), 3u) << out;
  const nlohmann::json& m1 = report["modules"][0];
  EXPECT_EQ(m1["module"], 1);
  EXPECT_EQ(m1["com"], 1);
  EXPECT_EQ(m1["result"], "PASS");
  EXPECT_EQ(m1["errcode"], 0);
  EXPECT_EQ(m1["size"], 1500);
  EXPECT_EQ(m1["file"], (bench.path() / "update.bin").string());
  EXPECT_TRUE(m1["device"].is_string());
  EXPECT_TRUE(m1["cause"].is_null());
  EXPECT_TRUE(std::regex_search(m1["start"].get<std::string>() + " ", kStamp));
  EXPECT_GE(m1["duration_s"].get<double>(), 0.0);
  const nlohmann::json& m2 = report["modules"][1];
  EXPECT_EQ(m2["result"], "FAIL");
  EXPECT_EQ(m2["errcode"], 13);
  EXPECT_EQ(m2["cause"].get<std::string>().rfind("Byte count match failed: 1501!", 0), 0u);
  const nlohmann::json& m3 = report["modules"][2];
  EXPECT_EQ(m3["result"], "FAIL");
  // The cause the record gives, from the opening itself; no result code.
  EXPECT_EQ(m3["cause"], "OpenATPort Failed!: COM9 is not present");
  EXPECT_TRUE(m3["errcode"].is_null());
  for (const nlohmann::json& m : report["modules"]) EXPECT_EQ(m["recorded"], true);
  EXPECT_EQ(report["today"]["other"], 1);
  EXPECT_EQ(report["totals"]["passed"], 1);
  EXPECT_EQ(report["totals"]["failed"], 2);
  EXPECT_EQ(report["totals"]["exit_code"], 1);

  std::ifstream in(log);
  int lines = 0;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) {
      ++lines;
      EXPECT_TRUE(std::regex_search(line, kStamp)) << line;
    }
  EXPECT_GT(lines, 10);
  stop(sim);
}

TEST_F(RunnerTest, APortThatCannotBeOpenedOrGoesAwayIsExplained) {
  write_settings(2, 0, 20000);
  Process sim = start_simulator({"--count", "2"});
  // COM2 is held by another program.
  std::string com2 = fs::canonical(bench.path() / "ports" / "COM2").string();
  int held = ::open(com2.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);

  Process run = spawn({QUILL_RUNNER}, bench.path(), runtime.str());
  std::string out = read_until(run.output, "Module1 COM1: 10% (");
  stop(sim);  // the modules and their ports go away during the transfer
  out += read_all(run.output);
  EXPECT_EQ(wait_exit(run.pid), 1) << out;
  ::close(held);
  EXPECT_NE(out.find(" Module2: COM2: " + com2 + ": in use by another program (held by process " +
                     std::to_string(::getpid())),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("Module2 COM2 FAIL: OpenATPort Failed!: " + com2 +
                     ": in use by another program (held by process " + std::to_string(::getpid())),
            std::string::npos)
      << out;
  // The serial layer saw the device hang up; the result code and status texts stay as they were.
  EXPECT_NE(out.find("(device gone: COM1); the module may hold a partial update.bin\n"),
            std::string::npos)
      << out;
}
