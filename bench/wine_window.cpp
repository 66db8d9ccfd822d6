#include "bench/wine_window.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <vector>

#include "bench/bench_folder.h"
#include "tests/ui/x_session.h"

namespace bench {

namespace {

namespace fs = std::filesystem;

constexpr int kFirstCom = 7;
constexpr const char* kMainDialogCaption = "^VX4410 Quillmark";

int64_t realtime_ns() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// CPU time (user and system) of a process of this machine so far, in seconds; nothing once it is
// gone.
std::optional<double> process_cpu_seconds(pid_t pid) {
  const std::string stat = read_text("/proc/" + std::to_string(pid) + "/stat");
  const size_t name_end = stat.rfind(')');
  if (name_end == std::string::npos) return std::nullopt;
  std::istringstream fields(stat.substr(name_end + 1));
  std::vector<std::string> f{std::istream_iterator<std::string>(fields), {}};
  if (f.size() < 13) return std::nullopt;  // f[0] is the state (field 3): utime is field 14
  const double ticks = std::stod(f[11]) + std::stod(f[12]);
  return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// The processes that Wine runs in `prefix` (their environment names it), by process id: the
// server apart, and every process of Wine's loader (the prefix's own processes among them).
struct PrefixProcesses {
  pid_t server = -1;
  std::vector<pid_t> loaded;
};

PrefixProcesses prefix_processes(const std::string& prefix) {
  PrefixProcesses found;
  const std::string wanted = "WINEPREFIX=" + prefix;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::istringstream environment(read_text(entry.path() / "environ"));
    bool in_prefix = false;
    for (std::string variable; std::getline(environment, variable, '\0');)
      in_prefix = in_prefix || variable == wanted;
    if (!in_prefix) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(name));
    const std::string program = fs::read_symlink(entry.path() / "exe", error).filename().string();
    if (program == "wineserver" || program == "wineserver64") {
      found.server = pid;
    } else if (program.rfind("wine", 0) == 0) {
      found.loaded.push_back(pid);
    }
  }
  return found;
}

// The CPU time of each of `pids` so far.
std::map<pid_t, double> cpu_of(const std::vector<pid_t>& pids) {
  std::map<pid_t, double> times;
  for (const pid_t pid : pids)
    if (const auto cpu = process_cpu_seconds(pid)) times[pid] = *cpu;
  return times;
}

// Reads a line of a Windows program, without the CR of its end.
bool read_line(int fd, std::string* line) {
  if (!x_session::read_line(fd, line)) return false;
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

// Reads lines until one begins with `prefix`; gives the number after it.
std::optional<long long> read_number_line(int fd, const std::string& prefix) {
  std::string line;
  while (read_line(fd, &line)) {
    if (line.rfind(prefix, 0) == 0) return std::atoll(line.c_str() + prefix.size());
  }
  return std::nullopt;
}

// Asks the main dialog to close, as a window manager's close box does, and waits for the program's
// end (killed when it does not end).
void close_program(pid_t pid) {
#ifdef QUILL_CLOSE_REQUEST
  std::string window;
  x_session::await([&] {
    if (x_session::ended(pid)) return true;
    std::string out;
    x_session::run({"xdotool", "search", "--onlyvisible", "--name", kMainDialogCaption}, {}, &out);
    window = out.substr(0, out.find('\n'));
    return !window.empty();
  });
  if (!window.empty()) x_session::run({QUILL_CLOSE_REQUEST, window}, {});
  if (!x_session::await([&] { return x_session::ended(pid); })) ::kill(pid, SIGKILL);
#else
  ::kill(pid, SIGTERM);
#endif
  x_session::wait_exit(pid);
}

std::string format_seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", s);
  return text;
}

void print_starts(const char* what, const std::vector<double>& ms, int starts) {
  std::printf("  %s: median %.1f ms, max %.1f ms (%zu of %d starts)\n", what, percentile(ms, 0.5),
              percentile(ms, 1.0), ms.size(), starts);
}

// quillmark.exe's starts, from the spawn of Wine's loader to the dialog's first paint; the figures
// are printed for the program as it ships.
void program_first_paints(const std::string& wine, const fs::path& program, int paints,
                          bool shipped) {
  std::vector<double> ms;
  for (int i = 0; i < paints; ++i) {
    const int64_t start = realtime_ns();
    x_session::Child window =
        x_session::spawn({wine, program.string()}, {}, {"QUILLMARK_BENCH_FIRST_PAINT=1"}, true);
    if (const auto painted = read_number_line(window.output, "first-paint "))
      ms.push_back(static_cast<double>(*painted - start) / 1e6);
    close_program(window.pid);
    ::close(window.output);
  }
  print_starts(shipped ? "process start to first paint"
                       : "the same, the program as built, with its debug information",
               ms, paints);
  if (ms.empty() || !shipped) return;
  print_figure(kFirstPaintMedianMs, percentile(ms, 0.5));
  print_figure(kFirstPaintMaxMs, percentile(ms, 1.0));
}

// The bare program's starts, and its peak working set at its first paint.
void bare_first_paints(const std::string& wine, const fs::path& program, int paints) {
  std::vector<double> ms;
  std::vector<double> peak_mib;
  for (int i = 0; i < paints; ++i) {
    const int64_t start = realtime_ns();
    x_session::Child bare = x_session::spawn({wine, program.string()}, {}, {}, true);
    if (const auto painted = read_number_line(bare.output, "first-paint "))
      ms.push_back(static_cast<double>(*painted - start) / 1e6);
    if (const auto kib = read_number_line(bare.output, "peak-kib "))
      peak_mib.push_back(static_cast<double>(*kib) / 1024.0);
    ::close(bare.output);
    x_session::wait_exit(bare.pid);
  }
  print_starts("a bare Win32 program's start to first paint", ms, paints);
  std::printf("    its peak working set then: median %.1f MiB\n", percentile(peak_mib, 0.5));
  if (ms.empty()) return;
  print_figure(kBareFirstPaintMedianMs, percentile(ms, 0.5));
  print_figure(kBareFirstPaintMaxMs, percentile(ms, 1.0));
  if (!peak_mib.empty()) print_figure(kBarePeakMib, percentile(peak_mib, 0.5));
}

// The CPU time that Wine spends beside a process during one of its phases: its server's, and its
// prefix's other processes' (the desktop, the services).
class WineCpu {
 public:
  WineCpu(std::string prefix, pid_t excluded) : prefix_(std::move(prefix)), excluded_(excluded) {}

