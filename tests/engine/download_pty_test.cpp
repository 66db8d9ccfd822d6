// Whole runs in real time: workers on real pseudo-terminals against the module simulator.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "engine/notifications.h"
#include "engine/run_control.h"
#include "tests/support/message_recorder.h"
#include "tests/support/run_trace.h"
#include "tests/support/temp_dir.h"
#include "tools/simulator/pty_module_server.h"

namespace {

using testing_support::tricky_content;

class PtyRunTest : public ::testing::Test {
 protected:
  std::string write_file(const std::string& name, const std::string& content) {
    std::ofstream(bench.path() / name, std::ios::binary) << content;
    return (bench.path() / name).string();
  }
  engine::ModuleSlot& prepare_slot(int index, const std::string& path) {
    engine::ModuleSlot& slot = engine::slots()[index];
    slot.atPort = index + 1;
    slot.sleepTime = 0;
    slot.filePath = path;
    slot.busy = 0;
    return slot;
  }
  testing_support::TempDir bench;
  testing_support::ScopedWorkingDirectory cwd{bench.path()};
  testing_support::MessageRecorder window;
  simulator::PtyModuleServer server{bench.path() / "ports", bench.path() / "store"};
};

}  // namespace

TEST_F(PtyRunTest, SixModulesInParallelStoreByteIdenticalFiles) {
  const size_t sizes[] = {1, 300, 1500, 2600, 11000, 4096};
  std::vector<std::string> contents;
  for (int k = 0; k < 6; ++k) {
    ASSERT_TRUE(server.add(static_cast<unsigned>(k + 1), {}));
    contents.push_back(tricky_content(sizes[k], k));
    prepare_slot(k, write_file("file" + std::to_string(k) + ".bin", contents[k]));
  }
  server.start();
  for (int k = 0; k < 6; ++k) ASSERT_TRUE(engine::start_run(engine::slots()[k]));
  for (int k = 0; k < 6; ++k) engine::join_worker(engine::slots()[k]);

  for (int k = 0; k < 6; ++k) {
    SCOPED_TRACE(k);
    engine::ModuleSlot& slot = engine::slots()[k];
    EXPECT_EQ(slot.exitCode, engine::DL_OK);
    EXPECT_EQ(slot.upgraded, 1);
    EXPECT_EQ(slot.busy, 0);
    auto files = server.files(static_cast<unsigned>(k + 1));
    ASSERT_EQ(files.count("file" + std::to_string(k) + ".bin"), 1u);
    EXPECT_TRUE(files.at("file" + std::to_string(k) + ".bin") == contents[k]);
    EXPECT_EQ(testing_support::run_trace(window, k), testing_support::passing_trace(sizes[k]));
    // The store on disk holds the same bytes.
    std::ifstream stored(bench.path() / "store" / ("COM" + std::to_string(k + 1)) /
                             ("file" + std::to_string(k) + ".bin"),
                         std::ios::binary);
    std::string on_disk((std::istreambuf_iterator<char>(stored)), {});
    EXPECT_TRUE(on_disk == contents[k]);
  }
}

TEST_F(PtyRunTest, FaultsOnRealTerminals) {
  struct Case {
    const char* fault;
    int result;
    const char* status;  // a status line the run must have shown
  } cases[] = {
      {"error-packet=1", engine::DL_OK, "S:Download packet return Error!"},
      {"count-offset=-1", engine::DL_BYTE_COUNT_FAILED, "S:Byte count match failed: 2999!"},
      {"pull-after=1500", engine::DL_CFSINIT_FAILED, "S:Download packet write failed!"},
  };
  for (int k = 0; k < 3; ++k) {
    simulator::Faults f;
    ASSERT_TRUE(f.parse(cases[k].fault));
    ASSERT_TRUE(server.add(static_cast<unsigned>(k + 1), f));
    prepare_slot(k, write_file("f.bin", tricky_content(3000, k)));
  }
  server.start();
  for (int k = 0; k < 3; ++k) ASSERT_TRUE(engine::start_run(engine::slots()[k]));
  for (int k = 0; k < 3; ++k) engine::join_worker(engine::slots()[k]);
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(cases[k].fault);
    EXPECT_EQ(engine::slots()[k].exitCode, cases[k].result);
    auto t = testing_support::run_trace(window, k);
    EXPECT_NE(std::find(t.begin(), t.end(), cases[k].status), t.end());
    EXPECT_EQ(t.back(), "F");
    EXPECT_EQ(t[t.size() - 2], cases[k].result == engine::DL_OK ? "R:1" : "R:0");
  }
  // The pulled-out module's port is gone from the bench.
  EXPECT_TRUE(server.pulled_out(3));
  EXPECT_FALSE(std::filesystem::exists(bench.path() / "ports" / "COM3"));
}
