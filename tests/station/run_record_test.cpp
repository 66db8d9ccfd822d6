// The record of every run in runs.csv and the day's totals, through real worker runs against
// simulated modules on the virtual clock.
#include "station/run_record.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "engine/download_worker.h"
#include "engine/file_image.h"
#include "engine/notifications.h"
#include "engine/run_control.h"
#include "platform/com_ports.h"
#include "platform/virtual_clock.h"
#include "station/day_totals.h"
#include "tests/support/debug_capture.h"
#include "tests/support/simulated_port.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using station::RunColumn;
using Records = std::vector<std::vector<std::string>>;

namespace {

// The SHA-256 of the update file the tests write: 3000 bytes 0, 1, ... 250, 0, 1, ...
constexpr const char* kUpdateHash =
    "e8ca4bf83f56152c01649f88bd7c91b15ae8137d9a709572e04fae55894ea75e";

// The records of a text as RFC 4180 reads it: CR LF ends a record outside double quotes.
Records parse_csv(const std::string& text) {
  Records records(1);
  std::string field;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (quoted && text.compare(i, 2, "\"\"") == 0) {
      field += text[i++];
    } else if (text[i] == '"') {
      quoted = !quoted;
    } else if (!quoted && (text[i] == ',' || text.compare(i, 2, "\r\n") == 0)) {
      records.back().push_back(std::move(field));
      field.clear();
      if (text[i] == '\r') records.emplace_back(), ++i;
    } else {
      field += text[i];
    }
  }
  EXPECT_TRUE(field.empty() && records.back().empty()) << "the text ends inside a record";
  records.pop_back();
  return records;
}

const std::string& at(const std::vector<std::string>& record, RunColumn column) {
  return record.at(static_cast<size_t>(column));
}

// Central European Time (UTC+1 in December) for the scope, and its local times of December 2026.
struct CentralEuropeanTime {
  CentralEuropeanTime() {
    ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    ::tzset();
  }
  ~CentralEuropeanTime() {
    ::unsetenv("TZ");
    ::tzset();
  }
};
std::tm december(int day, int hour, int minute, int second) {
  std::tm t{second, minute, hour, day, 11, 126, 0, 0, -1, 0, nullptr};
  std::time_t when = std::mktime(&t);
  ::localtime_r(&when, &t);
  return t;
}
std::time_t december_time(int day, int hour, int minute, int second) {
  std::tm t = december(day, hour, minute, second);
  return std::mktime(&t);
}

// The window: per module its status lines and "R:<ok>" in order, and whether runs.csv held the
// module's line when its result came.
class ResultWindow final : public engine::MainWindow {
 public:
  explicit ResultWindow(fs::path runs) : runs_(std::move(runs)) { engine::set_main_window(this); }
  ~ResultWindow() override { engine::set_main_window(nullptr); }
  void send_message(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
    std::lock_guard lock(mutex_);
    if (msg - engine::WM_SLOT_STATUS < 6u)
      trace[msg - engine::WM_SLOT_STATUS].push_back(reinterpret_cast<const char*>(wParam));
    if (msg != engine::WM_SLOT_RESULT) return;
    trace[wParam].push_back("R:" + std::to_string(lParam));
    recorded_at_result[wParam] =
        std::regex_search(testing_support::read_file(runs_),
                          std::regex("\n[^,]*,[^,]*," + std::to_string(wParam + 1) + ","));
  }
  std::array<std::vector<std::string>, 6> trace;
  std::array<bool, 6> recorded_at_result{};

 private:
  std::mutex mutex_;
  fs::path runs_;
};

class RecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    station::set_runs_file_path(runs.string());
    engine::set_record_sink(station::record_run);
    platform::set_port_opener([this](unsigned n, std::string*) {
      std::lock_guard lock(opener_mutex);
      if (on_open) on_open();
      auto sim = testing_support::make_simulated_port(faults[n]);
      modules[n] = sim.module;
      return std::shared_ptr<platform::SerialPort>(sim.port);
    });
    std::string content(3000, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i % 251);
    std::ofstream(update, std::ios::binary) << content;
    for (int k = 0; k < 6; ++k) {
      slots[k].index = k;
      slots[k].atPort = k + 1;
      slots[k].sleepTime = 0;
      slots[k].filePath = update.string();
    }
  }
  void TearDown() override {
    platform::set_port_opener({});
    station::set_runs_file_path("");
    engine::set_port_facts_provider({});
    engine::set_record_sink({});
  }
  // Runs the modules side by side, each on its worker thread, to their ends.
  void run(std::vector<int> indices) {
    for (int k : indices) ASSERT_TRUE(engine::start_run(slots[k]));
    for (int k : indices) engine::join_worker(slots[k]);
  }

  CentralEuropeanTime zone;
  testing_support::TempDir dir;
  fs::path runs = dir.path() / "runs.csv";
  fs::path update = dir.path() / "update.bin";
  platform::VirtualClock clock{december_time(9, 12, 0, 0)};
  platform::ScopedClock use_clock{clock};
  ResultWindow window{runs};
  testing_support::DebugCapture debug;
  std::array<engine::ModuleSlot, 6> slots;
  std::mutex opener_mutex;
  std::map<unsigned, simulator::Faults> faults;
  std::map<unsigned, std::shared_ptr<simulator::SimulatedModule>> modules;
  std::function<void()> on_open;
};

}  // namespace

TEST_F(RecordTest, SixModulesFinishingAtOnceGiveSixWholeLinesUnderOneHeader) {
  engine::set_port_facts_provider([](int com) {
    const std::string n = std::to_string(com);
    return engine::PortFacts{"/dev/ttyUSB" + n, "pci-0000:00:14.0-usb-0:" + n, "SN," + n + "\""};
  });
  faults[6].count_offset = 1;
  const station::DayTotals::Counts before = station::day_totals().counts();
  run({0, 1, 2, 3, 4, 5});

  Records r = parse_csv(testing_support::read_file(runs));
  ASSERT_EQ(r.size(), 7u) << testing_support::read_file(runs);
  EXPECT_EQ(r[0], (std::vector<std::string>{"start", "end", "module", "com", "device", "id_path",
                                            "serial", "file", "size", "sha256", "result", "cause",
                                            "duration_ms", "version", "host", "run_id", "attempts",
                                            "imei", "revision"}));
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  std::string seen;
  for (size_t k = 1; k < r.size(); ++k) {
    const std::vector<std::string>& row = r[k];
    ASSERT_EQ(row.size(), station::kRunColumnCount);
    const std::string n = at(row, RunColumn::module), cause = at(row, RunColumn::cause);
    const int module = std::stoi(n);
    seen += n;
    EXPECT_EQ(
        row, (std::vector<std::string>{
                 "2026-12-09T12:00:00+01:00", at(row, RunColumn::end), n, n, "/dev/ttyUSB" + n,
                 "pci-0000:00:14.0-usb-0:" + n, "SN," + n + "\"", update.string(), "3000",
                 kUpdateHash, module < 6 ? "0" : "13", cause, at(row, RunColumn::duration_ms),
                 QUILL_VERSION, host, at(row, RunColumn::run_id), module < 6 ? "1" : "2", "", ""}));
    EXPECT_TRUE(std::regex_match(at(row, RunColumn::end) + " " + at(row, RunColumn::duration_ms),
                                 std::regex(R"(2026-12-09T12:0\d:\d\d\+01:00 \d{4,})")));
    // A failure gives the status of its run that told of it, the same for the programs that show
    // it, and that data had gone out.
    const auto& trace = window.trace[module - 1];
    EXPECT_EQ(cause.empty(), module < 6);
    EXPECT_EQ(cause, slots[module - 1].notes.outcome().cause);
    EXPECT_TRUE(cause.empty() || cause ==
                                     "Byte count match failed: 3001!; the module may hold a "
                                     "partial update.bin");
    EXPECT_TRUE(cause.empty() || std::find(trace.begin(), trace.end(),
                                           "Byte count match failed: 3001!") != trace.end());
    EXPECT_TRUE(window.recorded_at_result[module - 1]) << "the record came after the result";
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, "123456");

  const station::DayTotals::Counts after = station::day_totals().counts();
  EXPECT_EQ(after.date, "2026-12-09");
  EXPECT_EQ(after.passed - before.passed, 5);
  EXPECT_EQ(after.failed - before.failed, 1);
}