  void begin() {
    processes_ = prefix_processes(prefix_);
    server_before_ = process_cpu_seconds(processes_.server);
    others_before_ = others();
  }
  // The server's CPU time since begin() (nothing when the server was not found), and the others'.
  std::optional<double> end(double* others_cpu) {
    const auto server_after = process_cpu_seconds(processes_.server);
    *others_cpu = 0;
    for (const auto& [pid, cpu] : others())
      if (others_before_.count(pid)) *others_cpu += cpu - others_before_[pid];
    if (!server_before_ || !server_after) return std::nullopt;
    return *server_after - *server_before_;
  }

 private:
  std::map<pid_t, double> others() const {
    std::vector<pid_t> pids;
    for (const pid_t pid : processes_.loaded)
      if (pid != excluded_) pids.push_back(pid);
    return cpu_of(pids);
  }

  const std::string prefix_;
  const pid_t excluded_;
  PrefixProcesses processes_;
  std::optional<double> server_before_;
  std::map<pid_t, double> others_before_;
};

// The main dialog in a process of its own, whose lines are passed on; the CPU time of the Wine
// server is read at the beginning and end of each of its phases.
int dialog_process(const std::string& wine, const fs::path& program, int64_t size,
                   const std::string& prefix) {
  x_session::Child dialog =
      x_session::spawn({wine, program.string(), "--size", std::to_string(size), "--first-com",
                        std::to_string(kFirstCom)},
                       {}, {}, true, true);
  WineCpu wine_cpu(prefix, dialog.pid);
  int count = 0;
  std::string line;
  while (read_line(dialog.output, &line)) {
    std::istringstream words(line);
    std::string word;
    std::string phase;
    words >> word >> phase;
    if (word == "begin") {
      words >> count;
      wine_cpu.begin();
    } else if (word == "end") {
      double others = 0;
      const std::optional<double> server = wine_cpu.end(&others);
      if (phase == "run") {
        std::printf(
            "  the Wine server's CPU time during the run: %s; the prefix's other "
            "processes': %.3f s\n",
            server ? format_seconds(*server).c_str() : "not read", others);
        if (server) print_figure(kServerCpuS, *server);
      } else if (server && count > 0) {
        std::printf("    the Wine server's CPU time: %.1f us each\n", *server / count * 1e6);
      }
    } else {
      std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
  }
  ::close(dialog.output);
  const int code = x_session::wait_exit(dialog.pid);
  if (code != 0) std::printf("  the dialog's process ended with %d\n", code);
  return code;
}

}  // namespace

Figures measure_under_wine(const std::string& self, const fs::path& windows_build, int64_t size,
                           int paints) {
  std::printf("Windows window under Wine (Xvfb), the programs of %s\n", windows_build.c_str());
  for (const char* needed :
       {"wine-x-run", "ui_win/quillmark.exe", "bench/shipped/quillmark.exe",
        "bench/shipped/bench_window_win.exe", "bench/shipped/bench_bare_window.exe"}) {
    if (!fs::exists(windows_build / needed)) {
      std::printf("  not measured: %s is missing (scripts/build-windows builds it)\n", needed);
      return {};
    }
  }
  std::fflush(stdout);
  BenchFolder b = make_wine_bench(size, kFirstCom);
  if (b.simulator < 0) {
    std::printf("  the simulator did not start\n");
    remove_bench(b);
    return {};
  }
  x_session::Child session = x_session::spawn(
      {(windows_build / "wine-x-run").string(), "--com-ports", (b.dir / "com-ports").string(),
       "--host", self, "--wine-session", "--windows-build", windows_build.string(), "--size",
       std::to_string(size), "--paints", std::to_string(paints)},
      b.dir, {}, true, true);
  Figures figures;
  std::string line;
  while (x_session::read_line(session.output, &line)) {
    if (!read_figure(line, &figures)) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
  ::close(session.output);
  const int code = x_session::wait_exit(session.pid);
  if (code != 0) std::printf("  the session under Wine ended with %d\n", code);
  remove_bench(b);
  return figures;
}

int run_wine_session(const fs::path& windows_build, int64_t size, int paints) {
  const char* wine = std::getenv("QUILL_WINE");
  const char* prefix = std::getenv("WINEPREFIX");
  if (wine == nullptr || prefix == nullptr) {
    std::printf("  --wine-session runs in wine-x-run --host only\n");
    return 2;
  }
  const fs::path shipped = windows_build / "bench/shipped";
  program_first_paints(wine, shipped / "quillmark.exe", paints, true);
  program_first_paints(wine, windows_build / "ui_win/quillmark.exe", paints, false);
  bare_first_paints(wine, shipped / "bench_bare_window.exe", paints);
  std::fflush(stdout);
  return dialog_process(wine, shipped / "bench_window_win.exe", size, prefix);
}

}  // namespace bench
