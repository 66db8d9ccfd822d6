#include "bench/window_figures.h"

#include <cstdlib>
#include <optional>
#include <sstream>

namespace bench {

namespace {

std::optional<double> get(const Figures& figures, const char* key) {
  const auto found = figures.find(key);
  if (found == figures.end()) return std::nullopt;
  return found->second;
}

std::string format(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

std::string format(const char* pattern, double a, double b) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, a, b);
  return text;
}

// "<= 250 ms", marked when the figure misses it; an empty goal when there is none.
std::string goal(std::optional<double> value, double limit, const std::string& text) {
  if (!value) return text;
  return text + (*value <= limit ? "  ok" : "  MISSED");
}

// The CPU time of the window's process, and of the Wine server where it was measured, over the
// run's wall time, in percent.
std::optional<double> cpu_percent(const Figures& figures, bool with_server) {
  const auto wall = get(figures, kRunWallS);
  const auto cpu = get(figures, kRunCpuS);
  const auto server = get(figures, kServerCpuS);
  if (!wall || !cpu || *wall <= 0 || (with_server && !server)) return std::nullopt;
  return 100.0 * (*cpu + (with_server ? *server : 0.0)) / *wall;
}

}  // namespace

bool read_figure(const std::string& line, Figures* figures) {
  std::istringstream in(line);
  std::string word;
  std::string key;
  std::string value;
  if (!(in >> word >> key >> value) || word != "figure") return false;
  char* end = nullptr;
  const double number = std::strtod(value.c_str(), &end);
  if (end == value.c_str() || *end != '\0') return false;
  (*figures)[key] = number;
  return true;
}

std::vector<TableRow> figure_rows(const Figures& linux_window, const Figures& wine) {
  const Figures* columns[] = {&linux_window, &wine};
  std::vector<TableRow> rows;
  // One row: its text in each column (empty where the figure is missing) and each column's goal.
  auto add = [&](std::string what, auto&& text, auto&& goals) {
    TableRow row{std::move(what), {}, {}, {}, {}};
    for (int c = 0; c < 2; ++c) {
      std::string figure = text(*columns[c]);
      std::string aim = goals(*columns[c], c == 1);
      (c == 0 ? row.linux_figure : row.wine_figure) = figure.empty() ? "-" : figure;
      (c == 0 ? row.linux_goal : row.wine_goal) = std::move(aim);
    }
    rows.push_back(std::move(row));
  };
  auto none = [](const Figures&, bool) { return std::string(); };
  auto two = [](const char* pattern, const char* a, const char* b) {
    return [=](const Figures& f) {
      const auto x = get(f, a);
      const auto y = get(f, b);
      return x && y ? format(pattern, *x, *y) : std::string();
    };
  };

  add("process start to first paint: median (max)",
      two("%.0f ms (%.0f)", kFirstPaintMedianMs, kFirstPaintMaxMs), [](const Figures& f, bool w) {
        return goal(get(f, kFirstPaintMedianMs), w ? 500 : 250, w ? "<= 500 ms" : "<= 250 ms");
      });
  add("  a bare Win32 program's, under the same Wine",
      two("%.0f ms (%.0f)", kBareFirstPaintMedianMs, kBareFirstPaintMaxMs), none);
  add(
      "progress notification, send to return: median",
      [](const Figures& f) {
        const auto v = get(f, kNotifyMedianUs);
        return v ? format("%.0f us", *v) : std::string();
      },
      [](const Figures& f, bool w) {
        return goal(get(f, kNotifyMedianUs), w ? 150 : 100, w ? "<= 150 us" : "<= 100 us");
      });
  add(
      "  p99",
      [](const Figures& f) {
        const auto v = get(f, kNotifyP99Us);
        return v ? format("%.0f us", *v) : std::string();
      },
      [](const Figures& f, bool w) {
        return w ? std::string() : goal(get(f, kNotifyP99Us), 1000, "<= 1 ms");
      });
  add(
      "  the same with the bar unchanged, nothing painted: median",
      [](const Figures& f) {
        const auto v = get(f, kStillNotifyMedianUs);
        return v ? format("%.0f us", *v) : std::string();
      },
      none);
  add("  a PostMessageW round trip between two threads: median / p99",
      two("%.0f / %.0f us", kPostMedianUs, kPostP99Us), none);
  add(
      "ALL START, 6 modules: CPU time over the wall time",
      [](const Figures& f) {
        const bool wine = f.count(kServerCpuS) != 0;
        const auto v = cpu_percent(f, wine);
        return v ? format(wine ? "%.2f%% (process and server)" : "%.2f%%", *v) : std::string();
      },
      [](const Figures& f, bool w) {
        return goal(cpu_percent(f, w), w ? 2 : 1, w ? "<= 2%" : "<= 1%");
      });
  add(
      "  the window's process",
      [](const Figures& f) {
        const auto v = cpu_percent(f, false);
        const auto cpu = get(f, kRunCpuS);
        return v && cpu ? format("%.2f%% (%.3f s)", *v, *cpu) : std::string();
      },
      none);
  add(
      "  the Wine server",
      [](const Figures& f) {
        const auto wall = get(f, kRunWallS);
        const auto server = get(f, kServerCpuS);
        return wall && server && *wall > 0
                   ? format("%.2f%% (%.3f s)", 100 * *server / *wall, *server)
                   : std::string();
      },
      none);
  add(
      "the same run: peak memory of the window's process",
      [](const Figures& f) {
        const auto v = get(f, kPeakMib);
        return v ? format("%.1f MiB", *v) : std::string();
      },
      [](const Figures& f, bool w) {
        constexpr double kMibPerMb = 1e6 / (1024.0 * 1024.0);
        return goal(get(f, kPeakMib), (w ? 40 : 60) * kMibPerMb, w ? "<= 40 MB" : "<= 60 MB");
      });
  add(
      "  a bare Win32 program's, under the same Wine",
      [](const Figures& f) {
        const auto v = get(f, kBarePeakMib);
        return v ? format("%.1f MiB", *v) : std::string();
      },
      none);
  add(
      "the same run: worst wall/floor ratio of a module",
      [](const Figures& f) {
        const auto v = get(f, kWorstRatio);
        const auto passed = get(f, kPassed);
        return v && passed ? format("%.4f, %.0f of 6 passed", *v, *passed) : std::string();
      },
      [](const Figures& f, bool w) {
        return goal(get(f, kWorstRatio), w ? 1.01 : 1.005, w ? "<= 1.01" : "<= 1.005");
      });

  return rows;
}

std::string figures_table(const Figures& linux_window, const Figures& wine) {
  std::vector<TableRow> rows = figure_rows(linux_window, wine);
  rows.insert(rows.begin(),
              {"", "Linux window (Xvfb)", "goal", "Windows window under Wine (Xvfb)", "goal"});
  size_t widths[5] = {0, 0, 0, 0, 0};
  for (const TableRow& row : rows) {
    const std::string* cells[] = {&row.what, &row.linux_figure, &row.linux_goal, &row.wine_figure,
                                  &row.wine_goal};
    for (int c = 0; c < 5; ++c) widths[c] = std::max(widths[c], cells[c]->size());
  }
  std::string table;
  for (const TableRow& row : rows) {
    const std::string* cells[] = {&row.what, &row.linux_figure, &row.linux_goal, &row.wine_figure,
                                  &row.wine_goal};
    std::string line;
    for (int c = 0; c < 5; ++c) {
      line += *cells[c] + std::string(widths[c] - cells[c]->size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    table += line + "\n";
  }
  return table;
}

}  // namespace bench
