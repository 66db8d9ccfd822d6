// The line's records against a real PostgreSQL server of the tests' own: what arrives, exactly
// once, through crashes, lost positions, old files, refused logins, unreachable and silent servers.
#include "station/line_records.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/module_slot.h"
#include "platform/local_time.h"
#include "platform/random_id.h"
#include "station/line_row.h"
#include "station/run_record.h"
#include "station/ship_position.h"
#include "tests/support/pg_server.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using testing_support::PgServer;

namespace {

PgServer& server() {
  static PgServer shared;
  return shared;
}

// Polls `done` until it holds, for at most a minute.
bool eventually(const std::function<bool()>& done) {
  for (int k = 0; k < 3000; ++k) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

std::tm local(int day, int hour, int minute) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_isdst = -1;
  std::mktime(&t);
  return t;
}

engine::RunRecord a_record(int n) {
  engine::RunRecord r;
  r.run_id = platform::uuid_v4();
  r.start = local(9, 10, n % 60);
  r.end = local(9, 11, n % 60);
  r.module = n % 6 + 1;
  r.com = n % 6 + 7;
  r.port = {"/dev/ttyUSB" + std::to_string(n), "pci-0:" + std::to_string(n),
            "SN,\"" + std::to_string(n)};
  r.file = "/bench/update.bin";
  r.size = 3000 + n;
  r.sha256 = std::string(64, 'a');
  r.result = n % 3 == 0 ? 13 : 0;
  r.cause = n % 3 == 0 ? "=Byte count, \"match\"\nfailed" : "";
  r.duration_ms = 60000 + n;
  r.attempts = 1;
  r.identity = {"35" + std::to_string(n), "+REV"};
  return r;
}

// An SQL literal of `text`.
std::string literal(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  return quoted + "'";
}

class LineRecordsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!server().available()) GTEST_SKIP() << "no PostgreSQL server: " << server().why();
    static std::atomic<int> made{0};
    database = "lines_" + std::to_string(::getpid()) + "_" + std::to_string(made++);
    ASSERT_TRUE(server().create_database(database));
    station::set_runs_file_path(runs.string());
    std::string why;
    ASSERT_TRUE(station::start_recording(&why)) << why;
    settings.database = conninfo();
    settings.station_name = "station-7";
    settings.answer_limit_ms = 2000;
    settings.retry_limit_ms = 1000;
  }
  void TearDown() override {
    station::stop_shipping();
    server().resume();
    station::set_runs_file_path("");
  }

  std::string conninfo(const std::string& user = "quill") const {
    return server().conninfo(database) + " user=" + user + " passfile=" + server().password_file();
  }
  std::string sql(const std::string& text) const { return server().query(database, text); }
  int rows() const {
    bool ok = false;
    const std::string n = server().query(database, "SELECT count(*) FROM quillmark_runs", &ok);
    return ok && !n.empty() && n.find_first_not_of("0123456789\n") == std::string::npos
               ? std::stoi(n)
               : -1;
  }
  engine::RunRecord append(int n) {
    engine::RunRecord r = a_record(n);
    std::string why;
    EXPECT_TRUE(station::append_run_record(runs.string(), station::run_record_line(r), &why))
        << why;
    station::records_appended();
    return r;
  }
  void start() {
    std::string why;
    ASSERT_TRUE(station::start_shipping(settings, &why)) << why;
  }
  bool shipped(int count) {
    return eventually([&] { return rows() == count && station::shipping_status().waiting == 0; });
  }

  testing_support::TempDir dir;
  fs::path runs = dir.path() / "runs.csv";
  std::string database;
  station::LineRecordSettings settings;
};

