// The Windows window's figures, in a process of the window's own: quillmark.exe's main dialog, run
// by bench_window --windows under Wine on a display (wine-x-run), in a bench folder whose ZEBL.ini
// names six modules simulated on COM ports and a settling time of 0:
//   - a worker's progress notification, from its send to its return, through the dialog's
//     notification target, the window thread running the dialog's message loop;
//   - the same with the bar left where it is (nothing painted), and the floor of a notification: a
//     message posted to a window of another thread and the sender woken once it was handled,
//     without the dialog;
//   - a whole ALL START of the six modules: the process's CPU time against the wall time, its peak
//     memory, and per module the wall time from its worker's start (its first status line) to its
//     end notification against the protocol's floor.
// Each of the three is a phase between the lines "begin <phase> <count>" and "end <phase>", at
// which the driver reads the Wine server's CPU time; its figures are "figure" lines among its own.
//
//   bench_window_win --size S --first-com N      (the update file's size, Module1's COM number)
#include <windows.h>
// windows.h first: commctrl.h needs its types.
#include <commctrl.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/run_figures.h"
#include "bench/window_figures.h"
#include "engine/module_slot.h"
#include "engine/notifications.h"
#include "platform/debug_output.h"
#include "ui_win/cor_vexdlg.h"
#include "ui_win/message_box.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using bench::print_figure;

constexpr int kSends = 20000;

double micros(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

// The driver reads the Wine server's CPU time at each of these lines: `count` things happen between
// them.
void begin_phase(const char* phase, int count) {
  std::printf("begin %s %d\n", phase, count);
  std::fflush(stdout);
}

void end_phase(const char* phase) {
  std::printf("end %s\n", phase);
  std::fflush(stdout);
}

void print_times(const char* what, const std::vector<double>& times) {
  std::printf("  %s: median %.1f us, p99 %.1f us, max %.1f us (%zu sends)\n", what,
              bench::percentile(times, 0.5), bench::percentile(times, 0.99),
              bench::percentile(times, 1.0), times.size());
}

// Handles the thread's messages through the dialog's loop until `done()` holds after one of them.
template <typename Done>
void pump_until(ui_win::COR_VEXDlg& face, Done&& done) {
  MSG message;
  while (!done() && ::GetMessageW(&message, nullptr, 0, 0) > 0) face.pump(message);
}

// Sends `count` progress notifications of Module1 from a thread of its own, as a worker does, and
// gives the time of each from the send to its return, in microseconds. Each moves the bar, which is
// then repainted, unless `still`: then each repeats the same position and nothing is painted.
std::vector<double> notification_times(ui_win::COR_VEXDlg& face, int count, bool still) {
  std::vector<double> times;
  times.reserve(static_cast<size_t>(count));
  std::atomic<bool> done{false};
  std::thread sender([&] {
    for (int i = 0; i < count; ++i) {
      const auto start = Clock::now();
      const auto done = static_cast<uintptr_t>(still ? 50 : i % 101);
      engine::send_to_main_window(engine::WM_SLOT_PROGRESS + 0, done, 100);
      times.push_back(micros(Clock::now() - start));
    }
    done = true;
    ::PostMessageW(face.hwnd(), WM_NULL, 0, 0);  // wakes the loop to see it
  });
  pump_until(face, [&] { return done.load(); });
  sender.join();
  return times;
}

// What a notification cannot do with less: a message posted to a window of another thread, and the
// sender woken by a condition variable once the window's procedure ran, as the notification bridge
// wakes a worker. No mailbox, no dialog.
struct Echo {
  static constexpr UINT kMessage = WM_APP + 1;
  std::mutex mutex;
  std::condition_variable handled;
  bool done = false;

  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != kMessage) return ::DefWindowProcW(window, message, wparam, lparam);
    auto* echo = reinterpret_cast<Echo*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    {
      std::lock_guard lock(echo->mutex);
      echo->done = true;
    }
    echo->handled.notify_one();
    return 0;
  }
};

