#pragma once

#include <atomic>
#include <functional>
#include <vector>

#include "tools/runner/call_queue.h"
#include "tools/runner/terminal_view.h"

namespace runner {

// --watch: keeps running and starts each of `modules` (slot indices with an AT port) when its
// port arrives, as START does, never twice for one plug-in (station::PlugInStart); prints a line
// per result. The first interrupt starts nothing more and waits for the runs under way; a second
// one stops them as PAUSE does. Gives the exit code: 0 when every run passed, 1 when one failed,
// 130 when runs were stopped. `tick` runs after each turn of the loop (redraws, resizes).
int watch_modules(const std::vector<int>& modules, TerminalView& view, CallQueue& loop,
                  std::atomic<bool>& interrupted, const std::function<void()>& tick);

}  // namespace runner
