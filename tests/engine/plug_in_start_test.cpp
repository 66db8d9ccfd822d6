// Start on plug-in: which arrivals start a module, and that a module that restarts after its
// update, however slowly, is not started again.
#include "engine/plug_in_start.h"

#include <gtest/gtest.h>

namespace {

using engine::PlugInStart;

constexpr int64_t kSecond = 1000;

// Module1 on COM3 and Module2 on COM4, both idle, on one time line.
class Station {
 public:
  Station() {
    modules[0].at_port = 3;
    modules[1].at_port = 4;
    for (auto& m : modules) m.idle = true;
  }
  // The module of port `com` with `serial` is plugged in `after_ms` after the last event.
  PlugInStart::Verdict plug(int32_t com, const std::string& serial, int64_t after_ms = 0) {
    now += after_ms;
    if (auto* m = module_on(com)) m->serial = serial;
    return p.on_arrival(com, serial, now, modules);
  }
  void pull(int32_t com, int64_t after_ms = 0) {
    now += after_ms;
    if (auto* m = module_on(com)) m->serial.clear();
    p.on_removal(com, now);
  }
  // A run of module k on its port, from its start to its result at `hh:mm`.
  void run(int k, bool passed, int hh = 14, int mm = 2) {
    const auto& m = modules[static_cast<size_t>(k)];
    p.on_run_started(k, m.at_port, m.serial);
    std::tm ended{};
    ended.tm_hour = hh;
    ended.tm_min = mm;
    EXPECT_TRUE(p.on_run_finished(k, passed, ended));
  }
  // Plugs `serial` in on `com` and runs it to its result when the arrival starts it.
  bool plug_and_run(int32_t com, const std::string& serial, bool passed = true) {
    const auto verdict = plug(com, serial);
    if (verdict.start) run(*verdict.start, passed);
    return verdict.start.has_value();
  }

  PlugInStart p;
  int64_t now = 0;
  PlugInStart::Modules modules{};

