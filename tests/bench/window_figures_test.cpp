#include "bench/window_figures.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

using bench::Figures;

// The row whose first column begins with `what`.
bench::TableRow row(const std::vector<bench::TableRow>& rows, const std::string& what) {
  for (const bench::TableRow& r : rows)
    if (r.what.rfind(what, 0) == 0) return r;
  ADD_FAILURE() << "no row " << what;
  return {};
}

// A figure printed by one process is read back whole by the driver, among other lines.
TEST(WindowFigures, TravelBetweenProcessesAsLines) {
  testing::internal::CaptureStdout();
  bench::print_figure(bench::kNotifyMedianUs, 123.456789);
  bench::print_figure(bench::kRunWallS, 19.4021337);
  const std::string printed = testing::internal::GetCapturedStdout();

  Figures figures;
  std::istringstream lines("  module  result  stored\n" + printed);
  int others = 0;
  for (std::string line; std::getline(lines, line);)
    if (!bench::read_figure(line, &figures)) ++others;
  EXPECT_EQ(others, 1);
  EXPECT_DOUBLE_EQ(figures.at(bench::kNotifyMedianUs), 123.456789);
  EXPECT_DOUBLE_EQ(figures.at(bench::kRunWallS), 19.4021337);

  // Lines that only look like figures change nothing.
  for (const char* line : {"figure peak_mib", "figure peak_mib 12MiB", "figures peak_mib 1",
                           "the figure peak_mib 1", ""})
    EXPECT_FALSE(bench::read_figure(line, &figures)) << line;
  EXPECT_EQ(figures.count(bench::kPeakMib), 0u);
}

// Each window is held to its own goals: the same figure can pass under Wine and miss on Linux.
// Under Wine the run's CPU time is the window's process and the Wine server together; a figure that
// was not measured shows as "-" with no verdict.
TEST(WindowFigures, TheTableHoldsEachWindowToItsOwnGoals) {
  const Figures linux_window = {{bench::kFirstPaintMedianMs, 36},
                                {bench::kFirstPaintMaxMs, 47},
                                {bench::kNotifyMedianUs, 120},
                                {bench::kNotifyP99Us, 400},
                                {bench::kRunWallS, 20},
                                {bench::kRunCpuS, 0.25},
                                {bench::kPeakMib, 36.5},
                                {bench::kWorstRatio, 1.006},
                                {bench::kPassed, 6}};
  Figures wine = linux_window;
  wine[bench::kFirstPaintMedianMs] = 420;
  wine[bench::kFirstPaintMaxMs] = 650;
  wine[bench::kServerCpuS] = 0.2;  // with the process's 0.25 s: 2.25% of 20 s
  wine[bench::kPeakMib] = 38.2;    // 40.06 MB
  wine[bench::kPostMedianUs] = 41;
  wine[bench::kPostP99Us] = 95;
  wine[bench::kStillNotifyMedianUs] = 61;
  const std::vector<bench::TableRow> rows = bench::figure_rows(linux_window, wine);

  const bench::TableRow paint = row(rows, "process start to first paint");
  EXPECT_EQ(paint.linux_figure, "36 ms (47)");
  EXPECT_EQ(paint.linux_goal, "<= 250 ms  ok");
  EXPECT_EQ(paint.wine_figure, "420 ms (650)");
  EXPECT_EQ(paint.wine_goal, "<= 500 ms  ok");
  const bench::TableRow notification = row(rows, "progress notification");
  EXPECT_EQ(notification.linux_goal, "<= 100 us  MISSED");
  EXPECT_EQ(notification.wine_goal, "<= 150 us  ok");
  EXPECT_EQ(row(rows, "  p99").linux_goal, "<= 1 ms  ok");
  EXPECT_EQ(row(rows, "  a PostMessageW").wine_figure, "41 / 95 us");
  EXPECT_EQ(row(rows, "  a PostMessageW").linux_figure, "-");
  const bench::TableRow still = row(rows, "  the same with the bar unchanged");
  EXPECT_EQ(still.wine_figure, "61 us");
  EXPECT_EQ(still.wine_goal, "");
  EXPECT_EQ(still.linux_figure, "-");
  const bench::TableRow cpu = row(rows, "ALL START");
  EXPECT_EQ(cpu.linux_figure, "1.25%");
  EXPECT_EQ(cpu.linux_goal, "<= 1%  MISSED");
  EXPECT_EQ(cpu.wine_figure, "2.25% (process and server)");
  EXPECT_EQ(cpu.wine_goal, "<= 2%  MISSED");
  EXPECT_EQ(row(rows, "  the window's process").wine_figure, "1.25% (0.250 s)");
  EXPECT_EQ(row(rows, "  the Wine server").wine_figure, "1.00% (0.200 s)");
  const bench::TableRow memory = row(rows, "the same run: peak memory");
  EXPECT_EQ(memory.linux_goal, "<= 60 MB  ok");
  EXPECT_EQ(memory.wine_figure, "38.2 MiB");
  EXPECT_EQ(memory.wine_goal, "<= 40 MB  MISSED");
  const bench::TableRow ratio = row(rows, "the same run: worst");
  EXPECT_EQ(ratio.linux_figure, "1.0060, 6 of 6 passed");
  EXPECT_EQ(ratio.linux_goal, "<= 1.005  MISSED");
  EXPECT_EQ(ratio.wine_goal, "<= 1.01  ok");

  // Nothing measured under Wine: its column judges nothing, and the table still lines up.
  for (const bench::TableRow& r : bench::figure_rows(linux_window, {})) {
    EXPECT_EQ(r.wine_figure, "-") << r.what;
    EXPECT_EQ(r.wine_goal.find("ok"), std::string::npos) << r.what;
    EXPECT_EQ(r.wine_goal.find("MISSED"), std::string::npos) << r.what;
  }
  std::istringstream lines(bench::figures_table(linux_window, wine));
  std::string heading;
  std::getline(lines, heading);
  const size_t wine_column = heading.find("Windows window under Wine");
  for (std::string line; std::getline(lines, line);) {
    if (line.find("420 ms") != std::string::npos) {
      EXPECT_EQ(line.find("420 ms"), wine_column);
    }
  }
}

}  // namespace
