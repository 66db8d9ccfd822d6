// The yield report: grouping in a time zone with summer time, the period's edges, the three
// formats, and quillmark-log runs on a bench folder and on a database.
#include "tools/log_reader/runs_report.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "platform/local_time.h"
#include "station/runs_csv.h"
#include "tests/support/pg_server.h"
#include "tests/support/temp_dir.h"

namespace {

using log_reader::GroupBy;
using log_reader::ReportOptions;
using log_reader::RunFacts;
using log_reader::RunsReport;

// Sets the process's time zone for the scope.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (old_.empty())
      ::unsetenv("TZ");
    else
      ::setenv("TZ", old_.c_str(), 1);
    ::tzset();
  }

 private:
  std::string old_;
};

std::time_t utc(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day;
  t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second;
  return platform::utc_instant(t);
}

// Runs around midnight and the end of summer time in Berlin (2026-10-25 03:00 CEST becomes
// 02:00 CET, so 02:xx happens twice): ends in UTC, results (none: the port did not open; 15 a
// stop).
struct Sample {
  std::time_t end;
  int module;
  const char* file;
  std::optional<int> result;
};
const std::vector<Sample> kSamples = {
    {utc(2026, 10, 24, 21, 59, 59), 1, "/fw/a.bin", 0},           // 23:59:59 CEST, the 24th
    {utc(2026, 10, 24, 22, 0, 0), 2, "/fw/a.bin", 7},             // 00:00:00 CEST, the 25th
    {utc(2026, 10, 25, 0, 30, 0), 1, "/fw/b.bin", 0},             // 02:30 CEST
    {utc(2026, 10, 25, 1, 30, 0), 3, "/fw/b.bin", 15},            // 02:30 CET: a stop
    {utc(2026, 10, 25, 1, 45, 0), 3, "/fw/b.bin", std::nullopt},  // 02:45 CET: no port
    {utc(2026, 10, 25, 22, 59, 59), 6, "/fw/a.bin", 0},           // 23:59:59 CET, the 25th
    {utc(2026, 10, 25, 23, 0, 0), 6, "/fw/a.bin", 0},             // 00:00 CET, the 26th
};

RunsReport report_of(const ReportOptions& options) {
  RunsReport report(options);
  for (const Sample& s : kSamples) report.add({s.end, "st", s.module, s.file, s.result});
  return report;
}

std::string labels(const RunsReport& report) {
  std::string text;
  for (const RunsReport::Group& g : report.groups())
    text += g.label + "=" + std::to_string(g.counts.passed) + "/" +
            std::to_string(g.counts.failed) + "/" + std::to_string(g.counts.other) + " ";
  return text;
}

}  // namespace

TEST(RunsReportTest, GroupsByTheLocalDayAndHourOfTheEndAcrossMidnightAndTheRepeatedHour) {
  ScopedTimeZone berlin("Europe/Berlin");
  ReportOptions options;
  EXPECT_EQ(labels(report_of(options)), "2026-10-24=1/0/0 2026-10-25=2/1/2 2026-10-26=1/0/0 ");
  options.by = GroupBy::hour;
  EXPECT_EQ(labels(report_of(options)),
            "2026-10-24 23:00=1/0/0 2026-10-25 00:00=0/1/0 2026-10-25 02:00 +02:00=1/0/0 "
            "2026-10-25 02:00 +01:00=0/0/2 2026-10-25 23:00=1/0/0 2026-10-26 00:00=1/0/0 ");
  options.by = GroupBy::day;
  options.utc = true;
  EXPECT_EQ(labels(report_of(options)), "2026-10-24=1/1/0 2026-10-25=3/0/2 ");
  options.utc = false;
  options.by = GroupBy::module;
  const RunsReport modules = report_of(options);
  EXPECT_EQ(labels(modules), "1=2/0/0 2=0/1/0 3=0/0/2 6=2/0/0 ");
  // Stops and runs without a port are left out of the yield; a group of only those has none.
  EXPECT_FALSE(modules.groups()[2].counts.yield());
  EXPECT_DOUBLE_EQ(*modules.total().yield(), 0.8);
  EXPECT_EQ(modules.total().total(), 7);
}