TEST_F(RecordTest, EveryEndOfARunIsRecordedAndTheHashIsOfTheBytesSent) {
  struct Case {
    std::string file;
    bool stop;
    std::string result, cause, size;
  } cases[] = {
      {(dir.path() / "bad,name.bin").string(), false, "3", "invalid file name!", ""},
      {(dir.path() / "missing.bin").string(), false, "3", "read file error!", ""},
      {update.string(), true, "15", "Download Pause!", "3000"},  // stopped in its settling wait
  };
  for (const Case& c : cases) {
    slots[0].run = {c.file, engine::module_file_name(c.file, nullptr), 1, 8000};
    slots[0].runEnabled = c.stop ? 0 : 1;
    c.stop ? slots[0].stopRequest.raise() : slots[0].stopRequest.clear();
    engine::DownloadWorker(&slots[0]);
  }
  // A folder whose name holds commas, quotes and a line break; the file is written over once it
  // has been loaded.
  const fs::path folder = dir.path() / "lot 7, \"north\"\r\nbench";
  fs::create_directory(folder);
  fs::rename(update, folder / "update.bin");
  slots[2].filePath = (folder / "update.bin").string();
  on_open = [&] { std::ofstream(folder / "update.bin", std::ios::binary) << "changed"; };
  run({2});

  Records r = parse_csv(testing_support::read_file(runs));
  ASSERT_EQ(r.size(), 5u) << testing_support::read_file(runs);
  for (size_t k = 0; k < 3; ++k) {
    const Case& c = cases[k];
    EXPECT_EQ(r[k + 1],
              (std::vector<std::string>{
                  at(r[k + 1], RunColumn::start), at(r[k + 1], RunColumn::end), "1", "1", "", "",
                  "", c.file, c.size, c.size.empty() ? "" : kUpdateHash, c.result, c.cause,
                  at(r[k + 1], RunColumn::duration_ms), at(r[k + 1], RunColumn::version),
                  at(r[k + 1], RunColumn::host), at(r[k + 1], RunColumn::run_id), "1", "", ""}));
  }
  EXPECT_EQ(at(r[4], RunColumn::file), slots[2].filePath);
  EXPECT_EQ(at(r[4], RunColumn::result), "0");
  EXPECT_EQ(at(r[4], RunColumn::sha256), kUpdateHash);  // not the hash of "changed"
  EXPECT_EQ(modules[3]->files().at("update.bin").size(), 3000u);

  // The record spanning two lines of the file counts once. A refused or unreadable update file
  // and a stop are no module's failure.
  station::DayTotals totals;
  ASSERT_TRUE(totals.count_file(runs.string()));
  EXPECT_EQ(totals.passed(), 1);
  EXPECT_EQ(totals.failed(), 0);
  EXPECT_EQ(totals.other(), 3);
}

