// The terminal programs started in one folder and told another bench folder with --bench or -C:
// everything relative (settings, update file, ports, logs, records, the simulator's store) is the
// bench's, and the folder they were started in stays untouched.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/tools/tool_process.h"

namespace fs = std::filesystem;
using testing_support::Process;
using testing_support::read_all;
using testing_support::read_file;
using testing_support::spawn;
using testing_support::wait_exit;
using testing_support::wait_ready;

namespace {

class BenchOptionTest : public testing_support::ToolBench {
 protected:
  // What a program says and how it ends, started in the other folder.
  int run_elsewhere(const std::vector<std::string>& argv, std::string* out) {
    Process p = spawn(argv, elsewhere.path(), runtime.str(), true);
    *out = read_all(p.output);
    return wait_exit(p.pid);
  }

  testing_support::TempDir elsewhere;
};

TEST_F(BenchOptionTest, EveryTerminalProgramWorksOnTheBenchItIsToldFromAnotherFolder) {
  // The update file is named relative to the bench, as an operator writes it by hand.
  std::ofstream(bench.path() / "ZEBL.ini")
      << "[FilePath]\nPath=update.bin\nSleepTime=0\n[ATPort_First]\nnumber=1\n"
         "[ATPort_Second]\nnumber=2\n";
  const std::string content(1500, 'Q');
  std::ofstream(bench.path() / "update.bin", std::ios::binary) << content;

  Process sim = spawn({QUILL_SIMULATOR, "-C", bench.str(), "--store", "store", "--count", "2"},
                      elsewhere.path(), runtime.str());
  const std::string ready = wait_ready(sim.output);
  ASSERT_NE(ready.find("\nready\n"), std::string::npos) << ready;
  EXPECT_TRUE(fs::is_symlink(bench.path() / "ports" / "COM1"));
  EXPECT_TRUE(fs::is_symlink(bench.path() / "ports" / "COM2"));

  std::string out;
  EXPECT_EQ(run_elsewhere({QUILL_RUNNER, "--bench", bench.str()}, &out), 0) << out;
  EXPECT_NE(out.find("Module1 COM1 PASS\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Module2 COM2 PASS\n"), std::string::npos) << out;
  for (const char* com : {"COM1", "COM2"})
    EXPECT_EQ(read_file(bench.path() / "store" / com / "update.bin"), content) << com;
  for (const char* file : {"AtLog_1.ini", "AtLog_2.ini", "runs.csv"})
    EXPECT_TRUE(fs::exists(bench.path() / file)) << file;

  // The ports tool lists the bench's numbers, whichever form of the option names it.
  for (const std::vector<std::string>& line :
       {std::vector<std::string>{QUILL_PORTS, "-C", bench.str()},
        std::vector<std::string>{QUILL_PORTS, "list", "--bench=" + bench.str()}}) {
    EXPECT_EQ(run_elsewhere(line, &out), 0) << out;
    EXPECT_NE(out.find("COM1"), std::string::npos) << out;
    EXPECT_NE(out.find("COM2"), std::string::npos) << out;
  }

  // The log reader: --dir is the same as --bench; without either it looks where it is started.
  std::string by_dir, by_bench;
  EXPECT_EQ(run_elsewhere({QUILL_LOG, "--dir", bench.str(), "--module", "1"}, &by_dir), 0);
  EXPECT_EQ(run_elsewhere({QUILL_LOG, "-C" + bench.str(), "--module", "1"}, &by_bench), 0);
  EXPECT_NE(by_dir.find("sent"), std::string::npos) << by_dir;
  EXPECT_EQ(by_dir, by_bench);
  EXPECT_EQ(run_elsewhere({QUILL_LOG}, &out), 1) << out;
  EXPECT_NE(out.find("no AT traffic log"), std::string::npos) << out;

  stop(sim);
  EXPECT_FALSE(fs::exists(bench.path() / "ports" / "COM1"));
  EXPECT_TRUE(fs::is_empty(elsewhere.path()));
}

// A bench that is not there is never silently the folder the program was started in.
TEST_F(BenchOptionTest, EveryTerminalProgramRefusesABenchThatIsNotAFolder) {
  std::ofstream(elsewhere.path() / "notes.txt") << "not a bench";
  write_settings(1);
  const std::string missing = (bench.path() / "missing").string();
  for (const char* program : {QUILL_SIMULATOR, QUILL_RUNNER, QUILL_PORTS, QUILL_LOG}) {
    const std::string name = fs::path(program).filename().string();
    for (const auto& [option, told] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"-C", missing}, "bench folder " + missing + ": No such file or directory\n"},
             {{"--bench=notes.txt"}, "bench folder notes.txt: not a folder\n"},
             {{"--bench"}, "option '--bench' requires a folder\n"},
         }) {
      std::vector<std::string> line = {program};
      line.insert(line.end(), option.begin(), option.end());
      std::string out;
      EXPECT_EQ(run_elsewhere(line, &out), 2) << name << " " << option[0] << "\n" << out;
      EXPECT_EQ(out.rfind(name + ": " + told, 0), 0u) << out;
    }
  }
  EXPECT_EQ(read_file(elsewhere.path() / "notes.txt"), "not a bench");
  EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere.path()), fs::directory_iterator()), 1);
  EXPECT_FALSE(fs::exists(bench.path() / "ports"));
}

}  // namespace
