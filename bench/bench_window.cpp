// The window's figures, on Qt's offscreen platform and in a real X session (a private Xvfb), each
// on a bench of six simulated modules (the simulator in its own process):
//   - time from the start of the `quillmark` process to the main dialog's first paint (the program
//     prints a monotonic stamp then when QUILLMARK_BENCH_FIRST_PAINT is set);
//   - a worker's progress notification, from its send to the send's return (through the dialog's
//     own notification target, the window thread running its event loop);
//   - a whole ALL START of 6 modules x S bytes with a settling time of 0, run by the main dialog in
//     a process of its own: that process's CPU time against the wall time, its peak resident
//     memory, and per module the wall time from the worker's start (its first status line) to its
//     end notification against the floor that bench_download uses.
// With --windows, the Windows window's figures under Wine follow (bench/wine_window.h), measured
// with the programs of a Windows build (--windows-build DIR; $QUILL_WINDOWS_BUILD or build/windows
// of the sources by default), and one table puts both windows' figures beside their goals.
//
//   bench_window [--size S] [--paints N] [--windows [--windows-build DIR]]
//                                              (defaults: 102400 bytes, 10 first paints)
#include <signal.h>
#include <sys/resource.h>
#include <time.h>

#include <QApplication>
#include <QEventLoop>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/bench_folder.h"
#include "bench/run_figures.h"
#include "bench/window_figures.h"
#include "bench/wine_window.h"
#include "engine/download_sequence.h"
#include "engine/module_slot.h"
#include "engine/notifications.h"
#include "platform/debug_output.h"
#include "tests/ui/x_session.h"
#include "ui/cor_vexdlg.h"
#include "ui/message_box.h"