TEST_F(RecordTest, ARecordThatCannotBeWrittenIsToldAndNotCountedAndACutLineStaysApart) {
  // A folder cannot be opened for writing, not even by root; a link would lead the record
  // elsewhere, so it is refused.
  const fs::path elsewhere = dir.path() / "elsewhere.csv";
  std::ofstream(elsewhere) << "kept\n";
  fs::create_directory(runs);
  const station::DayTotals::Counts before = station::day_totals().counts();
  const station::UnwrittenRecords unwritten = station::unwritten_records();
  run({0});
  fs::remove(runs);
  fs::create_symlink(elsewhere, runs);
  run({1});
  for (int k : {0, 1}) {
    SCOPED_TRACE(k);
    const std::string why = k == 0 ? "Is a directory" : "is a symbolic link";
    EXPECT_EQ(slots[k].exitCode, engine::DL_OK);
    const auto& trace = window.trace[k];
    ASSERT_GE(trace.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(trace.end() - 3, trace.end()),
              (std::vector<std::string>{"download success!\r\n",
                                        "record not written: runs.csv: " + why, "R:1"}));
    EXPECT_EQ(debug.count("record not written: " + runs.string() + ": " + why), 1);
    const engine::RunOutcome outcome = slots[k].notes.outcome();
    EXPECT_EQ(outcome.result, engine::DL_OK);
    EXPECT_FALSE(outcome.recorded);
    EXPECT_EQ(outcome.not_recorded, why);
  }
  EXPECT_EQ(testing_support::read_file(elsewhere), "kept\n");
  // Neither run is in the file: neither is counted, and the program knows how many are missing.
  EXPECT_EQ(station::day_totals().passed(), before.passed);
  EXPECT_EQ(station::unwritten_records().count, unwritten.count + 2);
  EXPECT_NE(station::unwritten_records().reasons.find("Is a directory; is a symbolic link"),
            std::string::npos);

  // A record cut by a crash inside a quoted field: the field is closed, the next record starts on
  // a line of its own, and is counted.
  fs::remove(runs);
  const std::string cut = "2026-12-09T11:00:00+01:00,2026-12-09T11:00:09+01:00,1,1,,,,\"/upd";
  std::ofstream(runs, std::ios::binary) << station::run_header_line() << cut;
  run({1});
  EXPECT_TRUE(slots[1].notes.outcome().recorded);
  const std::string text = testing_support::read_file(runs);
  ASSERT_EQ(text.find(cut + "\"\r\n"), station::run_header_line().size());
  Records r = parse_csv(text.substr(station::run_header_line().size() + cut.size() + 3));
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(at(r[0], RunColumn::module), "2");
  station::DayTotals totals;
  ASSERT_TRUE(totals.count_file(runs.string()));
  EXPECT_EQ(totals.passed(), 1);
}

TEST(DayTotalsTest, CountsTodaysRecordsOfTheFileAndSkipsWhatIsNotOne) {
  CentralEuropeanTime zone;
  platform::VirtualClock clock(december_time(9, 12, 0, 0));
  platform::ScopedClock use_clock(clock);
  testing_support::TempDir dir;
  auto line = [](const std::string& end, const std::string& result) {
    return "2026-12-08T23:00:00+01:00," + end + ",1,1,,,,/u.bin,9,ab," + result +
           ",,5,1.0,h,4d61e45f-bf92-425d-96fd-5c6d637e9eca,1,,\r\n";
  };
  const std::string text =
      station::run_header_line() + line("2026-12-08T23:59:59+01:00", "0") +  // yesterday
      line("2026-12-09T00:00:00+01:00", "0") + line("2026-12-09T11:59:59.250+01:00", "16") +
      line("2026-12-08T23:30:00+00:00", "0") +  // 00:30 here: today
      line("2026-12-09T00:30:00+02:00", "6") +  // 23:30 here: yesterday
      line("2026-12-09T08:00:00+01:00", "15") + line("2026-12-09T08:00:01+01:00", "3") +
      line("2026-12-09T08:00:02+01:00", "") +  // stopped, no file, no port: other
      line("2026-12-09T08:00:03+01:00", "6") +
      "2026-12-09T09:00:00+01:00,2026-12-09T09:00:05+01:00,1,1,,,,\"/cut\r\n" +  // quote left open
      line("2026-12-09T09:00:05+01:00", "10") + "hello,world\r\n\r\n" + line("today", "0") +
      line("2026-12-09T10:00:00+01:00", "x") + line("2026-12-09T10:00:00+01:00", "0,extra") +
      line("2026-12-09T10:00:00", "0") +
      line("2026-12-09T10:00:00+01:00", "0").substr(0, 60);  // cut before its line end
  std::ofstream(dir.path() / "runs.csv", std::ios::binary) << text;

  station::DayTotals totals;
  ASSERT_TRUE(totals.count_file((dir.path() / "runs.csv").string()));
  EXPECT_EQ(totals.passed(), 2);
  EXPECT_EQ(totals.failed(), 3);
  EXPECT_EQ(totals.other(), 3);
  EXPECT_EQ(totals.counts().date, "2026-12-09");
  ASSERT_TRUE(totals.count_file((dir.path() / "none.csv").string()));  // none yet: nothing
  EXPECT_EQ(totals.passed() + totals.failed() + totals.other(), 0);
  std::string why;
  EXPECT_FALSE(totals.count_file(dir.path().string(), &why));
  EXPECT_EQ(why, "Is a directory");
  // A link leads to records that are not this bench's.
  fs::create_symlink(dir.path() / "runs.csv", dir.path() / "link.csv");
  EXPECT_FALSE(totals.count_file((dir.path() / "link.csv").string(), &why));
  EXPECT_EQ(why, "is a symbolic link");
}

