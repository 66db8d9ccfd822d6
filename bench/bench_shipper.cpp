// The line's records: how fast a backlog of 100 000 records in runs.csv reaches a PostgreSQL server
// of the benchmark's own (a Unix socket on this machine). Prints figures, asserts nothing.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>

#include "platform/random_id.h"
#include "station/line_records.h"
#include "station/run_record.h"
#include "tests/support/pg_server.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kRecords = 100000;

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
  return 0;
}
