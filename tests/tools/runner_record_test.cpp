// The runner's record of each run in runs.csv, and today's totals in its summary and its report.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>

#include "station/run_record.h"
#include "station/runs_csv.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/tool_process.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

// The local time at 00:00:01 today, as the records write it; in `date` its date.
std::string early_today(std::string* date) {
  std::time_t now = std::time(nullptr);
  std::tm t{};
  ::localtime_r(&now, &t);
  t.tm_hour = t.tm_min = 0;
  t.tm_sec = 1;
  t.tm_isdst = -1;
  std::time_t when = std::mktime(&t);
  ::localtime_r(&when, &t);
  *date = station::iso_local_time(t).substr(0, 10);
  return station::iso_local_time(t);
}

// `text` as a regular expression that matches it literally.
std::string literal(const std::string& text) {
  return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

class RunnerRecordTest : public ToolBench {};

}  // namespace

TEST_F(RunnerRecordTest, EachModuleIsRecordedWithItsPortAndTodaysTotalsFollowTheFile) {
  write_settings(2);
  std::string today;
  const std::string morning = early_today(&today);  // a pass of earlier today, and a foreign line
  std::ofstream(bench.path() / "runs.csv", std::ios::binary)
      << station::run_header_line() << morning << "," << morning
      << ",1,1,,,,/u.bin,9,ab,0,,5,1.0,h,4d61e45f-bf92-425d-96fd-5c6d637e9eca,1,,\r\n"
      << "not a record\r\n";
  Process sim = start_simulator({"--count", "2", "--fault", "COM2:count-offset=1"});

  Process run = spawn({QUILL_RUNNER, "--json"}, bench.path(), runtime.str());
  nlohmann::json report = nlohmann::json::parse(read_all(run.output));
  EXPECT_EQ(wait_exit(run.pid), 1);
  if (report["today"]["date"] != today) GTEST_SKIP() << "midnight came during the test";
  EXPECT_EQ(report["today"]["passed"], 2) << report.dump();
  EXPECT_EQ(report["today"]["failed"], 1);

  // Each module's line: the pseudo-terminal its link led to, which the device database does not
  // know (no ID_PATH, no serial number), and the hash of the 1500 bytes of 'Q' it was sent.
  const std::string text = read_file(bench.path() / "runs.csv");
  for (const char* n : {"1", "2"}) {
    const std::string device =
        literal(fs::canonical(bench.path() / "ports" / ("COM" + std::string(n))));
    EXPECT_TRUE(std::regex_search(
        text,
        std::regex("\r\n" + today + "T[^,]+," + today + "T[^,]+," + n + "," + n + "," + device +
                   ",,," + literal((bench.path() / "update.bin").string()) +
                   ",1500,bccc6a16c50be1f7867ffdb55d6704b81cc543081feac8f46e93cb067aa0f6ad," +
                   (n[0] == '1' ? "0,," : "13,[^,]+,") + "\\d+," + literal(QUILL_VERSION) + ",")))
        << text;
  }

  // A restart counts the file again; the summary of a run ends with today's totals.
  run = spawn({QUILL_RUNNER, "1"}, bench.path(), runtime.str());
  const std::string out = read_all(run.output);
  EXPECT_EQ(wait_exit(run.pid), 0) << out;
  if (out.find("Today (" + today + ")") == std::string::npos) GTEST_SKIP() << "a new day: " << out;
  const std::string totals = "Today (" + today + "): 3 passed, 1 failed\n";
  EXPECT_EQ(out.substr(out.size() - std::min(out.size(), totals.size())), totals) << out;
  stop(sim);
}