std::vector<double> post_round_trips(int count) {
  WNDCLASSW type{};
  type.lpfnWndProc = Echo::procedure;
  type.hInstance = ::GetModuleHandleW(nullptr);
  type.lpszClassName = L"quillmark-bench-echo";
  ::RegisterClassW(&type);
  HWND window = ::CreateWindowExW(0, type.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  type.hInstance, nullptr);
  Echo echo;
  ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&echo));

  std::vector<double> times;
  times.reserve(static_cast<size_t>(count));
  std::atomic<bool> finished{false};
  std::thread sender([&] {
    for (int i = 0; i < count; ++i) {
      const auto start = Clock::now();
      std::unique_lock lock(echo.mutex);
      echo.done = false;
      ::PostMessageW(window, Echo::kMessage, 0, 0);
      echo.handled.wait(lock, [&] { return echo.done; });
      times.push_back(micros(Clock::now() - start));
    }
    finished = true;
    ::PostMessageW(window, WM_NULL, 0, 0);
  });
  MSG message;
  while (!finished && ::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
  sender.join();
  ::DestroyWindow(window);
  return times;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The moments of each module's run, from the dialog's notifications.
struct RunClock {
  std::array<Clock::time_point, engine::kModuleCount> started{};
  std::array<Clock::time_point, engine::kModuleCount> finished{};
  int finished_count = 0;

  void note(uint32_t msg, uintptr_t wParam) {
    const auto now = Clock::now();
    const uint32_t status = msg - engine::WM_SLOT_STATUS;
    if (status < engine::kModuleCount && wParam != 0 &&
        std::string_view(reinterpret_cast<const char*>(wParam)).starts_with("Prepare to download"))
      started[status] = now;
    const uint32_t finish = msg - engine::WM_SLOT_FINISHED;
    if (finish < engine::kModuleCount) {
      finished[finish] = now;
      ++finished_count;
    }
  }
};

int run(int64_t size, int first_com) {
  platform::set_debug_sink([](std::string_view) {});
  int boxes = 0;
  ui_win::set_message_box_handler([&](HWND, const std::wstring&, const std::wstring&, UINT) {
    ++boxes;
    return IDOK;
  });
  ui_win::COR_VEXDlg face;
  RunClock clock;
  face.set_notification_handler(
      [&](uint32_t msg, uintptr_t wParam, intptr_t) { clock.note(msg, wParam); });
  if (!face.Create()) {
    std::printf("  the main dialog cannot be made\n");
    return 1;
  }

  std::vector<double> times;
  for (const bool still : {false, true}) {
    const char* phase = still ? "still-notifications" : "notifications";
    begin_phase(phase, kSends);
    const double cpu_before = bench::cpu_seconds();
    const double window_cpu_before = bench::thread_cpu_seconds();
    const std::vector<double> sends = notification_times(face, kSends, still);
    const double window_cpu = (bench::thread_cpu_seconds() - window_cpu_before) / kSends * 1e6;
    const double cpu = (bench::cpu_seconds() - cpu_before) / kSends * 1e6;
    print_times(still ? "the same, the bar unchanged (nothing painted)"
                      : "progress notification, send to return",
                sends);
    std::printf("    CPU time each: %.1f us in the process, %.1f us of it the window thread\n", cpu,
                window_cpu);
    end_phase(phase);
    if (still) {
      print_figure(bench::kStillNotifyMedianUs, bench::percentile(sends, 0.5));
    } else {
      times = sends;
    }
  }
  begin_phase("round-trips", kSends);
  const double cpu_before_posts = bench::cpu_seconds();
  const std::vector<double> posts = post_round_trips(kSends);
  const double cpu_per_post = (bench::cpu_seconds() - cpu_before_posts) / kSends * 1e6;
  print_times("a PostMessageW round trip between two threads, without the dialog", posts);
  std::printf("    CPU time each: %.1f us in the process\n", cpu_per_post);
  end_phase("round-trips");
  print_figure(bench::kNotifyMedianUs, bench::percentile(times, 0.5));
  print_figure(bench::kNotifyP99Us, bench::percentile(times, 0.99));
  print_figure(bench::kPostMedianUs, bench::percentile(posts, 0.5));
  print_figure(bench::kPostP99Us, bench::percentile(posts, 0.99));

  begin_phase("run", engine::kModuleCount);
  const double cpu_before = bench::cpu_seconds();
  const double window_cpu_before = bench::thread_cpu_seconds();
  const auto wall_start = Clock::now();
  face.behaviour().all_start();
  pump_until(face, [&] { return clock.finished_count == engine::kModuleCount; });
  const double wall = std::chrono::duration<double>(Clock::now() - wall_start).count();
  const double cpu = bench::cpu_seconds() - cpu_before;
  const double window_cpu = bench::thread_cpu_seconds() - window_cpu_before;
  end_phase("run");

  const std::string content = read_file("update.bin");
  // "\\?\" keeps a folder named COM1 to COM9 from being taken for that device.
  const std::string store = "\\\\?\\" + fs::absolute("store").string();
  double worst = 0;
  int passed = 0;
  std::printf("  module  result  stored  wall_ms  floor_ms  ratio\n");
  for (int k = 0; k < engine::kModuleCount; ++k) {
    const auto i = static_cast<size_t>(k);
    const double ms =
        std::chrono::duration<double, std::milli>(clock.finished[i] - clock.started[i]).count();
    const double ratio = ms / static_cast<double>(bench::floor_ms(size));
    worst = std::max(worst, ratio);
    const int code = engine::slots()[i].exitCode.load();
    const fs::path stored =
        fs::path(store) / ("COM" + std::to_string(first_com + k)) / "update.bin";
    const bool same = read_file(stored) == content;
    passed += code == engine::DL_OK && same ? 1 : 0;
    std::printf("  %6d  %6d  %6s  %7.0f  %8lld  %.4f\n", k + 1, code, same ? "same" : "DIFF", ms,
                static_cast<long long>(bench::floor_ms(size)), ratio);
  }
  const double peak_mib = static_cast<double>(bench::peak_rss_kib()) / 1024.0;
  std::printf("  worst ratio %.4f, %d of 6 passed\n", worst, passed);
  std::printf(
      "  cpu of the process %.3f s over %.3f s wall = %.3f%%, of which the window thread %.3f s\n",
      cpu, wall, 100.0 * cpu / wall, window_cpu);
  std::printf("  peak memory (peak working set) %.1f MiB, file images %.1f MiB\n", peak_mib,
              static_cast<double>(6 * size) / (1024.0 * 1024.0));
  if (boxes != 0) std::printf("  %d message boxes were shown\n", boxes);
  print_figure(bench::kRunWallS, wall);
  print_figure(bench::kRunCpuS, cpu);
  print_figure(bench::kPeakMib, peak_mib);
  print_figure(bench::kWorstRatio, worst);
  print_figure(bench::kPassed, passed);
  std::fflush(stdout);
  face.behaviour().OnClose();
  return passed == engine::kModuleCount ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  int64_t size = 0;
  int first_com = 0;
  for (int i = 1; i + 1 < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--size") size = std::atoll(argv[++i]);
    if (arg == "--first-com") first_com = std::atoi(argv[++i]);
  }
  if (size < 1 || first_com < 1) {
    std::fprintf(stderr, "usage: bench_window_win --size BYTES --first-com N\n");
    return 2;
  }
  // The system's control classes, as quillmark.exe registers them.
  INITCOMMONCONTROLSEX classes{sizeof classes, ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&classes);
  return run(size, first_com);
}