namespace {

using bench::cpu_seconds;
using bench::Figures;
using bench::floor_ms;
using bench::peak_rss_kib;
using bench::percentile;
using bench::print_figure;
using bench::thread_cpu_seconds;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int64_t monotonic_ns() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// ---- the dialog's process ----------------------------------------------------------------------

// The main dialog with the moments of each module's run: its start is the worker's first status
// line (sent as soon as its thread runs), its end the end notification.
class TimedDialog final : public ui::COR_VEXDlg {
 public:
  void send_message(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
    const double cpu_before = thread_cpu_seconds();
    ui::COR_VEXDlg::send_message(msg, wParam, lParam);
    if (msg - engine::WM_SLOT_PROGRESS < kModules) {
      progress_cpu += thread_cpu_seconds() - cpu_before;
      ++progress_count;
    }
    const auto now = Clock::now();
    const uint32_t status = msg - engine::WM_SLOT_STATUS;
    if (status < kModules && wParam != 0 &&
        std::string_view(reinterpret_cast<const char*>(wParam)).starts_with("Prepare to download"))
      started[status] = now;
    const uint32_t finish = msg - engine::WM_SLOT_FINISHED;
    if (finish < kModules) {
      finished[finish] = now;
      if (++finished_count == engine::kModuleCount && on_all_finished) on_all_finished();
    }
  }
  static constexpr uint32_t kModules = engine::kModuleCount;
  std::array<Clock::time_point, 6> started{};
  std::array<Clock::time_point, 6> finished{};
  int finished_count = 0;
  double progress_cpu = 0;  // the window thread's CPU time in the progress notifications' handling
  int progress_count = 0;
  std::function<void()> on_all_finished;
};

// Sends `count` progress notifications of Module1 from a thread of its own, as a worker does, and
// gives the time of each from the send to its return, in microseconds.
std::vector<double> notification_times(int count) {
  std::vector<double> times;
  times.reserve(static_cast<size_t>(count));
  QEventLoop loop;
  std::thread sender([&] {
    for (int i = 0; i < count; ++i) {
      const auto start = Clock::now();
      engine::send_to_main_window(engine::WM_SLOT_PROGRESS + 0, static_cast<uintptr_t>(i % 101),
                                  100);
      times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  sender.join();
  return times;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs in the bench folder, on the platform the environment names.
int run_dialog(int argc, char** argv, int64_t size) {
  QApplication application(argc, argv);
  platform::set_debug_sink([](std::string_view) {});
  int boxes = 0;
  ui::set_message_box_handler([&](QWidget*, const QString&, const QString&) { ++boxes; });

  TimedDialog dialog;
  dialog.show();
  QCoreApplication::processEvents();

  const std::vector<double> times = notification_times(20000);
  std::printf(
      "  progress notification, send to return: median %.1f us, p99 %.1f us, max %.1f us "
      "(%zu sends)\n",
      percentile(times, 0.5), percentile(times, 0.99), percentile(times, 1.0), times.size());
  print_figure(bench::kNotifyMedianUs, percentile(times, 0.5));
  print_figure(bench::kNotifyP99Us, percentile(times, 0.99));

  const double cpu_before = cpu_seconds();
  const double window_cpu_before = thread_cpu_seconds();
  dialog.progress_cpu = 0;
  dialog.progress_count = 0;
  const auto wall_start = Clock::now();
  QEventLoop loop;
  dialog.on_all_finished = [&] { loop.quit(); };
  dialog.all_start();
  loop.exec();
  const double wall = std::chrono::duration<double>(Clock::now() - wall_start).count();
  const double cpu = cpu_seconds() - cpu_before;
  const double window_cpu = thread_cpu_seconds() - window_cpu_before;

  const std::string content = read_file("update.bin");
  double worst = 0;
  int passed = 0;
  std::printf("  module  result  stored  wall_ms  floor_ms  ratio\n");
  for (int k = 0; k < engine::kModuleCount; ++k) {
    const auto i = static_cast<size_t>(k);
    const double ms =
        std::chrono::duration<double, std::milli>(dialog.finished[i] - dialog.started[i]).count();
    const double ratio = ms / static_cast<double>(floor_ms(size));
    worst = std::max(worst, ratio);
    const int code = engine::slots()[i].exitCode.load();
    const bool stored =
        read_file(fs::path("store") / ("COM" + std::to_string(k + 1)) / "update.bin") == content;
    passed += code == engine::DL_OK && stored ? 1 : 0;
    std::printf("  %6d  %6d  %6s  %7.0f  %8lld  %.4f\n", k + 1, code, stored ? "same" : "DIFF", ms,
                static_cast<long long>(floor_ms(size)), ratio);
  }
  std::printf("  worst ratio %.4f, %d of 6 passed\n", worst, passed);
  std::printf("  cpu %.3f s over %.3f s wall = %.3f%%\n", cpu, wall, 100.0 * cpu / wall);
  std::printf(
      "    of which the window thread %.3f s, in %d progress notifications %.3f s (%.0f us each)\n",
      window_cpu, dialog.progress_count, dialog.progress_cpu,
      dialog.progress_count ? 1e6 * dialog.progress_cpu / dialog.progress_count : 0.0);
  std::printf("  peak resident memory (VmHWM) %.1f MiB, file images %.1f MiB\n",
              static_cast<double>(peak_rss_kib()) / 1024.0,
              static_cast<double>(6 * size) / (1024.0 * 1024.0));
  if (boxes != 0) std::printf("  %d message boxes were shown\n", boxes);
  print_figure(bench::kRunWallS, wall);
  print_figure(bench::kRunCpuS, cpu);
  print_figure(bench::kPeakMib, static_cast<double>(peak_rss_kib()) / 1024.0);
  print_figure(bench::kWorstRatio, worst);
  print_figure(bench::kPassed, passed);
  std::fflush(stdout);
  dialog.close();
  return passed == engine::kModuleCount ? 0 : 1;
}

// ---- the driver
// ----------------------------------------------------------------------------------

// Starts the program `paints` times and reads its first-paint stamp each time.
void first_paints(const bench::BenchFolder& b, const std::vector<std::string>& env, int paints,
                  Figures* figures) {
  std::vector<double> ms;
  for (int i = 0; i < paints; ++i) {
    std::vector<std::string> e = env;
    e.push_back("QUILLMARK_BENCH_FIRST_PAINT=1");
    e.push_back("XDG_RUNTIME_DIR=" + b.runtime.string());
    const int64_t start = monotonic_ns();
    x_session::Child window = x_session::spawn({QUILL_WINDOW}, b.dir, e, true);
    std::string line;
    while (x_session::read_line(window.output, &line) && line.rfind("first-paint ", 0) != 0) {
    }
    if (line.rfind("first-paint ", 0) == 0)
      ms.push_back(static_cast<double>(std::stoll(line.substr(12)) - start) / 1e6);
    ::kill(window.pid, SIGTERM);
    ::close(window.output);
    x_session::wait_exit(window.pid);
  }
  std::printf("  process start to first paint: median %.1f ms, max %.1f ms (%zu of %d starts)\n",
              percentile(ms, 0.5), percentile(ms, 1.0), ms.size(), paints);
  if (ms.empty()) return;
  (*figures)[bench::kFirstPaintMedianMs] = percentile(ms, 0.5);
  (*figures)[bench::kFirstPaintMaxMs] = percentile(ms, 1.0);
}

// Measures the window on one platform; prints what it finds and adds its figures.
int measure(const char* self, const std::string& title, const std::vector<std::string>& env,
            int64_t size, int paints, Figures* figures) {
  std::printf("%s\n", title.c_str());
  std::fflush(stdout);
  bench::BenchFolder b = bench::make_bench(size);
  if (b.simulator < 0) {
    std::printf("  the simulator did not start\n");
    bench::remove_bench(b);
    return 1;
  }
  first_paints(b, env, paints, figures);
  std::fflush(stdout);
  std::vector<std::string> e = env;
  e.push_back("XDG_RUNTIME_DIR=" + b.runtime.string());
  x_session::Child child =
      x_session::spawn({self, "--dialog", "--size", std::to_string(size)}, b.dir, e, true, true);
  std::string line;
  while (x_session::read_line(child.output, &line)) {
    if (!bench::read_figure(line, figures)) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
  ::close(child.output);
  const int code = x_session::wait_exit(child.pid);
  if (code != 0) std::printf("  the dialog's process ended with %d\n", code);
  bench::remove_bench(b);
  return code;
}

// The machine's load average over 1, 5 and 15 minutes: the figures hold for an idle machine.
std::string load_average() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

// The Windows build whose programs run under Wine: --windows-build, else $QUILL_WINDOWS_BUILD (a
// relative one from the sources, as the scripts take it), else build/windows of the sources.
fs::path windows_build(const std::string& chosen) {
  const char* from_environment = std::getenv("QUILL_WINDOWS_BUILD");
  fs::path build = !chosen.empty()               ? fs::path(chosen)
                   : from_environment != nullptr ? fs::path(from_environment)
                                                 : fs::path("build/windows");
  if (chosen.empty() && build.is_relative()) build = fs::path(QUILL_SOURCE_DIR) / build;
  return fs::absolute(build).lexically_normal();
}

}  // namespace

int main(int argc, char** argv) {
  int64_t size = 102400;
  int paints = 10;
  bool dialog = false;
  bool windows = false;
  bool wine_session = false;
  std::string build;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--dialog") dialog = true;
    if (arg == "--windows") windows = true;
    if (arg == "--wine-session") wine_session = true;
    if (arg == "--windows-build" && i + 1 < argc) build = argv[++i];
    if (arg == "--size" && i + 1 < argc) size = std::atoll(argv[++i]);
    if (arg == "--paints" && i + 1 < argc) paints = std::atoi(argv[++i]);
  }
  if (size < 1 || paints < 1) {
    std::fprintf(stderr,
                 "usage: bench_window [--size BYTES] [--paints N] [--windows [--windows-build "
                 "DIR]]\n");
    return 2;
  }
  if (dialog) return run_dialog(argc, argv, size);
  if (wine_session) return bench::run_wine_session(windows_build(build), size, paints);

  std::printf("6 modules x %lld bytes, settling time 0; load average %s\n",
              static_cast<long long>(size), load_average().c_str());
  // The dialog's process is this program again, started in the bench folder.
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  Figures offscreen;
  int failed = measure(self.c_str(), "offscreen platform", {"QT_QPA_PLATFORM=offscreen"}, size,
                       paints, &offscreen);
  if (!x_session::on_path("Xvfb")) {
    std::printf("Xvfb: not installed, skipped\n");
    return failed;
  }
  Figures xvfb;
  {
    x_session::Xvfb x;
    if (x.display().empty()) {
      std::printf("Xvfb: did not start\n");
      return 1;
    }
    failed += measure(self.c_str(), "Xvfb " + x.display() + " (xcb platform)",
                      {"QT_QPA_PLATFORM=xcb", x.env()}, size, paints, &xvfb);
  }
  if (windows) {
    const Figures wine = bench::measure_under_wine(self, windows_build(build), size, paints);
    if (wine.count(bench::kPassed) == 0 || wine.at(bench::kPassed) != engine::kModuleCount)
      ++failed;
    std::printf("\n%s", bench::figures_table(xvfb, wine).c_str());
  }
  std::printf("load average at the end %s\n", load_average().c_str());
  return failed == 0 ? 0 : 1;
}
