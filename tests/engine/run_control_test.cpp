// START, stop requests and the owner of a program's runs, with workers on their own threads.
#include "engine/run_control.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/run_host.h"
#include "engine/run_recorder.h"
#include "engine/serial_link.h"
#include "platform/com_ports.h"
#include "platform/virtual_clock.h"
#include "tests/support/debug_capture.h"
#include "tests/support/message_recorder.h"
#include "tests/support/recording_sink.h"
#include "tests/support/settling_gate.h"
#include "tests/support/simulated_port.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::SettlingGate;

class RunControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::set_port_opener([this](unsigned, std::string* why) {
      std::lock_guard lock(mutex);
      ++openings;
      if (refuse_openings) {
        if (why) *why = "no such port";
        return std::shared_ptr<platform::SerialPort>();
      }
      sims.push_back(testing_support::make_simulated_port());
      return std::shared_ptr<platform::SerialPort>(sims.back().port);
    });
    std::ofstream(dir.path() / "run.bin", std::ios::binary) << std::string(1500, 'r');
    slot.index = 0;
    slot.atPort = 3;
    slot.sleepTime = 8000;
    slot.filePath = (dir.path() / "run.bin").string();
  }
  void TearDown() override {
    engine::request_stop(slot);
    engine::join_worker(slot);
    platform::set_port_opener({});
    engine::set_port_facts_provider({});
  }
  int opened() {
    std::lock_guard lock(mutex);
    return openings;
  }

  // The messages as short text: "S:<status>", "P:<done>/<total>", "R:<index>,<ok>", "F".
  std::vector<std::string> trace() const {
    std::vector<std::string> out;
    for (auto& m : window.messages()) {
      if (m.msg - engine::WM_SLOT_STATUS < 6u) out.push_back("S:" + m.text);
      if (m.msg - engine::WM_SLOT_PROGRESS < 6u)
        out.push_back("P:" + std::to_string(m.wParam) + "/" + std::to_string(m.lParam));
      if (m.msg == engine::WM_SLOT_RESULT)
        out.push_back("R:" + std::to_string(m.wParam) + "," + std::to_string(m.lParam));
      if (m.msg - engine::WM_SLOT_FINISHED < 6u) out.push_back("F");
    }
    return out;
  }

  platform::VirtualClock clock;
  platform::ScopedClock use_clock{clock};
  testing_support::TempDir dir;
  testing_support::DebugCapture debug;
  testing_support::MessageRecorder window;
  std::mutex mutex;
  int openings = 0;
  bool refuse_openings = false;
  std::vector<testing_support::SimulatedPort> sims;
  engine::ModuleSlot slot;
};

}  // namespace

TEST_F(RunControlTest, AStartWhileTheRunIsInProgressTouchesNothingAndAStopEndsTheSettlingWait) {
  SettlingGate gate;
  platform::ScopedClock use(gate);
  ASSERT_TRUE(engine::start_run(slot));
  gate.await_waiter();  // the worker is inside its run, in its settling wait
  const auto before = trace();

  slot.filePath = (dir.path() / "other.bin").string();
  slot.atPort = 5;
  EXPECT_FALSE(engine::start_run(slot));
  EXPECT_EQ(engine::start_module(slot), engine::StartOutcome::running);
  EXPECT_EQ(trace(), before);  // neither status nor bar touched
  EXPECT_EQ(opened(), 0);      // no trial opening
  EXPECT_EQ(slot.busy, 1);
  EXPECT_EQ(slot.run.atPort, 3);
  EXPECT_EQ(slot.run.fileName, "run.bin");

  // The stop ends the wait at once; the port is never opened.
  engine::request_stop(slot);
  engine::join_worker(slot);
  EXPECT_EQ(slot.exitCode, engine::DL_PAUSED);
  EXPECT_EQ(trace(), (std::vector<std::string>{"S:Prepare to download, please wait...",
                                               "S:Download Pause!", "S:download error!\r\n",
                                               "S:device1 errcode=15", "R:0,0", "F"}));
  EXPECT_EQ(opened(), 0);
  EXPECT_EQ(slot.busy, 0);
  EXPECT_FALSE(engine::worker_in_progress(slot));
}

TEST_F(RunControlTest, StartOpensOnTrialThenRunsTheModule) {
  slot.sleepTime = 0;
  slot.resultOk = 0;
  ASSERT_EQ(engine::start_module(slot), engine::StartOutcome::started);
  engine::join_worker(slot);
  const auto t = trace();
  ASSERT_GE(t.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(t.begin(), t.begin() + 3),
            (std::vector<std::string>{"S:", "P:0/100", "S:Prepare to download, please wait..."}));
  EXPECT_EQ(t.back(), "F");
  EXPECT_EQ(opened(), 2);  // the trial opening, then the run's own
  EXPECT_EQ(slot.exitCode, engine::DL_OK);
  EXPECT_EQ(slot.resultOk, 1);
  EXPECT_EQ(slot.upgraded, 1);
  EXPECT_EQ(sims.back().module->files().at("run.bin"), std::string(1500, 'r'));
}

