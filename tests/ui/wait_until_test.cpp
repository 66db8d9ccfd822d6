// The window tests' wait helper must fail a test whose condition never holds, and must handle the
// window thread's events while it waits.
#include "tests/ui/wait_until.h"

#include <gtest/gtest-spi.h>

#include <QTimer>

namespace {

using ui_testing::wait_until;
using ui_testing::wait_until_equal;

TEST(WaitUntil, FailsOnAConditionThatNeverHoldsAndHandlesEventsWhileWaiting) {
  EXPECT_NONFATAL_FAILURE(EXPECT_TRUE(wait_until([] { return false; }, 50)),
                          "still did not hold after 50 ms");
  EXPECT_NONFATAL_FAILURE(
      EXPECT_TRUE(wait_until_equal([] { return QString("START"); }, QString("PAUSE"), 30)),
      "expected \"PAUSE\", still \"START\"");

  // The condition is met by an event that only the wait itself can handle.
  bool fired = false;
  QTimer::singleShot(20, [&] { fired = true; });
  EXPECT_TRUE(wait_until([&] { return fired; }, 10000));
  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
  timer.start(1);
  EXPECT_TRUE(wait_until_equal([&] { return ticks >= 3; }, true, 10000));
}

}  // namespace
