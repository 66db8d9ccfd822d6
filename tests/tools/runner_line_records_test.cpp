// The runner's records in the line's database: a real PostgreSQL server of the test's own, real
// runners on simulated modules.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "station/run_record.h"
#include "station/runs_reader.h"
#include "tests/support/pg_server.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/tool_process.h"

using namespace testing_support;

namespace {

class LineRecordsTest : public ToolBench {
 protected:
  void SetUp() override {
    if (!server.available()) GTEST_SKIP() << server.why();
    ASSERT_TRUE(server.create_database("line"));
    ::setenv("PGPASSFILE", server.password_file().c_str(), 1);
  }
  void TearDown() override { ::unsetenv("PGPASSFILE"); }

  // The bench's ZEBL.ini names the line's database and the station.
  void use_database(const TempDir& folder, const std::string& conninfo, const std::string& name) {
    std::ofstream(folder.path() / "ZEBL.ini", std::ios::app)
        << "[Station]\nDatabase=" << conninfo << "\nName=" << name << "\n";
  }
  nlohmann::json run_json(const TempDir& folder, const TempDir& locks) {
    Process run = spawn({QUILL_RUNNER, "--json"}, folder.path(), locks.str());
    const std::string out = read_all(run.output);
    EXPECT_EQ(wait_exit(run.pid), 0) << out;
    return nlohmann::json::parse(out);
  }
  // The runs file's records: run_id -> the fields the table must hold.
  std::map<std::string, std::string> recorded(const TempDir& folder, const std::string& station) {
    std::map<std::string, std::string> records;
    station::RunsReader reader([&](const station::RunsRecord& r) {
      using station::RunColumn;
      std::string row = station;
      for (RunColumn c :
           {RunColumn::module, RunColumn::com, RunColumn::file, RunColumn::size, RunColumn::sha256,
            RunColumn::result, RunColumn::duration_ms, RunColumn::version, RunColumn::attempts})
        row += "|" + std::string(r.field(c));
      records[std::string(r.field(RunColumn::run_id))] = row;
    });
    std::string why;
    EXPECT_TRUE(station::read_runs_file((folder.path() / "runs.csv").string(), reader, &why))
        << why;
    return records;
  }
  std::map<std::string, std::string> in_table() {
    std::map<std::string, std::string> rows;
    std::istringstream text(server.query(
        "line",
        "SELECT run_id, station, module, com, file, size, sha256, result, duration_ms, version, "
        "attempts FROM quillmark_runs;"));
    for (std::string line; std::getline(text, line);) {
      const size_t cut = line.find('|');
      EXPECT_TRUE(rows.emplace(line.substr(0, cut), line.substr(cut + 1)).second) << line;
    }
    return rows;
  }