TEST(RunsReportTest, PeriodBoundsIncludeTheWholeDayAndRefuseBadText) {
  ScopedTimeZone berlin("Europe/Berlin");
  const std::time_t now = utc(2026, 10, 25, 23, 30, 0);  // 00:30 on the 26th in Berlin
  std::time_t since = 0, until = 0;
  std::string why;
  ASSERT_TRUE(log_reader::parse_time_bound("2026-10-25", false, false, now, &since, &why));
  ASSERT_TRUE(log_reader::parse_time_bound("2026-10-25", true, false, now, &until, &why));
  EXPECT_EQ(since, utc(2026, 10, 24, 22, 0, 0));
  EXPECT_EQ(until, utc(2026, 10, 25, 22, 59, 59));  // a day of 25 hours
  std::time_t t = 0;
  ASSERT_TRUE(log_reader::parse_time_bound("yesterday", false, false, now, &t, &why));
  EXPECT_EQ(t, since);
  ASSERT_TRUE(log_reader::parse_time_bound("today", true, false, now, &t, &why));
  EXPECT_EQ(t, utc(2026, 10, 26, 22, 59, 59));
  ASSERT_TRUE(log_reader::parse_time_bound("2026-10-25", false, true, now, &t, &why));
  EXPECT_EQ(t, utc(2026, 10, 25, 0, 0, 0));
  ASSERT_TRUE(log_reader::parse_time_bound("2026-10-25 12:05", false, false, now, &t, &why));
  EXPECT_EQ(t, utc(2026, 10, 25, 11, 5, 0));
  ASSERT_TRUE(
      log_reader::parse_time_bound("2026-10-25T12:05:09+05:30", true, false, now, &t, &why));
  EXPECT_EQ(t, utc(2026, 10, 25, 6, 35, 9));
  ASSERT_TRUE(log_reader::parse_time_bound("2026-10-25T12:05Z", true, false, now, &t, &why));
  EXPECT_EQ(t, utc(2026, 10, 25, 12, 5, 0));
  for (const char* bad : {"2026-02-29", "2026-10-25T24:00", "2026-10-25T12:00+1", "2026-10-25T",
                          "2026-10-25T12:00:0", "tomorrow", "", "2026-1-05"}) {
    why.clear();
    EXPECT_FALSE(log_reader::parse_time_bound(bad, false, false, now, &t, &why)) << bad;
    EXPECT_NE(why.find("'" + std::string(bad) + "'"), std::string::npos) << why;
  }

  // The day's first and last second are in, the seconds around them are not.
  ReportOptions options;
  options.period = {since, until};
  const RunsReport day = report_of(options);
  EXPECT_EQ(labels(day), "2026-10-25=2/1/2 ");
}

