// Start on plug-in: which arrivals start a module, and that a module never starts twice for one
// plug-in.
#include "engine/plug_in_start.h"

#include <gtest/gtest.h>

namespace {

using engine::PlugInStart;

constexpr std::array<int32_t, 6> kPorts{3, 4, 0, 0, 0, 0};  // Module1 COM3, Module2 COM4
constexpr std::array<bool, 6> kIdle{true, true, true, true, true, true};

TEST(PlugInStartTest, OnlyAnIdleModulesOwnPortStartsIt) {
  PlugInStart p;
  EXPECT_EQ(p.on_arrival(5, "", 0, kPorts, kIdle), std::nullopt);  // no module's port
  EXPECT_EQ(p.on_arrival(0, "", 0, kPorts, kIdle), std::nullopt);
  auto busy = kIdle;
  busy[1] = false;
  EXPECT_EQ(p.on_arrival(4, "", 0, kPorts, busy), std::nullopt);
  EXPECT_TRUE(p.armed(1));
  EXPECT_EQ(p.on_arrival(4, "", 0, kPorts, kIdle), 1);
  EXPECT_FALSE(p.armed(1));
  EXPECT_EQ(p.on_arrival(3, "", 0, kPorts, kIdle), 0);
}

TEST(PlugInStartTest, TenPlugInCyclesOnTwoModulesGiveTenRunsEachAndBlinksGiveNone) {
  PlugInStart p;
  int64_t now = 0;
  std::array<int, 2> runs{};
  for (int cycle = 0; cycle < 10; ++cycle) {
    for (int32_t com : {3, 4}) {
      const std::string serial = "SN" + std::to_string(com);
      const auto k = p.on_arrival(com, serial, now, kPorts, kIdle);
      ASSERT_TRUE(k) << cycle;
      ++runs[static_cast<size_t>(*k)];
      p.on_run_finished(*k, true, serial);
      // The module resets after its update: its port blinks out for a second. No second run.
      p.on_removal(com, now += 10);
      EXPECT_EQ(p.on_arrival(com, serial, now += 1000, kPorts, kIdle), std::nullopt);
      p.on_removal(com, now += 10);  // pulled out by the operator
    }
    now += PlugInStart::kRearmAbsenceMs;
  }
  EXPECT_EQ(runs, (std::array<int, 2>{10, 10}));
}

TEST(PlugInStartTest, ASerialNumberThatJustPassedStartsNothingElsewhereUntilItWasAway) {
  PlugInStart p;
  ASSERT_EQ(p.on_arrival(3, "SN1", 0, kPorts, kIdle), 0);
  p.on_run_finished(0, true, "SN1");
  // The passed module comes back at once in the socket of Module2's port.
  p.on_removal(3, 100);
  EXPECT_EQ(p.on_arrival(4, "SN1", 200, kPorts, kIdle), std::nullopt);
  p.on_removal(4, 300);
  EXPECT_EQ(p.on_arrival(4, "SN1", 300 + PlugInStart::kRearmAbsenceMs, kPorts, kIdle), 1);
  // A run started by START disarms its module the same way.
  p.on_run_started(0, 3);
  p.on_run_finished(0, false, "");
  EXPECT_EQ(p.on_arrival(3, "SN2", 9000, kPorts, kIdle), std::nullopt);
}

}  // namespace