// Whether the table holds `r` with every column as runs.csv has it, typed.
std::string row_check(const engine::RunRecord& r, const std::string& station) {
  auto is = [](const std::string& column, const std::optional<std::string>& value,
               const char* type) {
    return " AND " + column + " IS NOT DISTINCT FROM " +
           (value ? literal(*value) + "::" + type : std::string("NULL"));
  };
  return "SELECT count(*) FROM quillmark_runs WHERE run_id = " + literal(r.run_id) +
         "::uuid AND station = " + literal(station) +
         is("start", station::iso_local_time(r.start), "timestamptz") +
         is("\"end\"", station::iso_local_time(r.end), "timestamptz") +
         is("module", std::to_string(r.module), "integer") +
         is("com", std::to_string(r.com), "integer") + is("device", r.port.device, "text") +
         is("id_path", r.port.id_path, "text") + is("serial", r.port.serial, "text") +
         is("file", r.file, "text") +
         is("size", r.size ? std::optional(std::to_string(*r.size)) : std::nullopt, "bigint") +
         is("sha256", r.sha256, "text") +
         is("result", r.result ? std::optional(std::to_string(*r.result)) : std::nullopt,
            "integer") +
         is("cause", r.cause.empty() ? std::nullopt : std::optional(r.cause), "text") +
         is("duration_ms", std::to_string(r.duration_ms), "bigint") +
         is("version", QUILL_VERSION, "text") + is("host", platform::host_name(), "text") +
         is("attempts", std::to_string(r.attempts), "integer") +
         is("imei", r.identity.imei, "text") + is("revision", r.identity.revision, "text");
}

}  // namespace

TEST_F(LineRecordsTest, RecordsArriveWithTheirFieldsTypedAndDamagedOnesAreSkipped) {
  start();
  std::vector<engine::RunRecord> sent = {append(0), append(1)};
  engine::RunRecord unopened = a_record(2);  // a START whose port did not open
  unopened.size.reset();
  unopened.result.reset();
  unopened.attempts = 0;
  unopened.identity = {};
  engine::ModuleSlot slot;
  std::string why;
  ASSERT_TRUE(station::record_run(slot, unopened, &why)) << why;  // wakes the shipper itself
  ASSERT_TRUE(shipped(3));
  for (const engine::RunRecord& r : sent)
    EXPECT_EQ(sql(row_check(r, "station-7")), "1") << r.run_id;
  EXPECT_EQ(sql("SELECT attempts IS NULL AND size IS NULL AND result IS NULL AND imei IS NULL "
                "FROM quillmark_runs WHERE run_id = " +
                literal(unopened.run_id) + "::uuid"),
            "t");

  // Numbers and times the table would refuse are NULL; a record without a valid run id, and a
  // line of the wrong columns, are skipped and hold nothing up.
  std::ofstream(runs, std::ios::app)
      << "2026-02-30T10:00:00+01:00,2026-12-09T10:01:00+01:00,99999999999,x,,,,,12x,,,,,,,"
         "6a1e0f7e-2b8d-4c1e-9a57-0c1d2e3f4a5b,1,,\r\n"
      << "2026-12-09T10:00:00+01:00,2026-12-09T10:01:00+01:00,1,1,,,,,,,,,,,,not-an-id,1,,\r\n"
      << "a damaged line\r\n";
  const engine::RunRecord last = append(4);
  ASSERT_TRUE(shipped(5));
  EXPECT_EQ(sql("SELECT start IS NULL AND module IS NULL AND com IS NULL AND size IS NULL "
                "AND \"end\" IS NOT NULL FROM quillmark_runs "
                "WHERE run_id = '6a1e0f7e-2b8d-4c1e-9a57-0c1d2e3f4a5b'"),
            "t");
  EXPECT_EQ(sql(row_check(last, "station-7")), "1");
  EXPECT_TRUE(station::shipping_status().last_failure.empty());
  EXPECT_TRUE(station::flush_shipping(1000));
}

