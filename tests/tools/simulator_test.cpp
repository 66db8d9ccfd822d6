// The simulator never takes over the links of another simulator of the bench.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>

#include "tests/support/temp_dir.h"
#include "tests/tools/tool_process.h"
#include "tools/simulator/pty_module_server.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

class SimulatorTest : public ::testing::Test {
 protected:
  fs::path link(unsigned n) const { return bench.path() / "ports" / ("COM" + std::to_string(n)); }
  // Output (standard output and standard error) and exit status of a simulator that ends by itself.
  std::pair<std::string, int> run_to_end(std::vector<std::string> args) {
    args.insert(args.begin(), QUILL_SIMULATOR);
    Process p = spawn(args, bench.path(), runtime.str(), true);
    std::string out = read_all(p.output);
    return {out, wait_exit(p.pid)};
  }

  TempDir bench;
  TempDir runtime;
};

int open_descriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

}  // namespace

TEST_F(SimulatorTest, ASecondSimulatorRefusesLiveLinksAndLeavesThemIntact) {
  Process first =
      spawn({QUILL_SIMULATOR, "--first", "2", "--count", "1"}, bench.path(), runtime.str());
  std::string listed = wait_ready(first.output);
  fs::path device = fs::read_symlink(link(2));
  EXPECT_EQ(listed, "COM2 " + device.string() + "\nready\n");

  auto [out, status] = run_to_end({"--count", "3"});  // COM1 is free, COM2 is not
  EXPECT_NE(status, 0);
  EXPECT_NE(out.find("quillmark-sim: COM2: ports/COM2 is in use: it leads to " + device.string()),
            std::string::npos)
      << out;
  EXPECT_EQ(fs::read_symlink(link(2)), device);
  EXPECT_FALSE(fs::is_symlink(link(1)));  // its own link is gone with it
  EXPECT_FALSE(fs::is_symlink(link(3)));

  ::kill(first.pid, SIGTERM);
  EXPECT_EQ(wait_exit(first.pid), 0);
  ::close(first.output);
  EXPECT_FALSE(fs::is_symlink(link(2)));
}

TEST_F(SimulatorTest, ADanglingLinkIsReplacedAndAFaultForAnotherPortIsRefused) {
  fs::create_directories(link(1).parent_path());
  fs::create_symlink(bench.path() / "crashed", link(1));

  auto [out, status] = run_to_end({"--count", "1", "--fault", "COM2:silent"});
  EXPECT_EQ(status, 2);
  EXPECT_NE(out.find("COM2 is not simulated"), std::string::npos) << out;
  EXPECT_EQ(fs::read_symlink(link(1)), bench.path() / "crashed");

  Process sim = spawn({QUILL_SIMULATOR, "--count", "1"}, bench.path(), runtime.str());
  std::string listed = wait_ready(sim.output);
  EXPECT_EQ(listed, "COM1 " + fs::read_symlink(link(1)).string() + "\nready\n");
  ::kill(sim.pid, SIGTERM);
  EXPECT_EQ(wait_exit(sim.pid), 0);
  ::close(sim.output);
}

TEST_F(SimulatorTest, AModuleThatCannotBeAddedKeepsNoDescriptor) {
  simulator::PtyModuleServer first(bench.path() / "ports");
  ASSERT_TRUE(first.add(1, {}));
  std::ofstream(bench.path() / "file") << "x";
  simulator::PtyModuleServer second(bench.path() / "ports"), misplaced(bench.path() / "file");

  int before = open_descriptors();
  std::string why;
  EXPECT_FALSE(second.add(1, {}, &why));
  EXPECT_NE(why.find("is in use"), std::string::npos) << why;
  EXPECT_FALSE(misplaced.add(1, {}, &why));
  EXPECT_FALSE(first.add(1, {}, &why));
  EXPECT_EQ(why, "COM1 is simulated already");
  EXPECT_EQ(open_descriptors(), before);
  EXPECT_EQ(fs::read_symlink(link(1)), first.device(1));
}
