// The simulator and the terminal runner as the programs a person starts, on a bench folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/serial_link.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/tool_process.h"

namespace fs = std::filesystem;
using testing_support::Process;
using testing_support::read_all;
using testing_support::read_file;
using testing_support::read_until;
using testing_support::spawn;
using testing_support::wait_exit;
using testing_support::wait_ready;

namespace {

// CPU time of a process so far, in clock ticks.
long cpu_ticks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), {});
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; fields >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) {
      stime = std::stol(field);
      break;
    }
  }
  return utime + stime;
}

class ToolsTest : public testing_support::ToolBench {};

}  // namespace

TEST_F(ToolsTest, RunnerUpdatesTheBenchAndExitsZeroOnlyWhenAllPassed) {
  write_settings(3);
  Process sim = start_simulator({"--count", "3", "--fault", "COM2:count-offset=1"});
  Process run = spawn({QUILL_RUNNER}, bench.path(), runtime.str());
  std::string out = read_all(run.output);
  EXPECT_EQ(wait_exit(run.pid), 1) << out;
  EXPECT_NE(out.find("Module1 COM1 PASS\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Module2 COM2 FAIL (errcode 13): Byte count match failed: 1501!"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("Module3 COM3 PASS\n"), std::string::npos) << out;
  EXPECT_EQ(read_file(bench.path() / "store" / "COM3" / "update.bin"), std::string(1500, 'Q'));
  // The AT traffic logs are kept in the bench folder.
  EXPECT_NE(read_file(bench.path() / "AtLog_1.ini").find("AT\r\n"), std::string::npos);

  // Only the modules named; all of them pass.
  Process again = spawn({QUILL_RUNNER, "1", "3"}, bench.path(), runtime.str());
  out = read_all(again.output);
  EXPECT_EQ(wait_exit(again.pid), 0) << out;
  EXPECT_EQ(out.find("Module2"), std::string::npos);

  stop(sim);
  EXPECT_FALSE(fs::exists(bench.path() / "ports" / "COM1"));  // links removed on exit
}

TEST_F(ToolsTest, RunnerRefusesASecondInstanceAndABenchWithoutPorts) {
  write_settings(0);
  Process run = spawn({QUILL_RUNNER}, bench.path(), runtime.str());
  read_all(run.output);
  EXPECT_EQ(wait_exit(run.pid), 2);

  // While one runner waits for a silent module, a second one is refused.
  write_settings(1);
  Process sim = start_simulator({"--count", "1", "--fault", "COM1:silent"});
  Process first = spawn({QUILL_RUNNER}, bench.path(), runtime.str());
  std::string out = read_until(first.output, "Update file:");  // it holds the lock from here on
  Process second = spawn({QUILL_RUNNER}, bench.path(), runtime.str());
  read_all(second.output);
  EXPECT_EQ(wait_exit(second.pid), 3);
  ::kill(first.pid, SIGINT);  // as PAUSE: the run ends at its next check
  out += read_all(first.output);
  EXPECT_EQ(wait_exit(first.pid), 130);
  EXPECT_NE(out.find("Module1 COM1 FAIL (errcode 15)"), std::string::npos) << out;
  stop(sim);
}

TEST_F(ToolsTest, SimulatorSurvivesManyOpeningsWithoutBusyLooping) {
  Process sim = start_simulator({"--count", "1"});
  testing_support::ScopedWorkingDirectory cwd(bench.path());
  engine::ModuleSlot slot;
  slot.atPort = 1;
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(engine::OpenATPort(slot), 1) << i;
    engine::close_at_port(slot);
  }
  long before = cpu_ticks(sim.pid);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  // Idle after the tool has gone: no more than a few ticks of the second are spent.
  EXPECT_LT(cpu_ticks(sim.pid) - before, 5);
  // And it still answers.
  ASSERT_EQ(engine::OpenATPort(slot), 1);
  engine::ReplyBuffer reply{};
  engine::write_port(slot, "AT\r\n", 4);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  engine::read_port(slot, reply);
  EXPECT_NE(engine::reply_text(reply).find("OK"), std::string_view::npos);
  engine::close_at_port(slot);
  stop(sim);
}
