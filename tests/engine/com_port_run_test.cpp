// Whole runs on COM ports of Windows, in real time: the workers open \\.\COM<n>, which Wine maps
// to the pseudo-terminals of the module simulator (tests/engine/com_port_run_test.sh serves them:
// COM9 and COM10 answer as modules do, COM11 to COM17 have the faults of the cases below).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/notifications.h"
#include "engine/run_control.h"
#include "engine/serial_link.h"
#include "platform/com_ports.h"
#include "tests/support/message_recorder.h"
#include "tests/support/run_trace.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::run_trace;
using testing_support::tricky_content;

class ComPortRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* store = std::getenv("QUILL_COM_STORE");
    ASSERT_NE(store, nullptr) << "QUILL_COM_STORE names the simulator's store";
    store_ = store;
  }
  engine::ModuleSlot& prepare_slot(int index, unsigned com, const std::string& content) {
    const std::filesystem::path file = bench.path() / ("f" + std::to_string(index) + ".bin");
    std::ofstream(file, std::ios::binary) << content;
    engine::ModuleSlot& slot = engine::slots()[index];
    slot.atPort = static_cast<int>(com);
    slot.sleepTime = 0;
    slot.filePath = file.string();
    slot.busy = 0;
    return slot;
  }
  std::string stored(unsigned com, int index) const {
    return testing_support::read_file(store_ / ("COM" + std::to_string(com)) /
                                      ("f" + std::to_string(index) + ".bin"));
  }

  testing_support::TempDir bench;
  testing_support::ScopedWorkingDirectory cwd{bench.path()};
  testing_support::MessageRecorder window;
  std::filesystem::path store_;
};

TEST_F(ComPortRunTest, TwoModulesStoreByteIdenticalFiles) {
  const size_t sizes[] = {1, 11000};
  const std::string contents[] = {tricky_content(sizes[0], 0), tricky_content(sizes[1], 1)};
  for (int k = 0; k < 2; ++k) prepare_slot(k, 9 + k, contents[k]);
  for (int k = 0; k < 2; ++k) ASSERT_TRUE(engine::start_run(engine::slots()[k]));
  for (int k = 0; k < 2; ++k) engine::join_worker(engine::slots()[k]);
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(engine::slots()[k].exitCode, engine::DL_OK);
    EXPECT_EQ(run_trace(window, k), testing_support::passing_trace(sizes[k]));
    EXPECT_TRUE(stored(9 + k, k) == contents[k]);
  }
}

// Each fault ends as on Linux. A module that stops taking bytes after 1500 of them still leaves the
// packet in the line's buffers, and then never confirms it; a module that goes away fails the
// write.
TEST_F(ComPortRunTest, FaultsOnComPorts) {
  struct Case {
    unsigned com;
    int result;
    const char* status;  // a status line the run must have shown
  } cases[] = {
      {11, engine::DL_OK, "S:Download packet return Error!"},
      {12, engine::DL_BYTE_COUNT_FAILED, "S:Byte count match failed: 2999!"},
      {13, engine::DL_CFSINIT_FAILED, "S:Download packet write failed!"},
      {14, engine::DL_CFSINIT_FAILED, "S:Download packet not confirmed!"},
  };
  for (int k = 0; k < 4; ++k) prepare_slot(k, cases[k].com, tricky_content(3000, k));
  for (int k = 0; k < 4; ++k) ASSERT_TRUE(engine::start_run(engine::slots()[k]));
  for (int k = 0; k < 4; ++k) engine::join_worker(engine::slots()[k]);
  for (int k = 0; k < 4; ++k) {
    SCOPED_TRACE("COM" + std::to_string(cases[k].com));
    EXPECT_EQ(engine::slots()[k].exitCode, cases[k].result);
    auto t = run_trace(window, k);
    EXPECT_NE(std::find(t.begin(), t.end(), cases[k].status), t.end())
        << ::testing::PrintToString(t);
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t.back(), "F");
    EXPECT_EQ(t[t.size() - 2], cases[k].result == engine::DL_OK ? "R:1" : "R:0");
  }
}

// The window closes the port of a module that stopped in the middle of a packet, while its worker
// waits for it: the worker ends with a failure, and nothing of the run is left open.
TEST_F(ComPortRunTest, ClosingThePortFromAnotherThreadEndsAStuckRun) {
  engine::ModuleSlot& slot = prepare_slot(0, 15, tricky_content(30000, 5));
  ASSERT_TRUE(engine::start_run(slot));
  // The module stalls after 1500 bytes of data: once the first progress step is reported, the
  // worker writes into, or waits on, a module that takes and says nothing more.
  for (;;) {
    auto t = run_trace(window, 0);
    if (std::find(t.begin(), t.end(), "P:1024/30000") != t.end()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  engine::close_at_port(slot);
  engine::join_worker(slot);
  EXPECT_NE(slot.exitCode, engine::DL_OK);
  EXPECT_FALSE(slot.hAT.is_open());
  EXPECT_EQ(run_trace(window, 0).back(), "F");
}

// The port itself, on modules that read nothing (COM16, COM17): a megabyte fills the line up.
class ComPortTest : public ::testing::Test {
 protected:
  void open(unsigned com) {
    std::string why;
    port = platform::open_com_port(com, &why);
    ASSERT_NE(port, nullptr) << why;
    ASSERT_TRUE(port->configure());
  }
  std::shared_ptr<platform::SerialPort> port;
  const std::string block = std::string(1 << 20, 'D');
};

TEST_F(ComPortTest, AWriteIntoALineThatTakesNothingGivesUp) {
  ASSERT_NO_FATAL_FAILURE(open(16));
  EXPECT_FALSE(port->write_all(block.data(), block.size()));
  EXPECT_FALSE(port->is_closed());
  EXPECT_EQ(port->failure(), "");  // the device is still there
}

TEST_F(ComPortTest, ClosingFromAnotherThreadEndsAWriteThatCannotFinish) {
  ASSERT_NO_FATAL_FAILURE(open(17));
  std::atomic<bool> started{false};
  std::atomic<int> written{-1};
  std::thread writer([&] {
    started = true;
    written = port->write_all(block.data(), block.size()) ? 1 : 0;
  });
  while (!started) std::this_thread::yield();
  const auto start = std::chrono::steady_clock::now();
  port->close();
  writer.join();
  EXPECT_EQ(written.load(), 0);
  EXPECT_TRUE(port->is_closed());
  char byte;
  EXPECT_EQ(port->read(&byte, 1), -1);
  ::testing::Test::RecordProperty(
      "close_to_end_ms", static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - start)
                                              .count()));
}

}  // namespace
