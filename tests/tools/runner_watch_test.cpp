// quillmark-run --watch with simulated modules that are plugged in and pulled out: every plug-in
// of a configured port gives one run and one record, a module back sooner than the re-arm time
// after a PASS gives none and says why, a module that is gone shows no result, and a port that no
// module has starts nothing.
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>

#include "tests/tools/tool_process.h"
#include "tools/simulator/pty_module_server.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

constexpr int kRearmSeconds = 2;  // ReArmSeconds: simulated modules have no serial number

int count_of(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

class RunnerWatchTest : public ToolBench {
 protected:
  // Reads the runner's output until `needle` has appeared `count` times in all of it.
  void await(int fd, const std::string& needle, int count) {
    char c;
    while (count_of(output, needle) < count && ::read(fd, &c, 1) == 1) output += c;
    ASSERT_GE(count_of(output, needle), count) << output;
  }
  // A simulated module plugged in as COM<com>.
  std::unique_ptr<simulator::PtyModuleServer> plug(unsigned com) {
    auto module = std::make_unique<simulator::PtyModuleServer>(bench.path() / "ports",
                                                               bench.path() / "store");
    EXPECT_TRUE(module->add(com, {}));
    module->start();
    return module;
  }
  std::string output;
};

}  // namespace

TEST_F(RunnerWatchTest, TenPlugInCyclesOnTwoModulesGiveTenRunsEachAndNothingMore) {
  write_settings(0);
  std::ofstream(bench.path() / "ZEBL.ini", std::ios::app)
      << "[ATPort_First]\r\nnumber=7\r\n[ATPort_Second]\r\nnumber=8\r\n"
      << "[Station]\r\nReArmSeconds=" << kRearmSeconds << "\r\n";
  Process run = spawn({QUILL_RUNNER, "--watch"}, bench.path(), runtime.str());
  const std::string first_waits = "Module1 COM7: Waiting for a module on COM7...";
  const std::string second_waits = "Module2 COM8: Waiting for a module on COM8...";
  int first_waited = 1, second_waited = 1;  // once at the start
  await(run.output, second_waits, second_waited);

  auto stranger = plug(9);  // no module's port
  for (int cycle = 1; cycle <= 10; ++cycle) {
    auto first = plug(7);
    auto second = plug(8);
    await(run.output, "Module1 COM7 PASS", cycle);
    await(run.output, "Module2 COM8 PASS", cycle);
    if (cycle == 1) {
      // The module restarts after its update: its port goes away and comes back at once. Its PASS
      // is cleared while it is away, and it is not started again.
      first.reset();
      await(run.output, first_waits, ++first_waited);
      first = plug(7);
      await(run.output, "Module1 COM7: Waiting: COM7 must be away for 2 s after a run (back after ",
            1);
    }
    // Pulled out; once the runner saw both go, away for longer than the re-arm time.
    first.reset();
    second.reset();
    await(run.output, first_waits, ++first_waited);
    await(run.output, second_waits, ++second_waited);
    ::usleep((kRearmSeconds * 1000 + 100) * 1000);
  }
  ::kill(run.pid, SIGINT);
  output += read_all(run.output);
  EXPECT_EQ(wait_exit(run.pid), 0) << output;

  EXPECT_EQ(count_of(output, "Module1 COM7: Prepare to download"), 10) << output;
  EXPECT_EQ(count_of(output, "must be away"), 1) << output;
  EXPECT_EQ(count_of(output, "COM9"), 0);
  std::ifstream runs(bench.path() / "runs.csv");
  std::string line;
  int records[3] = {};
  std::getline(runs, line);  // the header
  while (std::getline(runs, line)) {
    const size_t module = line.find(',', line.find(',') + 1) + 1;
    ++records[std::stoi(line.substr(module)) % 3];
  }
  EXPECT_EQ(records[1], 10);
  EXPECT_EQ(records[2], 10);
  EXPECT_EQ(records[0], 0);
}