TEST(RunsReportTest, TableCsvAndJsonTellTheSameGroups) {
  ScopedTimeZone berlin("Europe/Berlin");
  ReportOptions options;
  options.by = GroupBy::file;
  RunsReport report(options);
  const std::string long_path =
      "/home/operator/firmware/releases/2026/october/candidates/module-update-final.bin";
  report.add({utc(2026, 10, 25, 9, 0, 0), "st", 1, long_path, 0});
  report.add({utc(2026, 10, 25, 9, 1, 0), "st", 1, long_path, 9});
  report.add({utc(2026, 10, 25, 9, 2, 0), "st", 1, "=cmd|x,\"y\"", 15});

  std::ostringstream table;
  log_reader::write_table(report, table);
  std::vector<std::string> lines;
  std::istringstream in(table.str());
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 5u) << table.str();
  EXPECT_EQ(lines[0], "Runs by file, local time");
  for (size_t k = 1; k < lines.size(); ++k) {
    EXPECT_EQ(lines[k].size(), lines[1].size()) << lines[k];
    EXPECT_LE(lines[k].size(), 79u);
  }
  // Paths in order of their names; a long one keeps its beginning and its file name.
  EXPECT_EQ(lines[2].find("/home/operat.../module-update-final.bin  "), 0u) << lines[2];
  EXPECT_TRUE(lines[2].ends_with("1       1       0       2   50.0%")) << lines[2];
  EXPECT_EQ(lines[3].find("=cmd|x,\"y\""), 0u);
  EXPECT_TRUE(lines[3].ends_with("1       1       -")) << lines[3];
  EXPECT_TRUE(lines[4].starts_with("total ")) << lines[4];

  std::ostringstream csv;
  log_reader::write_csv(report, csv);
  std::vector<std::vector<std::string>> rows;
  std::string text = csv.str();
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find("\r\n", at);
    ASSERT_NE(end, std::string::npos);
    std::vector<std::string> fields;
    size_t count = 0;
    ASSERT_TRUE(station::split_csv_record(text.substr(at, end - at), fields, count));
    fields.resize(count);
    rows.push_back(fields);
    at = end + 2;
  }
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0],
            (std::vector<std::string>{"file", "passed", "failed", "other", "total", "yield"}));
  EXPECT_EQ(rows[1], (std::vector<std::string>{long_path, "1", "1", "0", "2", "0.5000"}));
  EXPECT_EQ(rows[2], (std::vector<std::string>{"=cmd|x,\"y\"", "0", "0", "1", "1", ""}));
  EXPECT_EQ(text.find("'=cmd"), text.find("\r\n\"'") + 3);  // spreadsheet-safe

  std::ostringstream json;
  log_reader::write_json(report, json);
  const nlohmann::json doc = nlohmann::json::parse(json.str());
  EXPECT_EQ(doc["by"], "file");
  EXPECT_EQ(doc["utc"], false);
  EXPECT_TRUE(doc["since"].is_null());
  ASSERT_EQ(doc["groups"].size(), 2u);
  EXPECT_EQ(doc["groups"][0]["group"], long_path);
  EXPECT_EQ(doc["groups"][0]["total"], 2);
  EXPECT_DOUBLE_EQ(doc["groups"][0]["yield"].get<double>(), 0.5);
  EXPECT_TRUE(doc["groups"][1]["yield"].is_null());
  EXPECT_EQ(doc["total"]["other"], 1);

  // Nothing in the period: no table, a header alone, no groups.
  options.period.since = utc(2027, 1, 1, 0, 0, 0);
  RunsReport none(options);
  none.add({utc(2026, 10, 25, 9, 0, 0), "st", 1, long_path, 0});
  std::ostringstream empty_table, empty_csv, empty_json;
  log_reader::write_table(none, empty_table);
  log_reader::write_csv(none, empty_csv);
  log_reader::write_json(none, empty_json);
  EXPECT_EQ(empty_table.str(), "");
  EXPECT_EQ(empty_csv.str(), "file,passed,failed,other,total,yield\r\n");
  EXPECT_TRUE(nlohmann::json::parse(empty_json.str())["groups"].empty());
}

namespace {

struct ToolRun {
  int status;
  std::string out, err;
};

// Runs quillmark-log in `dir` with `env` added to its environment, its output going to files.
ToolRun run_tool(const testing_support::TempDir& dir, std::vector<std::string> args,
                 const std::vector<std::string>& env = {}) {
  args.insert(args.begin(), QUILL_LOG_TOOL);
  const std::string out = (dir.path() / "out.txt").string(),
                    err = (dir.path() / "err.txt").string();
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (o < 0 || e < 0 || ::chdir(dir.str().c_str()) != 0) ::_exit(127);
    ::dup2(o, 1);
    ::dup2(e, 2);
    for (const std::string& setting : env) ::putenv(const_cast<char*>(setting.c_str()));
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, testing_support::read_file(out),
          testing_support::read_file(err)};
}

const char* const kOldHeader =
    "start,end,module,com,device,id_path,serial,file,size,sha256,result,cause,duration_ms,version,"
    "host\r\n";
const char* const kNewHeader =
    "start,end,module,com,device,id_path,serial,file,size,sha256,result,cause,duration_ms,version,"
    "host,run_id,attempts,imei,revision\r\n";

