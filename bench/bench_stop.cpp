// Times how long a stop takes to end a run that is in its 8000 ms settling wait, on the real clock:
// the time from the stop request (PAUSE, Ctrl-C, closing the window) until the worker has returned
// and is joined (goal: under 100 ms).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/module_slot.h"
#include "engine/run_control.h"
#include "platform/debug_output.h"

int main() {
  constexpr int kRounds = 50;
  const std::string file = "bench-stop.bin";
  std::ofstream(file, std::ios::binary) << "x";
  platform::set_debug_sink([](std::string_view) {});  // the runs' diagnostic lines
  engine::ModuleSlot slot;
  slot.filePath = file;
  slot.atPort = 1;
  slot.sleepTime = 8000;

  std::vector<double> times;
  for (int round = 0; round < kRounds; ++round) {
    if (!engine::start_run(slot)) return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // well inside the settling wait
    auto start = std::chrono::steady_clock::now();
    engine::request_stop(slot);
    engine::join_worker(slot);
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    if (slot.exitCode != engine::DL_PAUSED) return 1;
  }
  std::remove(file.c_str());
  std::sort(times.begin(), times.end());
  std::printf("stop during an 8000 ms settling wait: median %.3f ms   max %.3f ms   (%d rounds)\n",
              times[times.size() / 2], times.back(), kRounds);
  return 0;
}
