// Runs K simulated modules in parallel (the simulator in its own process) with a file of S bytes
// and a settling time of 0, and prints per module the wall time from the worker's start to its end
// notification, the floor (every wait the protocol mandates, plus one 50 ms poll interval for each
// AT and each AT+CFSWFILE exchange, whose answer cannot be there at the first poll), their ratio,
// and for this process the CPU time and the peak resident memory.
//
//   bench_download [--modules K] [--size S]      (defaults: 6 modules, 102400 bytes)
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "bench/run_figures.h"
#include "engine/download_sequence.h"
#include "engine/notifications.h"
#include "engine/run_control.h"
#include "platform/debug_output.h"

namespace {

using bench::cpu_seconds;
using bench::floor_ms;
using bench::peak_rss_kib;

using Clock = std::chrono::steady_clock;

class FinishClock final : public engine::MainWindow {
 public:
  void send_message(uint32_t msg, uintptr_t, intptr_t) override {
    if (msg - engine::WM_SLOT_FINISHED < 6u) {
      std::lock_guard lock(mutex_);
      finished[msg - engine::WM_SLOT_FINISHED] = Clock::now();
    }
  }
  std::mutex mutex_;
  std::array<Clock::time_point, 6> finished{};
};

// Starts the simulator with `modules` modules in `bench`; gives its process id once it is ready.
pid_t start_simulator(const std::filesystem::path& bench, int modules) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return -1;
  pid_t child = ::fork();
  if (child == 0) {
    ::dup2(pipe_fds[1], STDOUT_FILENO);
    ::close(pipe_fds[0]);
    std::string ports = (bench / "ports").string(), count = std::to_string(modules);
    ::execl(QUILL_SIMULATOR, QUILL_SIMULATOR, "--ports", ports.c_str(), "--count", count.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipe_fds[1]);
  std::string seen;
  char buf[256];
  while (seen.find("ready\n") == std::string::npos) {
    ssize_t n = ::read(pipe_fds[0], buf, sizeof buf);
    if (n <= 0) return -1;
    seen.append(buf, static_cast<size_t>(n));
  }
  ::close(pipe_fds[0]);
  return child;
}

}  // namespace

int main(int argc, char** argv) {
  int modules = 6;
  int64_t size = 102400;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string arg = argv[i];
    if (arg == "--modules") modules = std::atoi(argv[i + 1]);
    if (arg == "--size") size = std::atoll(argv[i + 1]);
  }
  if (modules < 1 || modules > 6 || size < 1) {
    std::fprintf(stderr, "usage: bench_download [--modules 1..6] [--size BYTES]\n");
    return 2;
  }

  std::string pattern = (std::filesystem::temp_directory_path() / "quillmark-bench-XXXXXX");
  if (!::mkdtemp(pattern.data())) return 1;
  std::filesystem::path bench = pattern;
  std::filesystem::current_path(bench);
  platform::set_debug_sink([](std::string_view) {});

  std::vector<char> content(static_cast<size_t>(size));
  std::mt19937 random(42);
  for (char& c : content) c = static_cast<char>(random());
  std::ofstream(bench / "update.bin", std::ios::binary)
      .write(content.data(), static_cast<std::streamsize>(content.size()));

  pid_t simulator = start_simulator(bench, modules);
  if (simulator < 0) {
    std::fprintf(stderr, "bench_download: the simulator did not start\n");
    return 1;
  }

  FinishClock window;
  engine::set_main_window(&window);
  auto& slots = engine::slots();
  std::array<Clock::time_point, 6> started{};
  double cpu_before = cpu_seconds();
  Clock::time_point all_start = Clock::now();
  for (int k = 0; k < modules; ++k) {
    slots[k].atPort = k + 1;
    slots[k].sleepTime = 0;
    slots[k].filePath = (bench / "update.bin").string();
    started[k] = Clock::now();
    engine::start_run(slots[k]);
  }
  for (int k = 0; k < modules; ++k) engine::join_worker(slots[k]);
  double wall_all = std::chrono::duration<double>(Clock::now() - all_start).count();
  double cpu = cpu_seconds() - cpu_before;

  std::printf("%d modules x %lld bytes, settling time 0\n", modules, static_cast<long long>(size));
  std::printf("module  result  wall_ms  floor_ms  ratio\n");
  bool ok = true;
  double worst = 0;
  for (int k = 0; k < modules; ++k) {
    double wall =
        std::chrono::duration<double, std::milli>(window.finished[k] - started[k]).count();
    double ratio = wall / static_cast<double>(floor_ms(size));
    worst = std::max(worst, ratio);
    ok = ok && slots[k].exitCode == engine::DL_OK;
    std::printf("%6d  %6d  %7.0f  %8lld  %.4f\n", k + 1, slots[k].exitCode.load(), wall,
                static_cast<long long>(floor_ms(size)), ratio);
  }
  long hwm = peak_rss_kib();
  std::printf("worst ratio %.4f\n", worst);
  std::printf("cpu %.3f s over %.3f s wall = %.3f%%\n", cpu, wall_all, 100.0 * cpu / wall_all);
  std::printf("peak resident memory %.1f MiB (file images %.1f MiB)\n", hwm / 1024.0,
              static_cast<double>(modules * size) / (1024.0 * 1024.0));

  engine::set_main_window(nullptr);
  ::kill(simulator, SIGTERM);
  ::waitpid(simulator, nullptr, 0);
  std::filesystem::current_path("/");
  std::filesystem::remove_all(bench);
  return ok ? 0 : 1;
}