// A record of the runs file with the samples' fields, in Berlin's time as the runs file has it.
std::string record_line(const Sample& s, bool new_columns) {
  const std::string end = platform::iso_local_time(s.end);
  std::string line = end + "," + end + "," + std::to_string(s.module) + ",3,/dev/ttyUSB0,,," +
                     station::csv_field(s.file) + ",100,ab," +
                     (s.result ? std::to_string(*s.result) : "") + ",,1000,1.17,bench-7";
  return line + (new_columns ? ",0f1e2d3c-0000-4000-8000-000000000001,1,," : "") + "\r\n";
}

// A bench folder whose runs are the samples: the first three in a retired file of the old
// columns, the others in runs.csv, with a damaged line in each.
void write_bench(const testing_support::TempDir& bench) {
  ScopedTimeZone berlin("Europe/Berlin");
  std::string old_file = kOldHeader, new_file = kNewHeader;
  for (size_t k = 0; k < kSamples.size(); ++k) {
    (k < 3 ? old_file : new_file) += record_line(kSamples[k], k >= 3);
    if (k == 1) old_file += "2026-10-25T01:00:00+02:00,not a time,1\r\n";
    if (k == 4) new_file += "\"cut by a crash,\r\n";
  }
  std::ofstream(bench.path() / "runs-until-2026-10-25.csv", std::ios::binary) << old_file;
  std::ofstream(bench.path() / "runs.csv", std::ios::binary) << new_file;
}

}  // namespace

TEST(RunsReportTest, TheProgramReportsTheBenchsRunsFilesAndRefusesWhatItCannotUse) {
  testing_support::TempDir bench;
  write_bench(bench);
  const std::vector<std::string> berlin = {"TZ=Europe/Berlin"};

  const ToolRun table = run_tool(bench, {"runs", "--until", "2026-10-25"}, berlin);
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_EQ(table.out,
            "Runs by day, local time, until 2026-10-25 23:59:59\n"
            "day         passed  failed   other   total   yield\n"
            "2026-10-24       1       0       0       1  100.0%\n"
            "2026-10-25       2       1       2       5   66.7%\n"
            "total            3       1       2       6   75.0%\n");
  EXPECT_EQ(table.err,
            "quillmark-log: runs-until-2026-10-25.csv: 1 damaged line skipped\n"
            "quillmark-log: runs.csv: 1 damaged line skipped\n");

  // The station is the record's host, or the bench's name for itself.
  ToolRun json = run_tool(bench, {"runs", "--by=station", "--format=json"}, berlin);
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(nlohmann::json::parse(json.out)["groups"][0]["group"], "bench-7");
  std::ofstream(bench.path() / "ZEBL.ini") << "[Station]\r\nName=line-3 station 2\r\n";
  json = run_tool(bench, {"runs", "--by", "station", "--format", "json", "--utc"}, berlin);
  ASSERT_EQ(json.status, 0) << json.err;
  const nlohmann::json doc = nlohmann::json::parse(json.out);
  EXPECT_EQ(doc["groups"][0]["group"], "line-3 station 2");
  EXPECT_EQ(doc["total"]["total"], 7);
  EXPECT_EQ(doc["utc"], true);

  // Nothing in the period: said on standard error for the table, a header alone for CSV.
  const ToolRun none = run_tool(bench, {"runs", "--since", "2027-01-01"}, berlin);
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, "");
  EXPECT_NE(none.err.find("no runs recorded in the period"), std::string::npos) << none.err;
  const ToolRun csv = run_tool(bench, {"runs", "--since", "2027-01-01", "--format", "csv"});
  EXPECT_EQ(csv.out, "day,passed,failed,other,total,yield\r\n");

  const ToolRun bad = run_tool(bench, {"runs", "--since", "2026-10-32"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("--since: '2026-10-32' is not a date"), std::string::npos) << bad.err;
  const ToolRun password = run_tool(bench, {"runs", "--db=host=x user=u password=secret"});
  EXPECT_EQ(password.status, 2);
  EXPECT_NE(password.err.find("names a password"), std::string::npos) << password.err;
  const ToolRun unset = run_tool(bench, {"runs", "--db"});
  EXPECT_EQ(unset.status, 2);
  EXPECT_NE(unset.err.find("[Station] Database= of ZEBL.ini is not set"), std::string::npos);

  // A runs file that cannot be read ends the report.
  std::filesystem::remove(bench.path() / "runs.csv");
  std::filesystem::create_directory(bench.path() / "runs.csv");
  const ToolRun unreadable = run_tool(bench, {"runs"});
  EXPECT_EQ(unreadable.status, 1);
  EXPECT_EQ(unreadable.out, "");
  EXPECT_NE(unreadable.err.find("runs.csv: Is a directory"), std::string::npos) << unreadable.err;
}