TEST_F(LineRecordsTest, EveryRecordArrivesOnceThroughAServerKilledHardAndLostOrStalePositions) {
  start();
  for (int n = 0; n < 20; ++n) append(n);
  server().kill_hard();
  for (int n = 20; n < 30; ++n) append(n);
  ASSERT_TRUE(server().start()) << server().why();
  for (int n = 30; n < 40; ++n) append(n);
  ASSERT_TRUE(shipped(40));
  EXPECT_EQ(sql("SELECT count(DISTINCT run_id) FROM quillmark_runs"), "40");
  station::stop_shipping();

  // A valid position: only what follows it is sent (the rows taken away stay away).
  const fs::path position = dir.path() / station::kShipPositionFileName;
  ASSERT_TRUE(fs::exists(position));
  sql("DELETE FROM quillmark_runs");
  start();
  append(40);
  ASSERT_TRUE(shipped(1));
  station::stop_shipping();

  // Lost, then made stale: everything is sent again, and nothing twice.
  fs::remove(position);
  start();
  ASSERT_TRUE(shipped(41));
  station::stop_shipping();
  station::ShipPositions stale;
  std::string why;
  ASSERT_TRUE(station::read_ship_positions(position.string(), &stale, &why)) << why;
  stale["runs.csv"].run_id = platform::uuid_v4();
  ASSERT_TRUE(station::write_ship_positions(position.string(), stale, &why)) << why;
  sql("DELETE FROM quillmark_runs WHERE module = 1");
  start();
  append(41);
  ASSERT_TRUE(shipped(42));
  station::stop_shipping();
  std::ofstream(position, std::ios::trunc) << "damaged";
  start();
  EXPECT_TRUE(shipped(42));
}

TEST_F(LineRecordsTest, ARetiredFileOfTheOldColumnsIsShippedFirstWithIdsDerivedTheSameEachTime) {
  const std::string old_line =
      "2026-12-01T10:00:00+01:00,2026-12-01T10:01:00+01:00,1,7,/dev/ttyUSB0,,,/u.bin,3000,,0,,"
      "60000,1.0,bench\r\n";
  std::ofstream(dir.path() / "runs-until-2026-12-02.csv")
      << "start,end,module,com,device,id_path,serial,file,size,sha256,result,cause,duration_ms,"
         "version,host\r\n"
      << old_line << old_line  // two equal lines: two records
      << "2026-12-01T11:00:00+01:00,2026-12-01T11:01:00+01:00,2,8,,,,/"
         "u.bin,,,3,gone,5,1.0,bench\r\n";
  append(0);
  append(1);
  start();
  ASSERT_TRUE(shipped(5));
  const std::string ids =
      sql("SELECT string_agg(run_id::text, ' ' ORDER BY shipped_at, run_id) "
          "FROM quillmark_runs WHERE host = 'bench'");
  EXPECT_EQ(ids.size(), 3 * 36 + 2);
  for (size_t at = 0; at < ids.size(); at += 37) {
    EXPECT_EQ(ids[at + 14], '8') << ids;                                   // version 8
    EXPECT_NE(std::string("89ab").find(ids[at + 19]), std::string::npos);  // variant 10
  }
  EXPECT_EQ(sql("SELECT count(*) FROM quillmark_runs WHERE host = 'bench' AND module = 1 "
                "AND \"end\" = '2026-12-01T10:01:00+01:00'"),
            "2");
  station::stop_shipping();
  sql("DELETE FROM quillmark_runs");
  fs::remove(dir.path() / station::kShipPositionFileName);
  start();
  ASSERT_TRUE(shipped(5));
  EXPECT_EQ(sql("SELECT string_agg(run_id::text, ' ' ORDER BY shipped_at, run_id) "
                "FROM quillmark_runs WHERE host = 'bench'"),
            ids);
}