TEST_F(RunControlTest, APortThatDoesNotOpenFailsTheModuleWithoutAWorkerAndIsRecordedOnItsThread) {
  testing_support::RecordingSink sink;
  std::thread::id recorded_on;
  engine::set_port_facts_provider([&recorded_on](int com) {
    recorded_on = std::this_thread::get_id();
    return engine::PortFacts{"/dev/ttyUSB" + std::to_string(com), "", ""};
  });
  refuse_openings = true;
  slot.resultOk = 1;
  slot.upgraded = 1;
  EXPECT_EQ(engine::start_module(slot), engine::StartOutcome::port_failed);
  EXPECT_EQ(slot.hAT.open_failure(), "no such port");  // for the window to show
  EXPECT_EQ(slot.busy, 0);
  engine::join_worker(slot);
  EXPECT_EQ(trace(), (std::vector<std::string>{"S:", "P:0/100", "S:OpenATPort Failed!", "R:0,0"}));
  EXPECT_EQ(debug.count("OpenATPort ERROR!"), 1);
  EXPECT_EQ(slot.resultOk, 0);
  EXPECT_EQ(slot.upgraded, 0);
  EXPECT_EQ(slot.busy, 0);
  EXPECT_FALSE(slot.hAT.is_open());
  EXPECT_FALSE(engine::worker_in_progress(slot));

  // The record: no result code, the reason the opening gave, written by the slot's own thread.
  EXPECT_NE(recorded_on, std::thread::id());
  EXPECT_NE(recorded_on, std::this_thread::get_id());
  const engine::RunOutcome outcome = slot.notes.outcome();
  EXPECT_FALSE(outcome.result.has_value());
  EXPECT_EQ(outcome.cause, "OpenATPort Failed!: no such port");
  EXPECT_TRUE(outcome.recorded);
  ASSERT_EQ(sink.records().size(), 1u);
  EXPECT_EQ(sink.thread(), recorded_on);
  const engine::RunRecord record = sink.records().front();
  EXPECT_EQ(
      std::to_string(record.module) + " " + std::to_string(record.com) + " " + record.port.device,
      "1 3 /dev/ttyUSB3");
  EXPECT_EQ(record.file, slot.filePath);
  EXPECT_FALSE(record.result.has_value());
  EXPECT_FALSE(record.size.has_value());
  EXPECT_EQ(record.cause, "OpenATPort Failed!: no such port");
}

TEST_F(RunControlTest, AnOpenPortEndsTheStartBeforeAnythingIsSent) {
  auto sim = testing_support::make_simulated_port();
  slot.hAT.reset(sim.port);
  slot.upgraded = 1;
  EXPECT_EQ(engine::start_module(slot), engine::StartOutcome::port_open);
  EXPECT_TRUE(trace().empty());
  EXPECT_EQ(slot.upgraded, 0);
  EXPECT_EQ(slot.busy, 0);
  EXPECT_TRUE(slot.hAT.is_open());
  EXPECT_FALSE(slot.hThread.joinable());
}

TEST_F(RunControlTest, AWorkerThatHasSentItsEndIsAwaitedAndTheNextRunStarts) {
  // A worker past its last notification (`busy` 0) that has not yet returned.
  slot.workerRunning = true;
  slot.busy = 0;
  slot.hThread = std::thread([this] {
    platform::RealClock().sleep_ms(20);
    slot.workerRunning = false;
  });
  slot.sleepTime = 0;
  ASSERT_EQ(engine::start_module(slot), engine::StartOutcome::started);
  engine::join_worker(slot);
  EXPECT_EQ(slot.exitCode, engine::DL_OK);
  EXPECT_EQ(opened(), 2);
}

TEST(RunRulesTest, CloseWaitsForEveryRunAndAllStartTakesIdleSlotsWithAPort) {
  auto& table = engine::slots();
  EXPECT_FALSE(engine::any_run_in_progress());
  table[3].active = 1;  // a worker in its run
  EXPECT_TRUE(engine::any_run_in_progress());
  table[3].active = 0;
  table[5].workerRunning = true;  // started, before its first step
  table[5].busy = 1;
  EXPECT_TRUE(engine::any_run_in_progress());
  table[5].busy = 0;  // has sent its end and is returning
  EXPECT_FALSE(engine::any_run_in_progress());
  table[5].workerRunning = false;

  EXPECT_TRUE(engine::all_start_takes(table[0], true));
  EXPECT_FALSE(engine::all_start_takes(table[0], false));
  table[0].busy = 1;
  EXPECT_FALSE(engine::all_start_takes(table[0], true));
  table[0].busy = 0;
}