TEST(DayTotalsTest, StartAgainFromZeroAtLocalMidnight) {
  CentralEuropeanTime zone;
  platform::VirtualClock clock(december_time(9, 23, 59, 50));
  platform::ScopedClock use_clock(clock);
  station::DayTotals totals;
  totals.add(engine::DL_OK, december(9, 23, 59, 40));
  totals.add(engine::DL_AT_FAILED, december(9, 23, 59, 45));
  totals.add(std::nullopt, december(9, 23, 59, 46));
  const uint64_t changes = totals.changes();
  EXPECT_EQ(totals.passed() * 100 + totals.failed() * 10 + totals.other(), 111);

  clock.advance_ms(15000);  // 00:00:05
  EXPECT_EQ(totals.passed() + totals.failed(), 0);
  EXPECT_EQ(totals.counts().date, "2026-12-10");
  EXPECT_NE(totals.changes(), changes);  // the new day is a change for the window
  totals.add(engine::DL_AT_FAILED, december(9, 23, 59, 58));  // ended yesterday: not today's
  totals.add(engine::DL_AT_FAILED, december(10, 0, 0, 4));
  totals.add(engine::DL_PAUSED, december(10, 0, 0, 5));
  EXPECT_EQ(totals.failed(), 1);
  EXPECT_EQ(totals.other(), 1);
}

// The header of a runs file written before the run id and the module's identity were recorded.
const std::string kOldRunsHeader =
    "start,end,module,com,device,id_path,serial,file,size,sha256,result,cause,duration_ms,"
    "version,host\r\n";