  PgServer server;
};

// Two benches of six modules each, run at once, ship to one database: every run of each arrives
// once with the fields of its runs.csv, under its station's name, and the runners say that
// nothing waits.
TEST_F(LineRecordsTest, TwoBenchesOfSixModulesShipEveryRunToOneDatabase) {
  TempDir other, other_locks;
  write_settings(6);
  use_database(bench, server.conninfo("line"), "station-a");
  {
    std::ofstream ini(other.path() / "ZEBL.ini");
    ini << "[FilePath]\nPath=" << (other.path() / "update.bin").string() << "\nSleepTime=0\n";
    const char* ordinals[] = {"First", "Second", "Third", "Fourth", "Fifth", "Sixth"};
    for (int k = 0; k < 6; ++k) ini << "[ATPort_" << ordinals[k] << "]\nnumber=" << k + 1 << "\n";
    std::ofstream(other.path() / "update.bin", std::ios::binary) << std::string(4000, 'R');
  }
  use_database(other, server.conninfo("line"), "station-b");
  Process sim_a = start_simulator({"--count", "6"});
  Process sim_b =
      spawn({QUILL_SIMULATOR, "--store", "store", "--count", "6"}, other.path(), other_locks.str());
  wait_ready(sim_b.output);

  Process run_a = spawn({QUILL_RUNNER, "--json"}, bench.path(), runtime.str());
  Process run_b = spawn({QUILL_RUNNER, "--json"}, other.path(), other_locks.str());
  const nlohmann::json a = nlohmann::json::parse(read_all(run_a.output));
  const nlohmann::json b = nlohmann::json::parse(read_all(run_b.output));
  EXPECT_EQ(wait_exit(run_a.pid), 0) << a.dump();
  EXPECT_EQ(wait_exit(run_b.pid), 0) << b.dump();
  EXPECT_EQ(a["line_records"]["waiting"], 0) << a.dump();
  EXPECT_EQ(b["line_records"]["waiting"], 0) << b.dump();

  std::map<std::string, std::string> expected = recorded(bench, "station-a");
  const std::map<std::string, std::string> from_b = recorded(other, "station-b");
  EXPECT_EQ(expected.size(), 6u);
  EXPECT_EQ(from_b.size(), 6u);
  expected.insert(from_b.begin(), from_b.end());
  EXPECT_EQ(in_table(), expected);
  // Times keep their instant, the identity columns their emptiness.
  EXPECT_EQ(server.query("line",
                         "SELECT count(*) FROM quillmark_runs WHERE \"end\" >= start AND imei IS "
                         "NULL AND shipped_at >= \"end\";"),
            "12");
  stop(sim_a);
  stop(sim_b);
}

// The server is killed in the middle of a run of six and started again later: the run is not
// touched, the runner says what waits, and the next start ships it; every record is there once.
TEST_F(LineRecordsTest, ServerKilledDuringARunEveryRecordArrivesExactlyOnce) {
  write_settings(6, 1500);
  use_database(bench, server.conninfo("line"), "station-a");
  Process sim = start_simulator({"--count", "6"});
  Process run = spawn({QUILL_RUNNER}, bench.path(), runtime.str());
  read_until(run.output, "Update file:");
  server.kill_hard();
  const std::string out = read_all(run.output);
  EXPECT_EQ(wait_exit(run.pid), 0) << out;
  EXPECT_NE(out.find("Line records: 6 waiting"), std::string::npos) << out;

  ASSERT_TRUE(server.start()) << server.why();
  const nlohmann::json again = run_json(bench, runtime);
  EXPECT_EQ(again["line_records"]["waiting"], 0) << again.dump();
  const std::map<std::string, std::string> expected = recorded(bench, "station-a");
  EXPECT_EQ(expected.size(), 12u);
  EXPECT_EQ(in_table(), expected);
  stop(sim);
}

// A database that refuses the login, one that cannot be reached and one whose server stopped
// answering: every module passes as without a database, the runner ends with the records waiting
// and, where the failure came in time, its reason.
TEST_F(LineRecordsTest, ADatabaseThatFailsNeverChangesARun) {
  write_settings(6);
  Process sim = start_simulator({"--count", "6"});
  const TempDir no_server;
  const std::string wrong_password = (runtime.path() / "wrong-pgpass").string();
  std::ofstream(wrong_password) << "*:*:*:*:not-the-password\n";
  ::chmod(wrong_password.c_str(), 0600);
  struct Case {
    std::string conninfo, reason;
    bool paused = false;
    bool wrong = false;
  };
  const std::vector<Case> cases = {
      {server.conninfo("line"), "password authentication failed", false, true},
      {"host=" + no_server.str() + " port=5432 user=quill dbname=line", "No such file", false},
      {server.conninfo("line"), "", true},
  };
  int runs = 0;
  for (const Case& c : cases) {
    write_settings(6);
    use_database(bench, c.conninfo, "station-a");
    if (c.wrong) ::setenv("PGPASSFILE", wrong_password.c_str(), 1);
    if (c.paused) server.pause();
    const nlohmann::json report = run_json(bench, runtime);
    runs += 6;
    ::setenv("PGPASSFILE", server.password_file().c_str(), 1);
    for (const nlohmann::json& m : report["modules"]) EXPECT_EQ(m["result"], "PASS") << c.conninfo;
    EXPECT_EQ(report["line_records"]["waiting"], runs) << report.dump();
    if (!c.reason.empty()) {
      EXPECT_NE(report["line_records"]["last_failure"].get<std::string>().find(c.reason),
                std::string::npos)
          << report.dump();
    }
  }
  server.resume();
  EXPECT_EQ(server.query("line", "SELECT to_regclass('quillmark_runs') IS NULL;"), "t");
  stop(sim);
}

}  // namespace
