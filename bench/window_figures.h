#pragma once

// The window benchmark's figures as they travel between its processes: a process that measures
// prints each figure as a line "figure <key> <value>" among its other output, and the driver
// collects them into one table with a column for the Linux window and one for the Windows window
// under Wine, each beside its goals. Used on Linux and in the Windows programs of the benchmark.

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace bench {

using Figures = std::map<std::string, double>;

// Both windows.
inline constexpr const char* kFirstPaintMedianMs = "first_paint_median_ms";
inline constexpr const char* kFirstPaintMaxMs = "first_paint_max_ms";
inline constexpr const char* kNotifyMedianUs = "notify_median_us";
inline constexpr const char* kNotifyP99Us = "notify_p99_us";
inline constexpr const char* kRunWallS = "run_wall_s";
inline constexpr const char* kRunCpuS = "run_cpu_s";  // the window's process
inline constexpr const char* kPeakMib = "peak_mib";   // the window's process
inline constexpr const char* kWorstRatio = "worst_ratio";
inline constexpr const char* kPassed = "passed";
// What Wine takes: its server's CPU time during the run, and the floors.
inline constexpr const char* kServerCpuS = "server_cpu_s";
inline constexpr const char* kBareFirstPaintMedianMs = "bare_first_paint_median_ms";
inline constexpr const char* kBareFirstPaintMaxMs = "bare_first_paint_max_ms";
inline constexpr const char* kBarePeakMib = "bare_peak_mib";
inline constexpr const char* kStillNotifyMedianUs = "still_notify_median_us";
inline constexpr const char* kPostMedianUs = "post_median_us";
inline constexpr const char* kPostP99Us = "post_p99_us";

inline void print_figure(const char* key, double value) {
  std::printf("figure %s %.9g\n", key, value);
}

// The value at fraction `p` (0..1) of the sorted values; 0 when there are none.
inline double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto i = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(i, values.size() - 1)];
}

// Adds the figure of a line "figure <key> <value>"; false for any other line.
bool read_figure(const std::string& line, Figures* figures);

// One line of the table: what is measured, then for each window the figure ("-" when it was not
// measured) and its goal, marked "ok" or "MISSED" once there is a figure.
struct TableRow {
  std::string what;
  std::string linux_figure;
  std::string linux_goal;
  std::string wine_figure;
  std::string wine_goal;
};

// The rows of both windows' figures with their goals; `wine` may be empty (not measured).
std::vector<TableRow> figure_rows(const Figures& linux_window, const Figures& wine);
// The rows as a table in columns under a heading.
std::string figures_table(const Figures& linux_window, const Figures& wine);

}  // namespace bench
