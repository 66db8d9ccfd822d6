// The line's records: how fast a backlog of 100 000 records in runs.csv reaches a PostgreSQL server
// of the benchmark's own (a Unix socket on this machine). Prints figures, asserts nothing.
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/run_figures.h"
#include "platform/random_id.h"
#include "station/line_records.h"
#include "station/run_record.h"
#include "station/runs_reader.h"
#include "tests/support/pg_server.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kRecords = 100000;

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs `argv` in `dir` and gives its exit status; its output goes to /dev/null.
int run_in(const std::string& dir, std::vector<std::string> argv, pid_t* started = nullptr) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::chdir(dir.c_str()) != 0) _exit(126);
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    _exit(127);
  }
  if (started) {
    *started = child;
    return 0;
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The worst wall/floor ratio of the modules' runs recorded in `runs` after `skip` records.
double worst_ratio(const std::string& runs, int64_t skip, int64_t size, int64_t* count) {
  double worst = 0;
  *count = 0;
  station::RunsReader reader([&](const station::RunsRecord& r) {
    if (r.number <= skip) return;
    ++*count;
    const double ms = std::atof(std::string(r.field(station::RunColumn::duration_ms)).c_str());
    worst = std::max(worst, ms / static_cast<double>(bench::floor_ms(size)));
  });
  std::string why;
  station::read_runs_file(runs, reader, &why);
  return worst;
}

// What a database that cannot take the records costs a run: six simulated modules updated by the
// runner, without a database, with one that cannot be reached and with one whose server stopped
// answering; each run's wall time over the protocol's floor.
void run_cost(testing_support::PgServer& server) {
  constexpr int64_t kSize = 102400;
  constexpr int kRounds = 2;
  testing_support::TempDir bench;
  const std::string dir = bench.str();
  std::ofstream(dir + "/update.bin", std::ios::binary) << std::string(kSize, 'Q');
  pid_t simulator = 0;
  run_in(dir, {QUILL_SIMULATOR, "--ports", dir + "/ports", "--first", "1"}, &simulator);
  for (int k = 0; k < 200 && !std::ifstream(dir + "/ports/COM6"); ++k)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  struct Case {
    const char* name;
    std::string database;
    bool paused;
  };
  const std::vector<Case> cases = {
      {"no database", "", false},
      {"database unreachable", "host=" + dir + "/nowhere dbname=line", false},
      {"database server stopped (SIGSTOP)", server.conninfo("bench"), true},
  };
  int64_t recorded = 0;
  std::printf("six modules x %lld bytes, settling 0, %d runs each:\n",
              static_cast<long long>(kSize), kRounds);
  for (const Case& c : cases) {
    std::ofstream ini(dir + "/ZEBL.ini");
    ini << "[FilePath]\nPath=" << dir << "/update.bin\nSleepTime=0\n";
    const char* ordinals[] = {"First", "Second", "Third", "Fourth", "Fifth", "Sixth"};
    for (int k = 0; k < 6; ++k) ini << "[ATPort_" << ordinals[k] << "]\nnumber=" << k + 1 << "\n";
    ini << "[Station]\nDatabase=" << c.database << "\n";
    ini.close();
    if (c.paused) server.pause();
    double worst_wall = 0;
    for (int round = 0; round < kRounds; ++round) {
      const auto start = std::chrono::steady_clock::now();
      run_in(dir, {QUILL_RUNNER});
      worst_wall = std::max(worst_wall, seconds_since(start));
    }
    if (c.paused) server.resume();
    int64_t count = 0;
    const double ratio = worst_ratio(dir + "/runs.csv", recorded, kSize, &count);
    recorded += count;
    std::printf("  %-36s worst run wall/floor %.4f (%lld runs), runner's whole wall %.2f s\n",
                c.name, ratio, static_cast<long long>(count), worst_wall);
  }
  ::kill(simulator, SIGTERM);
  ::waitpid(simulator, nullptr, 0);
}

}  // namespace

int main() {
  testing_support::PgServer server;
  if (!server.available()) {
    std::fprintf(stderr, "bench_shipper: no PostgreSQL server: %s\n", server.why().c_str());
    return 1;
  }
  server.create_database("bench");
  testing_support::TempDir bench;
  const std::string runs = (bench.path() / "runs.csv").string();
  station::set_runs_file_path(runs);

  std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  std::string text = station::run_header_line();
  for (int n = 0; n < kRecords; ++n) {
    engine::RunRecord r;
    r.run_id = platform::uuid_v4();
    r.start = r.end = t;
    r.module = n % 6 + 1;
    r.com = n % 6 + 7;
    r.port = {"/dev/ttyUSB0", "pci-0000:00:14.0-usb-0:1:1.0", "SN0001"};
    r.file = "/home/line/bench/update.bin";
    r.size = 102400;
    r.sha256 = std::string(64, 'c');
    r.result = n % 50 == 0 ? 13 : 0;
    r.cause = n % 50 == 0 ? "Byte count match failed: 102401!" : "";
    r.duration_ms = 61234;
    r.attempts = 1;
    r.identity = {"356938035643809", "EC25EFAR06A03M4G"};
    text += station::run_record_line(r);
  }
  std::string why;
  std::FILE* file = std::fopen(runs.c_str(), "wb");
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);

  station::LineRecordSettings settings;
  settings.database = server.conninfo("bench") + " passfile=" + server.password_file();
  const auto start = std::chrono::steady_clock::now();
  if (!station::start_shipping(settings, &why)) {
    std::fprintf(stderr, "bench_shipper: %s\n", why.c_str());
    return 1;
  }
  int64_t first_waiting = -1;
  for (;;) {
    const station::ShippingStatus s = station::shipping_status();
    if (first_waiting < 0 && s.waiting > 0) first_waiting = s.waiting;
    if (!s.last_failure.empty())
      std::fprintf(stderr, "bench_shipper: %s\n", s.last_failure.c_str());
    if ((s.waiting == 0 && first_waiting > 0) || seconds_since(start) > 300) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const double elapsed = seconds_since(start);
  station::stop_shipping();
  const std::string rows = server.query("bench", "SELECT count(*) FROM quillmark_runs");
  std::printf("records in runs.csv: %d (%.1f MB)\n", kRecords, text.size() / 1e6);
  std::printf("rows in quillmark_runs: %s\n", rows.substr(0, rows.find('\n')).c_str());
  std::printf("backlog shipped in %.2f s: %.0f records/s (goal >= 20000/s)\n", elapsed,
              kRecords / elapsed);
  station::set_runs_file_path({});
  run_cost(server);
  return 0;
}
