#pragma once

// Waiting in a window test: the window thread's events are handled until a condition holds or a
// limit passes, and the outcome is a GoogleTest assertion result, so that a condition that never
// holds fails the test (ASSERT_TRUE(wait_until(...)) or EXPECT_TRUE(...)).

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QString>
#include <QTest>
#include <ostream>

// GoogleTest prints a QString as its text.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace ui_testing {

// Handles the window thread's events until `condition()` holds, or fails once `limit_ms` passed.
template <typename Condition>
testing::AssertionResult wait_until(Condition&& condition, int limit_ms) {
  const QDeadlineTimer deadline(limit_ms);
  while (!condition()) {
    if (deadline.hasExpired())
      return testing::AssertionFailure()
             << "the condition still did not hold after " << limit_ms << " ms";
    QTest::qWait(5);
  }
  return testing::AssertionSuccess();
}

// Handles the window thread's events until `get()` equals `expected`, or fails once `limit_ms`
// passed, naming the value last seen.
template <typename Get, typename Value>
testing::AssertionResult wait_until_equal(Get&& get, const Value& expected, int limit_ms) {
  const QDeadlineTimer deadline(limit_ms);
  while (true) {
    const auto seen = get();
    if (seen == expected) return testing::AssertionSuccess();
    if (deadline.hasExpired())
      return testing::AssertionFailure()
             << "expected " << testing::PrintToString(expected) << ", still "
             << testing::PrintToString(seen) << " after " << limit_ms << " ms";
    QTest::qWait(5);
  }
}

}  // namespace ui_testing
