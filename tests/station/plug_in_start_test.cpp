// Start on plug-in: which arrivals start a module, and that a module that restarts after its
// update, however slowly, is not started again.
#include "station/plug_in_start.h"

#include <gtest/gtest.h>

namespace {

using station::PlugInStart;

constexpr int64_t kSecond = 1000;
const std::string kPassedOn3 = "Waiting for another module on COM3: this one passed at 14:02";

// Module1 on COM3 and Module2 on COM4, both idle, on one time line.
struct Station {
  Station() {
    modules[0].at_port = 3;
    modules[1].at_port = 4;
    for (auto& m : modules) m.idle = true;
  }
  // The module with `serial` is plugged in as `com` `after_ms` after the last event.
  PlugInStart::Verdict plug(int32_t com, const std::string& serial, int64_t after_ms = 0) {
    modules[com == 3 ? 0 : 1].serial = serial;
    return p.on_arrival(com, serial, now += after_ms, modules);
  }
  void pull(int32_t com) {
    modules[com == 3 ? 0 : 1].serial.clear();
    p.on_removal(com, now);
  }
  // Plugs `serial` in and, when that starts its module, runs it to its result at 14:02.
  bool plug_and_run(int32_t com, const std::string& serial, bool passed = true) {
    const auto verdict = plug(com, serial);
    if (!verdict.start) return false;
    p.on_run_started(*verdict.start, com, serial);
    std::tm ended{};
    ended.tm_hour = 14;
    ended.tm_min = 2;
    return p.on_run_finished(*verdict.start, passed, ended);
  }

  PlugInStart p;
  int64_t now = 0;
  PlugInStart::Modules modules{};
};

TEST(PlugInStartTest, OnlyAnIdleModulesOwnPortStartsIt) {
  Station s;
  EXPECT_FALSE(s.plug(5, "").start);  // no module's port
  EXPECT_FALSE(s.plug(0, "").start);
  s.modules[1].idle = false;
  const auto busy = s.plug(4, "");
  EXPECT_FALSE(busy.start || busy.waiting);  // a module under way is not waiting for anything
  s.modules[1].idle = true;
  EXPECT_EQ(s.plug(4, "").start, 1);
  EXPECT_EQ(s.plug(3, "").start, 0);
  // A result without a run (a START whose trial opening failed) changes nothing.
  EXPECT_FALSE(s.p.on_run_finished(2, false, std::tm{}));
}

TEST(PlugInStartTest, TenPlugInCyclesOnTwoModulesGiveTenRunsEachAndBlinksGiveNone) {
  Station s;
  for (int cycle = 0; cycle < 10; ++cycle) {
    for (int32_t com : {3, 4}) {
      const std::string serial = "SN" + std::to_string(com * 100 + cycle);
      ASSERT_TRUE(s.plug_and_run(com, serial)) << cycle;
      // The module restarts after its update: its port blinks out for a second. No second run.
      s.pull(com);
      EXPECT_FALSE(s.plug(com, serial, kSecond).start);
      s.pull(com);  // pulled out by the operator; the next module is another one
    }
  }
}

// Restarts after an update that take 5, 30 and 90 s: with a serial number none starts the module
// again and the next module starts at once; without one the re-arm time is the limit.
TEST(PlugInStartTest, ModulesThatRestartSlowlyAfterAPassAreNotStartedAgain) {
  Station s;
  ASSERT_TRUE(s.plug_and_run(3, "SN1"));
  for (int64_t away : {5, 30, 90}) {
    s.pull(3);
    const auto verdict = s.plug(3, "SN1", away * kSecond);
    EXPECT_FALSE(verdict.start) << away;
    EXPECT_EQ(verdict.waiting, 0);
    EXPECT_EQ(verdict.why, kPassedOn3);
  }
  s.pull(3);
  EXPECT_EQ(s.plug(3, "SN2", 100).start, 0);

  ASSERT_TRUE(s.plug_and_run(4, ""));
  for (int64_t away : {5, 30}) {  // the absence counts from the last removal
    s.pull(4);
    EXPECT_EQ(s.plug(4, "", away * kSecond).why,
              "Waiting: COM4 must be away for 60 s after a run (back after " +
                  std::to_string(away) + " s)");
  }
  s.pull(4);
  EXPECT_EQ(s.plug(4, "", 90 * kSecond).start, 1);  // the documented limit
}

// What passed is kept per serial number and port; a serial number once seen on two ports at once
// follows the time rule, and so does the same module after a failed run. A run started another way
// (START) takes the port over.
TEST(PlugInStartTest, ASerialNumberBlocksOnlyItsOwnPortAndOnlyWhileItTellsModulesApart) {
  Station s;
  ASSERT_TRUE(s.plug_and_run(3, "SN1"));
  s.pull(3);
  ASSERT_TRUE(s.plug_and_run(4, "SN1"));  // moved, or another module of the same model
  s.pull(4);
  EXPECT_EQ(s.plug(3, "SN1", 120 * kSecond).why, kPassedOn3);

  ASSERT_TRUE(s.plug_and_run(4, "SN7"));
  EXPECT_TRUE(s.plug(3, "SN7").start);  // SN7 on both ports at once: shared
  s.pull(3);
  s.pull(4);
  EXPECT_FALSE(s.plug(4, "SN7", 5 * kSecond).start);
  s.pull(4);
  EXPECT_EQ(s.plug(4, "SN7", 60 * kSecond).start, 1);

  ASSERT_TRUE(s.plug_and_run(4, "SN9"));
  s.pull(4);
  EXPECT_FALSE(s.plug(4, "SN9", 90 * kSecond).start);
  s.p.on_run_started(1, 4, "SN9");  // START runs it again; pulled out, the run fails
  s.pull(4);
  EXPECT_TRUE(s.p.on_run_finished(1, false, std::tm{}));
  EXPECT_FALSE(s.plug(4, "SN9", 5 * kSecond).start);  // the time rule after a failed run
  s.pull(4);
  EXPECT_EQ(s.plug(4, "SN9", 60 * kSecond).start, 1);
}

}  // namespace