TEST(RunsReportTest, TheDatabaseGivesTheSameReportAsTheFiles) {
  testing_support::PgServer server;
  if (!server.available()) GTEST_SKIP() << server.why();
  ASSERT_TRUE(server.create_database("line"));
  std::string sql =
      "CREATE TABLE quillmark_runs (run_id uuid PRIMARY KEY, station text NOT NULL, start "
      "timestamptz, \"end\" timestamptz, module integer, com integer, device text, id_path text, "
      "serial text, file text, size bigint, sha256 text, result integer, cause text, duration_ms "
      "bigint, version text, host text, attempts integer, imei text, revision text, shipped_at "
      "timestamptz NOT NULL DEFAULT now());\n";
  for (const Sample& s : kSamples)
    sql +=
        "INSERT INTO quillmark_runs (run_id, station, \"end\", module, file, result) VALUES "
        "(gen_random_uuid(), 'line-3', to_timestamp(" +
        std::to_string(s.end) + "), " + std::to_string(s.module) + ", '" + s.file + "', " +
        (s.result ? std::to_string(*s.result) : "NULL") + ");\n";
  // A run of another day, a fraction of a second after the period's last second.
  sql +=
      "INSERT INTO quillmark_runs (run_id, station, \"end\", module, file, result) VALUES "
      "(gen_random_uuid(), 'line-3', '2026-10-26 00:00:00.5+01', 2, '/fw/a.bin', 0);\n";
  bool ok = false;
  const std::string answer = server.query("line", sql, &ok);
  ASSERT_TRUE(ok) << answer;

  testing_support::TempDir bench;
  write_bench(bench);
  std::ofstream(bench.path() / "ZEBL.ini")
      << "[Station]\r\nName=line-3\r\nDatabase=" << server.conninfo("line") << "\r\n";
  const std::vector<std::string> env = {"TZ=Europe/Berlin", "PGPASSFILE=" + server.password_file()};
  for (const char* by : {"day", "hour", "station", "module", "file"}) {
    SCOPED_TRACE(by);
    const std::vector<std::string> args = {
        "runs", "--by", by, "--since", "2026-10-24", "--until", "2026-10-25", "--format", "json"};
    const ToolRun files = run_tool(bench, args, env);
    ASSERT_EQ(files.status, 0) << files.err;
    std::vector<std::string> db_args = args;
    db_args.push_back(by == std::string("day") ? "--db" : "--db=" + server.conninfo("line"));
    const ToolRun db = run_tool(bench, db_args, env);
    ASSERT_EQ(db.status, 0) << db.err;
    EXPECT_EQ(db.err, "");
    nlohmann::json from_files = nlohmann::json::parse(files.out);
    nlohmann::json from_db = nlohmann::json::parse(db.out);
    EXPECT_EQ(from_files["source"], "files");
    EXPECT_EQ(from_db["source"], "database");
    from_files.erase("source");
    from_db.erase("source");
    EXPECT_EQ(from_db, from_files);
    EXPECT_EQ(from_db["total"]["total"], 6);
  }

  // A database that does not answer: libpq's reason on one line.
  const ToolRun down = run_tool(bench, {"runs", "--db=host=" + bench.str() + " dbname=x"}, env);
  EXPECT_EQ(down.status, 1);
  EXPECT_EQ(down.err.find("quillmark-log: database: "), 0u) << down.err;
  EXPECT_EQ(down.err.find('\n'), down.err.size() - 1) << down.err;
}
