// Times the port census over a bench of 50 pseudo-terminals linked by hand as COM1 to COM50.
// The census runs on the window thread at start-up and on every port notice, so it must stay
// far below what an operator would notice (goal: under 10 ms).
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "devices/port_census.h"
#include "devices/port_watcher.h"

namespace fs = std::filesystem;

namespace {

constexpr int kPorts = 50;
constexpr int kRounds = 200;

struct Terminal {
  int master = -1;
  int slave = -1;
};

double milliseconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

void print_figures(const char* what, std::vector<double> times) {
  std::sort(times.begin(), times.end());
  std::printf("%-34s median %.3f ms   p95 %.3f ms   max %.3f ms   (%zu rounds)\n", what,
              times[times.size() / 2], times[times.size() * 95 / 100], times.back(), times.size());
}

}  // namespace

int main() {
  std::string pattern = (fs::temp_directory_path() / "quillmark-bench-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) return 1;
  fs::path bench = pattern;
  fs::create_directory(bench / "ports");
  fs::current_path(bench);

  std::vector<Terminal> terminals;
  for (int n = 1; n <= kPorts; ++n) {
    Terminal t;
    t.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (t.master < 0 || ::grantpt(t.master) != 0 || ::unlockpt(t.master) != 0) {
      std::fprintf(stderr, "bench_census: no pseudo-terminal for COM%d\n", n);
      return 1;
    }
    const char* slave = ::ptsname(t.master);
    t.slave = ::open(slave, O_RDWR | O_NOCTTY | O_CLOEXEC);
    fs::create_symlink(slave, bench / "ports" / ("COM" + std::to_string(n)));
    terminals.push_back(t);
  }

  devices::GetDevicePorts();  // the first census also numbers the host's own serial hardware
  std::vector<double> census;
  for (int round = 0; round < kRounds; ++round) {
    auto start = std::chrono::steady_clock::now();
    devices::GetDevicePorts();
    census.push_back(milliseconds_since(start));
  }
  size_t offered = devices::AtPortCandidates.size();

  // A watcher answering a change: one link re-made, the notices read back.
  devices::PortWatcher watcher;
  std::vector<double> notice;
  for (int round = 0; round < kRounds; ++round) {
    fs::path link = bench / "ports" / "COM1";
    std::string target = fs::read_symlink(link).string();
    fs::remove(link);
    fs::create_symlink(target, link);
    auto start = std::chrono::steady_clock::now();
    watcher.take_notices();
    notice.push_back(milliseconds_since(start));
  }

  std::printf("bench_census: %d pseudo-terminals linked by hand, %zu ports offered\n", kPorts,
              offered);
  print_figures("census (GetDevicePorts)", census);
  print_figures("watcher change (take_notices)", notice);

  for (const Terminal& t : terminals) {
    ::close(t.slave);
    ::close(t.master);
  }
  fs::current_path(fs::temp_directory_path());
  fs::remove_all(bench);
  return 0;
}
