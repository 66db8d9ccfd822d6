// The terminal runner's locks (one program per bench folder and per user) and its debug channel;
// and every program of the tool quiet on a terminal unless asked for its diagnostic lines.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "platform/instance_lock.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/tool_process.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

// The exit status of `pid`, or -2 (and the process ended) when it has not ended within 30 s:
// a runner that is not refused waits out its settling time.
int exit_within_30_s(pid_t pid) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      return -2;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class RunnerLockTest : public ToolBench {
 protected:
  // A runner in the bench with the lock folder `runtime_dir`, as user 65534 when `as_other`.
  std::pair<int, std::string> run(const std::string& runtime_dir, bool as_other = false) {
    std::vector<std::string> argv = {QUILL_RUNNER};
    if (as_other)
      argv = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", QUILL_RUNNER};
    Process p = spawn(argv, bench.path(), runtime_dir, true);
    std::string out = read_all(p.output);
    return {exit_within_30_s(p.pid), out};
  }
};

}  // namespace

TEST_F(RunnerLockTest, NamesTheHoldingProcessOrTheReasonTheLockCannotBeCreated) {
  TempDir runtime;
  auto held = platform::InstanceLock::acquire("ZEBL", runtime.str());
  ASSERT_TRUE(held);
  Process run = spawn({QUILL_RUNNER}, bench.path(), runtime.str(), true);
  std::string out = read_all(run.output);
  EXPECT_EQ(wait_exit(run.pid), 3);
  EXPECT_EQ(out,
            "Tool has been opened! (process " + std::to_string(::getpid()) + " tools_tests)\n");
  held.reset();

  std::filesystem::permissions(runtime.path(), std::filesystem::perms::all);
  run = spawn({QUILL_RUNNER}, bench.path(), runtime.str(), true);
  out = read_all(run.output);
  EXPECT_EQ(wait_exit(run.pid), 2);
  EXPECT_EQ(out.rfind("quillmark-run: cannot take the single-instance lock: " + runtime.str() +
                          ": other users have access",
                      0),
            0u)
      << out;
}

// A cron job, su or sudo has another lock folder than the desktop session: the bench lock still
// keeps a second runner off the bench, whoever runs it; a runner killed leaves the bench free.
TEST_F(RunnerLockTest, ASecondRunnerOnTheBenchIsRefusedWhateverItsEnvironmentOrUser) {
  write_settings(1, 600000);
  Process sim = start_simulator({"--count", "1"});
  Process first = spawn({QUILL_RUNNER}, bench.path(), runtime.str(), true);
  ASSERT_NE(read_until(first.output, "Prepare to download").find("Prepare to download"),
            std::string::npos);
  const std::string refused =
      "Tool has been opened! (process " + std::to_string(first.pid) + " quillmark-run)\n";

  TempDir cron_runtime;
  EXPECT_EQ(run(cron_runtime.str()), std::make_pair(3, refused));

  const bool as_other = ::geteuid() == 0 && ::access("/usr/bin/setpriv", X_OK) == 0;
  TempDir other_runtime;
  if (as_other) {
    // The other user may enter the bench and read its lock file, but not write it.
    ASSERT_EQ(::chown(other_runtime.path().c_str(), 65534, 65534), 0);
    fs::permissions(bench.path(), fs::perms::owner_all | fs::perms::group_read |
                                      fs::perms::group_exec | fs::perms::others_read |
                                      fs::perms::others_exec);
    fs::permissions(bench.path() / "ZEBL.lock", fs::perms::owner_read | fs::perms::owner_write |
                                                    fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(run(other_runtime.str(), true), std::make_pair(3, refused));
  }

  ::kill(first.pid, SIGKILL);  // no chance to release anything
  EXPECT_EQ(wait_exit(first.pid), -1);
  ::close(first.output);
  if (as_other) {
    EXPECT_EQ(run(other_runtime.str(), true),
              std::make_pair(2, "quillmark-run: cannot take the bench lock: " + bench.str() +
                                    "/ZEBL.lock: Permission denied\n"));
  }
  write_settings(1, 0);
  auto [code, out] = run(cron_runtime.str());
  EXPECT_EQ(code, 0) << out;
  EXPECT_NE(out.find("Module1 COM1 PASS"), std::string::npos) << out;
  stop(sim);
}

// Nothing of the diagnostic channel reaches a terminal unless it is asked for; asked for, it is one
// stamped line per trace (no ZEBL.cfg is normal: its trace is among them).
TEST_F(RunnerLockTest, TheDebugChannelIsQuietUnlessAskedAndHasOneLinePerTrace) {
  write_settings(1);
  Process sim = start_simulator({"--count", "1"});
  auto [code, out] = run(runtime.str());
  EXPECT_EQ(code, 0) << out;
  EXPECT_EQ(out.find('\r'), std::string::npos) << out;
  EXPECT_EQ(out.find("read_cfgini_file"), std::string::npos) << out;

  Process p = spawn({QUILL_RUNNER, "--debug", "debug.log"}, bench.path(), runtime.str(), true);
  out = read_all(p.output);
  EXPECT_EQ(wait_exit(p.pid), 0) << out;
  EXPECT_EQ(out.find("read_cfgini_file"), std::string::npos) << out;
  std::istringstream lines(read_file(bench.path() / "debug.log"));
  const std::regex stamped(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d \S.*)");
  int traces = 0;
  bool cfg_told = false;
  for (std::string line; std::getline(lines, line); ++traces) {
    EXPECT_TRUE(std::regex_match(line, stamped)) << "line " << traces + 1 << ": '" << line << "'";
    cfg_told = cfg_told || line.find(" read_cfgini_file() read failed.") != std::string::npos;
  }
  EXPECT_GT(traces, 1);
  EXPECT_TRUE(cfg_told);

  // The other programs a user starts say nothing of it either.
  for (const std::vector<std::string>& argv :
       {std::vector<std::string>{QUILL_PORTS}, {QUILL_LOG, "--module", "1", "--tail", "2"}}) {
    Process tool = spawn(argv, bench.path(), runtime.str(), true);
    out = read_all(tool.output);
    EXPECT_EQ(wait_exit(tool.pid), 0) << argv[0] << ": " << out;
    EXPECT_EQ(out.find('\r'), std::string::npos) << argv[0] << ": " << out;
  }
  stop(sim);
}