// A runs file of the old columns is renamed once at start-up, never over a file of the same name,
// and today's runs in it still count; the readers take each file's columns from its own header.
TEST(DayTotalsTest, AnOldRunsFileIsRetiredAndItsRunsOfTodayStillCount) {
  CentralEuropeanTime zone;
  platform::VirtualClock clock(december_time(9, 12, 0, 0));
  platform::ScopedClock use_clock(clock);
  testing_support::TempDir dir;
  const fs::path runs = dir.path() / "runs.csv";
  station::set_runs_file_path(runs.string());
  const std::string old_header = kOldRunsHeader;
  const std::string old_records =
      "2026-12-09T08:00:00+01:00,2026-12-09T08:00:09+01:00,1,1,,,,/u.bin,9,ab,0,,5,1.0,h\r\n"
      "2026-12-09T08:01:00+01:00,2026-12-09T08:01:09+01:00,2,2,,,,/u.bin,9,ab,13,x,5,1.0,h\r\n"
      "2026-12-08T08:00:00+01:00,2026-12-08T08:00:09+01:00,1,1,,,,/u.bin,9,ab,0,,5,1.0,h\r\n";
  std::ofstream(runs, std::ios::binary) << old_header << old_records;
  std::ofstream(dir.path() / "runs-until-2026-12-09.csv", std::ios::binary) << "kept\r\n";

  std::string why;
  ASSERT_TRUE(station::start_recording(&why)) << why;
  EXPECT_FALSE(fs::exists(runs));
  EXPECT_EQ(testing_support::read_file(dir.path() / "runs-until-2026-12-09.csv"), "kept\r\n");
  EXPECT_EQ(testing_support::read_file(dir.path() / "runs-until-2026-12-09-2.csv"),
            old_header + old_records);
  EXPECT_EQ(station::day_totals().passed(), 1);
  EXPECT_EQ(station::day_totals().failed(), 1);

  // The next record starts a file of the new columns; a restart leaves it as it is and counts
  // both files.
  engine::RunRecord record;
  record.start = record.end = clock.local_time();
  record.module = record.com = 3;
  record.result = 0;
  record.run_id = "4d61e45f-bf92-425d-96fd-5c6d637e9eca";
  record.attempts = 2;
  record.identity = {"350000000000014", "=R1"};
  ASSERT_TRUE(station::append_run_record(runs.string(), station::run_record_line(record), &why));
  ASSERT_TRUE(station::start_recording(&why)) << why;
  const Records r = parse_csv(testing_support::read_file(runs));
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(at(r[1], RunColumn::run_id), record.run_id);
  EXPECT_EQ(at(r[1], RunColumn::attempts), "2");
  EXPECT_EQ(at(r[1], RunColumn::imei), "350000000000014");
  EXPECT_EQ(at(r[1], RunColumn::revision), "'=R1");  // spreadsheet-safe, as every text field
  EXPECT_EQ(station::day_totals().passed(), 2);
  EXPECT_FALSE(fs::exists(dir.path() / "runs-until-2026-12-09-3.csv"));

  // Columns in another order, with one this program does not know, are read by their names.
  std::ofstream(dir.path() / "other.csv", std::ios::binary)
      << "result,site,end,start\r\n"
         "0,north,2026-12-09T09:00:00+01:00,2026-12-09T08:59:00+01:00\r\n"
         "6,north,2026-12-09T09:10:00+01:00,2026-12-09T09:09:00+01:00\r\n";
  station::DayTotals totals;
  ASSERT_TRUE(totals.count_file((dir.path() / "other.csv").string()));
  EXPECT_EQ(totals.passed(), 1);
  EXPECT_EQ(totals.failed(), 1);
  engine::set_record_sink({});
  station::set_runs_file_path({});
}

// A runs file of the old columns that cannot be renamed takes no record of the new columns, which
// its readers would misread: each run says why, and the file stays as it was.
TEST(DayTotalsTest, AnOldRunsFileThatCannotBeRenamedTakesNoNewRecord) {
  CentralEuropeanTime zone;
  platform::VirtualClock clock(december_time(9, 12, 0, 0));
  platform::ScopedClock use_clock(clock);
  testing_support::TempDir dir;
  const fs::path runs = dir.path() / "runs.csv";
  station::set_runs_file_path(runs.string());
  const std::string old_file = kOldRunsHeader;
  std::ofstream(runs, std::ios::binary) << old_file;
  for (int number = 1; number < 1000; ++number)  // every name a rename may take is taken
    std::ofstream(station::retired_runs_path(runs.string(), "2026-12-09", number));

  std::string why;
  EXPECT_FALSE(station::start_recording(&why));
  EXPECT_NE(why.find("not renamed"), std::string::npos) << why;
  engine::ModuleSlot& slot = engine::slots()[2];
  engine::RunRecord record;
  record.start = record.end = clock.local_time();
  record.module = record.com = 3;
  record.result = 0;
  EXPECT_FALSE(station::record_run(slot, record, &why));
  EXPECT_NE(why.find("its older columns stay"), std::string::npos) << why;
  EXPECT_EQ(testing_support::read_file(runs), old_file);
  EXPECT_EQ(station::day_totals().passed(), 0);
  engine::set_record_sink({});
  station::set_runs_file_path({});
}