TEST_F(LineRecordsTest, ARefusedLoginAnAbsentServerAndASilentOneAreToldAndTheBacklogWaits) {
  // A wrong password.
  const fs::path wrong = dir.path() / "wrong-pgpass";
  std::ofstream(wrong) << "*:*:*:*:not-the-password\n";
  fs::permissions(wrong, fs::perms::owner_read | fs::perms::owner_write);
  settings.database = server().conninfo(database) + " passfile=" + wrong.string();
  start();
  for (int n = 0; n < 3; ++n) append(n);
  EXPECT_TRUE(eventually([] {
    const station::ShippingStatus s = station::shipping_status();
    return s.waiting == 3 && s.last_failure.find("password authentication failed") == 0;
  })) << station::shipping_status().last_failure;
  EXPECT_FALSE(station::flush_shipping(60000));
  station::stop_shipping();

  // No server on the socket.
  testing_support::TempDir empty;
  settings.database = "host=" + empty.str() + " dbname=x user=quill";
  start();
  append(3);
  EXPECT_TRUE(eventually([] {
    const station::ShippingStatus s = station::shipping_status();
    return s.waiting == 4 && s.last_failure.find("could not connect: ") == 0;
  })) << station::shipping_status().last_failure;
  station::stop_shipping();

  // A server that stops answering in the middle.
  settings.database = conninfo();
  start();
  ASSERT_TRUE(shipped(4));
  server().pause();
  for (int n = 4; n < 7; ++n) append(n);
  EXPECT_TRUE(eventually([] {
    const station::ShippingStatus s = station::shipping_status();
    return s.waiting == 3 && s.last_failure == "the database did not answer within 2 s";
  })) << station::shipping_status().last_failure
      << " waiting " << station::shipping_status().waiting;
  append(7);
  station::stop_shipping();  // returns though the server says nothing
  server().resume();
  start();
  EXPECT_TRUE(shipped(8));
}

TEST_F(LineRecordsTest, AUserWhoMayNotCreateTablesShipsIntoTheTableThatIsThere) {
  const std::string user = database + "_ro";
  ASSERT_TRUE(server().create_limited_user(user, database));
  station::LineRecordSettings limited = settings;
  limited.database = conninfo(user);
  std::string report;
  EXPECT_FALSE(station::check_database(limited, 10000, &report));
  EXPECT_NE(report.find("may not create it"), std::string::npos) << report;

  start();  // as the owner: the table is made
  append(0);
  ASSERT_TRUE(shipped(1));
  station::stop_shipping();
  sql("GRANT SELECT, INSERT ON ALL TABLES IN SCHEMA public TO \"" + user + "\"");
  report.clear();
  EXPECT_TRUE(station::check_database(limited, 10000, &report)) << report;
  EXPECT_NE(report.find("may insert records"), std::string::npos) << report;
  std::string why;
  ASSERT_TRUE(station::start_shipping(limited, &why)) << why;
  append(1);
  ASSERT_TRUE(shipped(2));
  station::stop_shipping();

  // Columns of a later version: nothing is shipped there.
  sql("UPDATE quillmark_schema SET version = 2");
  start();
  append(2);
  EXPECT_TRUE(eventually([] {
    return station::shipping_status().last_failure.find("version 2") != std::string::npos;
  })) << station::shipping_status().last_failure;
  EXPECT_EQ(rows(), 2);
}

TEST(LineRecordSettingTest, PasswordsAndUnreadableSettingsAreRefused) {
  std::string why;
  EXPECT_TRUE(station::check_database_setting("", &why));
  EXPECT_TRUE(
      station::check_database_setting("postgresql://line@db.example/runs?sslmode=require", &why));
  for (const char* setting :
       {"host=db user=line password=secret", "postgresql://line:secret@db/runs"}) {
    EXPECT_FALSE(station::check_database_setting(setting, &why)) << setting;
    EXPECT_NE(why.find("~/.pgpass"), std::string::npos) << why;
    EXPECT_NE(why.find("PGPASSFILE"), std::string::npos) << why;
  }
  EXPECT_FALSE(station::check_database_setting("host='db", &why));
  EXPECT_NE(why.find("unterminated quoted string"), std::string::npos) << why;
  station::LineRecordSettings settings{"host=db password=x", ""};
  EXPECT_FALSE(station::start_shipping(settings, &why));
  EXPECT_FALSE(station::shipping_status().on);
  EXPECT_EQ(station::shipping_status().reason, why);
  station::stop_shipping();
}