TEST_F(RunnerRecordTest, TheSummaryTellsTheRecordsCausesAndRecordsThatWereNotWritten) {
  write_settings(2);
  {
    std::ofstream ini(bench.path() / "ZEBL.ini", std::ios::app);
    ini << "[ATPort_Third]\nnumber=9\n";  // no such port on this bench
  }
  std::string today;
  early_today(&today);
  // A link in place of runs.csv would take the records elsewhere: nothing is written.
  const fs::path elsewhere = bench.path() / "elsewhere.csv";
  std::ofstream(elsewhere) << "kept\n";
  fs::create_symlink(elsewhere, bench.path() / "runs.csv");
  Process sim = start_simulator({"--count", "2"});
  Process run = spawn({QUILL_RUNNER, "--json", "1", "2"}, bench.path(), runtime.str());
  nlohmann::json report = nlohmann::json::parse(read_all(run.output));
  EXPECT_EQ(wait_exit(run.pid), 0) << report.dump();  // the modules passed all the same
  for (const nlohmann::json& m : report["modules"]) {
    EXPECT_EQ(m["result"], "PASS");
    EXPECT_EQ(m["recorded"], false);
  }
  if (report["today"]["date"] != today) GTEST_SKIP() << "midnight came during the test";
  EXPECT_EQ(report["today"],
            nlohmann::json({{"date", today}, {"passed", 0}, {"failed", 0}, {"other", 0}}));
  run = spawn({QUILL_RUNNER, "1", "2"}, bench.path(), runtime.str());
  std::string out = read_all(run.output);
  EXPECT_EQ(wait_exit(run.pid), 0) << out;
  EXPECT_NE(out.find("\n2 records not written to runs.csv: is a symbolic link\nToday ("),
            std::string::npos)
      << out;
  EXPECT_EQ(read_file(elsewhere), "kept\n");
  stop(sim);

  // A pass on the retry, a failure and a port that does not open: the runner's lines give the
  // records' causes, and only the failure counts as one.
  fs::remove(bench.path() / "runs.csv");
  sim = start_simulator(
      {"--count", "2", "--fault", "COM1:error-packet=1", "--fault", "COM2:refuse=AT+CFSINIT"});
  run = spawn({QUILL_RUNNER}, bench.path(), runtime.str());
  out = read_all(run.output);
  EXPECT_EQ(wait_exit(run.pid), 1) << out;
  stop(sim);
  const std::string causes[] = {"passed on the retry after: Download packet return Error!",
                                "AT+CFSINIT failed!", "OpenATPort Failed!: COM9 is not present"};
  EXPECT_NE(out.find("\nModule1 COM1 PASS (" + causes[0] + ")\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\nModule2 COM2 FAIL (errcode 11): " + causes[1] + "\n"), std::string::npos);
  EXPECT_NE(out.find("\nModule3 COM9 FAIL: " + causes[2] + "\n"), std::string::npos);
  const std::string text = read_file(bench.path() / "runs.csv");
  EXPECT_NE(text.find(",0," + causes[0] + ","), std::string::npos) << text;
  EXPECT_NE(text.find(",11," + causes[1] + ","), std::string::npos) << text;
  EXPECT_NE(text.find(",," + causes[2] + ",0,"), std::string::npos) << text;  // no result code
  if (out.find("Today (" + today + ")") == std::string::npos) GTEST_SKIP() << "a new day: " << out;
  EXPECT_NE(out.find("\nToday (" + today + "): 1 passed, 1 failed, 1 other\n"), std::string::npos)
      << out;
  EXPECT_EQ(out.find("not written"), std::string::npos);
}

// A bench folder named in Chinese holds everything of its run. An update file named in another
// encoding (code page 936 bytes, from a Windows archive) is sent under those bytes, and the report,
// whose JSON text must be UTF-8, shows them as U+FFFD instead of breaking off.
TEST_F(RunnerRecordTest, AChineseNamedBenchHoldsItsRunAndANameInAnotherEncodingIsReported) {
  const fs::path cn = bench.path() / "测试台";
  const std::string name = "\xC9\xFD\xBC\xB6\xB0\xFC.bin", content(5000, 'Z');  // 升级包.bin
  fs::create_directory(cn);
  std::ofstream(cn / name, std::ios::binary) << content;
  std::ofstream(cn / "ZEBL.ini") << "[FilePath]\nPath=" << (cn / name).string()
                                 << "\nSleepTime=0\n[ATPort_First]\nnumber=1\n";
  Process sim = spawn({QUILL_SIMULATOR, "--store", "store", "--count", "1"}, cn, runtime.str());
  wait_ready(sim.output);
  Process run = spawn({QUILL_RUNNER, "--json", "--debug", "调试.log"}, cn, runtime.str());
  const auto report = nlohmann::json::parse(read_all(run.output), nullptr, false);
  EXPECT_EQ(wait_exit(run.pid), 0);
  ASSERT_FALSE(report.is_discarded());
  EXPECT_EQ(report["modules"][0]["file"],
            (cn / "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD.bin").string());
  EXPECT_EQ(read_file(cn / "store" / "COM1" / name), content);
  EXPECT_NE(read_file(cn / "runs.csv").find("," + (cn / name).string() + ",5000,"),
            std::string::npos);
  EXPECT_NE(read_file(cn / "调试.log").find("read_cfgini_file()"), std::string::npos);
  stop(sim);
}