 private:
  PlugInStart::Module* module_on(int32_t com) {
    for (auto& m : modules)
      if (m.at_port == com) return &m;
    return nullptr;
  }
};

TEST(PlugInStartTest, OnlyAnIdleModulesOwnPortStartsIt) {
  Station s;
  EXPECT_FALSE(s.plug(5, "").start);  // no module's port
  EXPECT_FALSE(s.plug(0, "").start);
  s.modules[1].idle = false;
  const auto busy = s.plug(4, "");
  EXPECT_FALSE(busy.start);
  EXPECT_FALSE(busy.waiting);  // a module under way is not waiting for anything
  s.modules[1].idle = true;
  EXPECT_EQ(s.plug(4, "").start, 1);
  EXPECT_EQ(s.plug(3, "").start, 0);
  // A result without a run (a START whose trial opening failed) changes nothing.
  EXPECT_FALSE(s.p.on_run_finished(2, false, std::tm{}));
  EXPECT_FALSE(s.p.running(2));
}

TEST(PlugInStartTest, TenPlugInCyclesOnTwoModulesGiveTenRunsEachAndBlinksGiveNone) {
  Station s;
  std::array<int, 2> runs{};
  for (int cycle = 0; cycle < 10; ++cycle) {
    for (int32_t com : {3, 4}) {
      const std::string serial = "SN" + std::to_string(com) + "-" + std::to_string(cycle);
      const auto verdict = s.plug(com, serial);
      ASSERT_TRUE(verdict.start) << cycle << " " << verdict.why;
      s.run(*verdict.start, true);
      ++runs[static_cast<size_t>(*verdict.start)];
      // The module restarts after its update: its port blinks out for a second. No second run.
      s.pull(com, 10);
      EXPECT_FALSE(s.plug(com, serial, kSecond).start);
      s.pull(com, 10);  // pulled out by the operator; the next module is another one
    }
  }
  EXPECT_EQ(runs, (std::array<int, 2>{10, 10}));
}

// Three restarts after an update that take 5, 30 and 90 s: with a serial number none starts the
// module again, and the next module starts at once; without one the re-arm time is the limit.
TEST(PlugInStartTest, ModulesThatRestartSlowlyAfterAPassAreNotStartedAgain) {
  Station s;
  ASSERT_TRUE(s.plug_and_run(3, "SN1"));
  for (int64_t away : {5, 30, 90}) {
    s.pull(3);
    const auto verdict = s.plug(3, "SN1", away * kSecond);
    EXPECT_FALSE(verdict.start) << away;
    EXPECT_EQ(verdict.waiting, 0);
    EXPECT_EQ(verdict.why, "Waiting for another module on COM3: this one passed at 14:02");
  }
  s.pull(3);
  EXPECT_EQ(s.plug(3, "SN2", 100).start, 0);  // another module, back in a tenth of a second

  Station bare;  // modules without a serial number
  ASSERT_TRUE(bare.plug_and_run(4, ""));
  bare.pull(4);
  auto verdict = bare.plug(4, "", 5 * kSecond);
  EXPECT_FALSE(verdict.start);
  EXPECT_EQ(verdict.why, "Waiting: COM4 must be away for 60 s after a run (back after 5 s)");
  bare.pull(4);
  verdict = bare.plug(4, "", 30 * kSecond);  // the absence counts from the last removal
  EXPECT_EQ(verdict.why, "Waiting: COM4 must be away for 60 s after a run (back after 30 s)");
  bare.pull(4);
  EXPECT_EQ(bare.plug(4, "", 90 * kSecond).start, 1);  // the documented limit

  // A smaller re-arm time, as ZEBL.ini may set it.
  Station quick;
  quick.p.set_rearm_ms(2 * kSecond);
  ASSERT_TRUE(quick.plug_and_run(3, ""));
  quick.pull(3);
  EXPECT_EQ(quick.plug(3, "", 1999).why,
            "Waiting: COM3 must be away for 2 s after a run (back after 1 s)");
  quick.pull(3);
  EXPECT_EQ(quick.plug(3, "", 2 * kSecond).start, 0);
}

// What passed is kept per serial number and port: modules of one model that share a serial number
// never block each other, and once seen on two ports at once that serial number follows the time
// rule.
TEST(PlugInStartTest, ASerialNumberThatPassedBlocksOnlyItsOwnPortAndASharedOneFollowsTheTimeRule) {
  Station s;
  ASSERT_TRUE(s.plug_and_run(3, "SN1"));
  // The same serial number on the other port: a module of the same model, or the one that passed
  // moved by hand; it starts, and COM3 keeps its entry.
  s.pull(3);
  EXPECT_EQ(s.plug(4, "SN1", kSecond).start, 1);
  s.run(1, true);
  s.pull(4);
  EXPECT_EQ(s.plug(3, "SN1", 120 * kSecond).why,
            "Waiting for another module on COM3: this one passed at 14:02");

  // Two modules with the serial number SN7 plugged in side by side.
  Station twins;
  ASSERT_TRUE(twins.plug_and_run(3, "SN7"));
  ASSERT_TRUE(twins.plug_and_run(4, "SN7"));  // seen while COM3 shows SN7
  twins.pull(3);
  EXPECT_EQ(twins.plug(3, "SN7", 5 * kSecond).why,
            "Waiting: COM3 must be away for 60 s after a run (back after 5 s)");
  twins.pull(3);
  twins.pull(4);  // a shared serial number stays shared after the other one is gone
  EXPECT_EQ(twins.plug(3, "SN7", 60 * kSecond).start, 0);
  // A serial number that the last run did not have starts at once, shared or not.
  EXPECT_EQ(twins.plug(4, "SN8", kSecond).start, 1);
}

// After a failed run the same module follows the time rule (a module may restart after a failed
// activation too); a run started another way (START, ALL START) takes the port over: its own
// result decides what follows.
TEST(PlugInStartTest, AFailedRunFollowsTheTimeRuleAndAStartTakesThePortOver) {
  Station s;
  ASSERT_TRUE(s.plug_and_run(3, "SN1", false));
  s.pull(3);
  EXPECT_EQ(s.plug(3, "SN1", 5 * kSecond).why,
            "Waiting: COM3 must be away for 60 s after a run (back after 5 s)");
  s.pull(3);
  ASSERT_EQ(s.plug(3, "SN1", 60 * kSecond).start, 0);
  s.run(0, true, 9, 5);
  s.pull(3);
  EXPECT_EQ(s.plug(3, "SN1", 90 * kSecond).why,
            "Waiting for another module on COM3: this one passed at 09:05");

  // START on the module that passed: a run that fails (pulled out) leaves the time rule.
  s.p.on_run_started(0, 3, "SN1");
  EXPECT_TRUE(s.p.running(0));
  s.pull(3, kSecond);
  std::tm ended{};
  EXPECT_TRUE(s.p.on_run_finished(0, false, ended));
  EXPECT_FALSE(s.p.running(0));
  EXPECT_EQ(s.plug(3, "SN1", 60 * kSecond).start, 0);
  // A run that did not know its serial number leaves the time rule too, for any module.
  s.p.on_run_started(0, 3, "");
  EXPECT_TRUE(s.p.on_run_finished(0, true, ended));
  s.pull(3);
  EXPECT_FALSE(s.plug(3, "SN2", 10 * kSecond).start);
}

}  // namespace
