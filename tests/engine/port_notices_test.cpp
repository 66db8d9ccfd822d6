// What a port notice does to the modules, without a window.
#include "engine/port_notices.h"

#include <gtest/gtest.h>

#include "engine/module_slot.h"
#include "tests/support/simulated_port.h"

namespace {

using engine::slots;

TEST(PortNoticeNumbers, ArrivalsReadTheDigitsAndRemovalsTheTextAfterCom) {
  EXPECT_EQ(engine::arrival_port_number("COM7"), 7);
  EXPECT_EQ(engine::arrival_port_number("COM12"), 12);
  EXPECT_EQ(engine::arrival_port_number("LPT"), 0);
  EXPECT_EQ(engine::arrival_port_number("C1O2M3"), 123);
  EXPECT_EQ(engine::arrival_port_number("COM123456789"), 123456);  // the first 9 characters

  EXPECT_EQ(engine::removal_port_number("COM9"), 9);
  EXPECT_EQ(engine::removal_port_number("xCOM 12x"), 12);
  EXPECT_EQ(engine::removal_port_number("COM"), 0);
  EXPECT_EQ(engine::removal_port_number("LPT1"), std::nullopt);
}

class PortRemovalTest : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { reset(); }
  static void reset() {
    for (engine::ModuleSlot& slot : slots()) {
      slot.hAT.reset();
      slot.diagPort = 0;
      slot.upgraded = 0;
      slot.resultOk = 1;
      slot.busy = 0;
      slot.workerRunning = false;
    }
  }
  testing_support::SimulatedPort port_ = testing_support::make_simulated_port();
};

TEST_F(PortRemovalTest, OnlyAModuleWithoutSuccessWhoseDiagPortWentLosesItsPort) {
  engine::ModuleSlot& running = slots()[1];  // Module2, Diag port 9, inside its run
  running.diagPort = 9;
  running.hAT.reset(port_.port);
  running.busy = 1;
  running.workerRunning = true;
  slots()[3].diagPort = 9;  // Module4's last run succeeded: never touched
  slots()[3].upgraded = 1;
  slots()[3].busy = 1;
  slots()[4].busy = 1;  // Module5: idle, but still marked busy

  EXPECT_EQ(engine::on_port_removed(8), std::vector<int>{});  // the AT port of the same module
  EXPECT_TRUE(running.hAT.is_open());
  EXPECT_EQ(engine::on_port_removed(9), std::vector<int>{1});
  EXPECT_FALSE(running.hAT.is_open());
  EXPECT_EQ(running.resultOk.load(), 0);
  EXPECT_EQ(slots()[3].resultOk.load(), 1);
  // A running module stays busy (ALL START must not take it for idle); idle ones are cleared.
  EXPECT_EQ(running.busy.load(), 1);
  EXPECT_EQ(slots()[3].busy.load(), 0);
  EXPECT_EQ(slots()[4].busy.load(), 0);
}

TEST_F(PortRemovalTest, AModuleWithoutADiagPortIsNeverMatched) {
  slots()[0].hAT.reset(port_.port);
  EXPECT_EQ(engine::on_port_removed(0), std::vector<int>{});
  EXPECT_TRUE(slots()[0].hAT.is_open());
}

}  // namespace