// With [Station] Identify=1 each module is asked who it is after ATE0: a module that tells is
// shown with its IMEI and revision; one that answers ERROR or nothing passes all the same.
TEST_F(RunnerRecordTest, IdentifiedModulesAreShownByTheirIdentityAndSilenceNeverFailsARun) {
  write_settings(3);
  std::ofstream(bench.path() / "ZEBL.ini", std::ios::app) << "[Station]\nIdentify=1\n";
  Process sim = start_simulator(
      {"--count", "3", "--fault", "COM2:silent-identity", "--fault", "COM3:refuse=AT+CGMR"});
  Process run = spawn({QUILL_RUNNER}, bench.path(), runtime.str());
  const std::string out = read_all(run.output);
  EXPECT_EQ(wait_exit(run.pid), 0) << out;
  stop(sim);
  EXPECT_NE(out.find("\nModule1 COM1 PASS [IMEI 350000000000014, revision SIMREV 1.0]\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\nModule2 COM2 PASS\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\nModule3 COM3 PASS [IMEI 350000000000030, revision ?]\n"), std::string::npos)
      << out;

  // The record, read by its header's names, and every field of it in the report.
  const std::string text = read_file(bench.path() / "runs.csv");
  std::vector<std::string> header, fields;
  size_t count = 0;
  ASSERT_TRUE(station::split_csv_record(text.substr(0, text.find("\r\n")), header, count));
  header.resize(count);
  auto column = [&](const char* name) {
    return static_cast<size_t>(std::find(header.begin(), header.end(), name) - header.begin());
  };
  std::map<std::string, std::string> imei_of, revision_of;
  for (size_t at = text.find("\r\n") + 2; at < text.size(); at = text.find("\r\n", at) + 2) {
    ASSERT_TRUE(
        station::split_csv_record(text.substr(at, text.find("\r\n", at) - at), fields, count));
    ASSERT_EQ(count, header.size());
    EXPECT_EQ(fields[column("attempts")], "1");
    EXPECT_EQ(fields[column("run_id")].size(), 36u);
    imei_of[fields[column("module")]] = fields[column("imei")];
    revision_of[fields[column("module")]] = fields[column("revision")];
  }
  EXPECT_EQ(imei_of, (std::map<std::string, std::string>{
                         {"1", "350000000000014"}, {"2", ""}, {"3", "350000000000030"}}));
  EXPECT_EQ(revision_of,
            (std::map<std::string, std::string>{{"1", "SIMREV 1.0"}, {"2", ""}, {"3", ""}}));

  sim = start_simulator({"--count", "1"});
  run = spawn({QUILL_RUNNER, "--json", "1"}, bench.path(), runtime.str());
  const nlohmann::json report = nlohmann::json::parse(read_all(run.output));
  EXPECT_EQ(wait_exit(run.pid), 0) << report.dump();
  stop(sim);
  const nlohmann::json& record = report["modules"][0]["record"];
  for (std::string_view name : station::kRunColumnNames)
    EXPECT_TRUE(record.contains(std::string(name))) << name << " " << record.dump();
  EXPECT_EQ(record["imei"], "350000000000014");
  EXPECT_EQ(record["revision"], "SIMREV 1.0");
  EXPECT_EQ(record["attempts"], 1);
  EXPECT_EQ(record["sha256"], "bccc6a16c50be1f7867ffdb55d6704b81cc543081feac8f46e93cb067aa0f6ad");
  EXPECT_EQ(record["size"], 1500);
  EXPECT_EQ(record["serial"], nullptr);  // the pseudo-terminal has none
  EXPECT_EQ(record["id_path"], nullptr);
  EXPECT_EQ(text.find(record["run_id"].get<std::string>()), std::string::npos) << "a new id";
}
