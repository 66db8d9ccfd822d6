#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/notifications.h"

namespace runner {

// The runner's window: one row per module. On a terminal the rows (progress bar, percentage,
// result, elapsed time, status line) are redrawn in place, each fitted to the terminal's width.
// Elsewhere (a pipe, a log file) each event is printed once as a time-stamped line: every status
// change, and the progress at every tenth. Without an output nothing is printed.
class TerminalView final : public engine::MainWindow {
 public:
  enum class Mode { live, lines, silent };
  using Clock = std::chrono::steady_clock;

  struct Module {
    int index = -1;
    int com = 0;
    int settle_ms = 0;  // the settling wait of the run
  };

  TerminalView(std::vector<Module> modules, std::FILE* out, Mode mode, int width = 80);

  void send_message(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;

  // The module's run begins now (its elapsed time counts from here); what a run before it showed
  // is cleared.
  void started(int index);
  // The module has no run and shows no result: its row is cleared as for a new run, and `status`
  // is its status (an event line when printing lines).
  void waiting(int index, const std::string& status);
  // The terminal is `width` columns wide now; the rows are redrawn to fit.
  void set_width(int width);
  // A line printed above the rows (on a terminal) or as an event line.
  void note(const std::string& text);
  // Redraws the rows when something changed since the last drawing, or a second has passed.
  void draw();

  bool all_finished() const;
  // Whether the module's run has sent its end.
  bool finished(int index) const { return find(index) && find(index)->finished; }
  int result_ok(int index) const { return find(index) ? find(index)->ok : -1; }
  std::chrono::system_clock::time_point start_time(int index) const;
  std::chrono::system_clock::time_point end_time(int index) const;

 private:
  struct Row {
    Module module;
    int percent = 0;
    int64_t done = 0, total = 0;
    int reported_tenth = 0;  // the last tenth printed as an event line
    std::string status;
    int ok = -1;  // -1 until the result arrives
    bool finished = false;
    bool transfer_begun = false;
    bool settling = false;
    Clock::time_point start{}, end{}, phase_start{};
    std::chrono::system_clock::time_point wall_start{}, wall_end{};
  };
  // Clears what a run showed on the row.
  void clear(Row& r);
  // The row of module `index`, or null when that module is not shown.
  Row* find(int index);
  const Row* find(int index) const;
  std::string line(const Row& r, Clock::time_point now) const;
  std::string rate_text(const Row& r, Clock::time_point now, bool with_time_left) const;
  void event(const Row& r, const std::string& text);

  std::vector<Row> rows_;
  std::FILE* out_;
  Mode mode_;
  int width_;
  bool dirty_ = true;
  bool drawn_ = false;
  bool width_changed_ = false;
  Clock::time_point last_draw_{};
};

}  // namespace runner
