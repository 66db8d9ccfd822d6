#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/notifications.h"

namespace runner {

// The runner's window: one progress bar and status line per module, drawn in the terminal. On a
// terminal the lines are redrawn in place; elsewhere (a pipe, a log file) each status line is
// printed once as it arrives.
class TerminalView final : public engine::MainWindow {
 public:
  TerminalView(std::vector<int> modules, std::FILE* out, bool live);

  void send_message(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;

  // Redraws the lines when something changed since the last drawing.
  void draw();
  bool all_finished() const;
  int result_ok(int index) const { return find(index) ? find(index)->ok : -1; }

 private:
  struct Row {
    int index = -1;
    int percent = 0;
    std::string status;
    int ok = -1;  // -1 until the result arrives
    bool finished = false;
  };
  // The row of module `index`, or null when that module is not shown.
  Row* find(int index);
  const Row* find(int index) const;
  std::string line(const Row& r) const;

  std::vector<Row> rows_;
  std::FILE* out_;
  bool live_;
  bool dirty_ = true;
  bool drawn_ = false;
};

}  // namespace runner