namespace {

// A window thread whose event loop has ended: queued calls are kept and never run by it.
struct DeadEventLoop {
  void post(std::function<void()> call) {
    {
      std::lock_guard lock(mutex);
      calls.push_back(std::move(call));
    }
    posted.notify_all();
  }
  void await_posted() {
    std::unique_lock lock(mutex);
    posted.wait(lock, [this] { return !calls.empty(); });
  }
  std::mutex mutex;
  std::condition_variable posted;
  std::deque<std::function<void()>> calls;
};

}  // namespace

TEST(RunHostTest, AWorkerBlockedInASendIsReleasedStoppedAndJoinedBeforeTheTargetGoes) {
  testing_support::TempDir dir;
  std::ofstream(dir.path() / "f.bin", std::ios::binary) << std::string(100, 'f');
  testing_support::DebugCapture debug;
  int openings = 0;
  platform::set_port_opener([&](unsigned, std::string*) {
    ++openings;
    return std::shared_ptr<platform::SerialPort>(testing_support::make_simulated_port().port);
  });
  engine::ModuleSlot& slot = engine::slots()[2];
  slot.filePath = (dir.path() / "f.bin").string();
  slot.atPort = 7;
  slot.sleepTime = 8000;  // on the real clock: only the stop can end it soon

  DeadEventLoop loop;
  {
    testing_support::MessageRecorder window;
    std::vector<std::function<void()>> late;
    {
      engine::RunHost host(window, [&loop](std::function<void()> call) { loop.post(call); });
      ASSERT_TRUE(engine::start_run(slot));
      loop.await_posted();  // the worker waits in its first send
      ASSERT_TRUE(engine::worker_in_progress(slot));
    }
    // The host is gone: the worker was released, stopped and joined; the target is uninstalled.
    EXPECT_FALSE(slot.hThread.joinable());
    EXPECT_FALSE(engine::worker_in_progress(slot));
    EXPECT_EQ(slot.exitCode, engine::DL_PAUSED);
    EXPECT_EQ(openings, 0);
    EXPECT_EQ(engine::main_window(), nullptr);
    EXPECT_EQ(slot.fileData, nullptr);
    // A queued call that runs after all this touches no window.
    for (auto& call : loop.calls) call();
    EXPECT_TRUE(window.messages().empty());
  }
  platform::set_port_opener({});
  engine::reinitialise_slots();
}

TEST(RunHostTest, ShutDownEndsARunInItsTransferAndLeavesEverySlotJoined) {
  testing_support::TempDir dir;
  std::ofstream(dir.path() / "big.bin", std::ios::binary) << std::string(30000, 'b');
  testing_support::DebugCapture debug;
  platform::VirtualClock clock;
  platform::ScopedClock use(clock);
  std::mutex mutex;
  std::condition_variable transferring;
  bool in_transfer = false;
  platform::set_port_opener([&](unsigned, std::string*) {
    auto module = std::make_shared<simulator::SimulatedModule>();
    return std::shared_ptr<platform::SerialPort>(std::make_shared<testing_support::ScriptedModule>(
        [&, module](testing_support::ScriptedModule& m, std::string_view block) {
          if (block.size() == 1024) {
            {
              std::lock_guard lock(mutex);
              in_transfer = true;
            }
            transferring.notify_all();
            // The transfer is held here until the host closes the port.
            while (!m.is_closed()) std::this_thread::yield();
          }
          for (auto& r : module->receive(block)) m.reply(r.bytes, r.delay_ms);
        }));
  });
  engine::ModuleSlot& slot = engine::slots()[4];
  slot.filePath = (dir.path() / "big.bin").string();
  slot.atPort = 2;
  slot.sleepTime = 0;

  struct Queue {
    std::mutex mutex;
    std::deque<std::function<void()>> calls;
  } queue;
  testing_support::MessageRecorder window;
  {
    // The window thread keeps handling messages while the run goes on.
    engine::RunHost host(window, [&](std::function<void()> call) {
      std::lock_guard lock(queue.mutex);
      queue.calls.push_back(std::move(call));
    });
    ASSERT_TRUE(engine::start_run(slot));
    for (;;) {
      std::deque<std::function<void()>> calls;
      {
        std::lock_guard lock(queue.mutex);
        calls.swap(queue.calls);
      }
      for (auto& call : calls) call();
      std::unique_lock lock(mutex);
      if (transferring.wait_for(lock, std::chrono::milliseconds(1), [&] { return in_transfer; }))
        break;
    }
  }
  EXPECT_FALSE(engine::worker_in_progress(slot));
  EXPECT_NE(slot.exitCode, engine::DL_OK);
  for (const engine::ModuleSlot& s : engine::slots()) {
    EXPECT_FALSE(s.hThread.joinable());
    EXPECT_FALSE(s.hAT.is_open());
  }
  platform::set_port_opener({});
  engine::reinitialise_slots();
}
