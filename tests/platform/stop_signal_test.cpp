#include "platform/stop_signal.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/clock.h"
#include "platform/virtual_clock.h"

TEST(StopSignalTest, ARaiseEndsALongWaitAndStaysUntilCleared) {
  platform::StopSignal stop;
  bool ended_by_stop = false;
  // Ten minutes on the real clock: only the raise can end it while the test lasts.
  std::thread waiter([&] { ended_by_stop = platform::RealClock().sleep_ms_unless(600000, stop); });
  stop.raise();
  waiter.join();
  EXPECT_TRUE(ended_by_stop);
  EXPECT_TRUE(stop.wait_ms(600000));  // still raised: no wait at all
  stop.clear();
  EXPECT_FALSE(stop.raised());
  EXPECT_FALSE(stop.wait_ms(1));
}

TEST(StopSignalTest, OnTheVirtualClockARaisedStopSkipsTheSleepAndAnyOtherPassesWhole) {
  platform::VirtualClock clock;
  platform::StopSignal stop;
  EXPECT_FALSE(clock.sleep_ms_unless(8000, stop));
  EXPECT_EQ(clock.now_ms(), 8000);
  stop.raise();
  EXPECT_TRUE(clock.sleep_ms_unless(8000, stop));
  EXPECT_EQ(clock.now_ms(), 8000);
}
