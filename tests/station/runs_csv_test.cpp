// The text of runs.csv as other programs read it: a strict RFC 4180 reader after crashes cut
// records anywhere, and spreadsheets that would run a field as a formula.
#include "station/runs_csv.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/virtual_clock.h"
#include "station/day_totals.h"
#include "station/run_record.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using Records = std::vector<std::vector<std::string>>;

namespace {

// The records of `text` as a strict RFC 4180 reader reads them: CR LF between records, a field in
// double quotes may hold anything with its quotes doubled, any other field holds neither a quote, a
// CR nor an LF, and a closing quote is followed by a comma or a record's end. None, with `error`
// set to the offset, when the text breaks a rule.
std::optional<Records> read_strictly(const std::string& text, size_t* error) {
  Records records;
  size_t at = 0;
  auto broken = [&](size_t where) {
    *error = where;
    return std::nullopt;
  };
  while (at < text.size()) {
    std::vector<std::string> record;
    for (;;) {
      std::string field;
      if (text[at] == '"') {
        for (++at;; ++at) {
          if (at == text.size()) return broken(at);  // the quotes never close
          if (text[at] != '"') {
            field += text[at];
          } else if (at + 1 < text.size() && text[at + 1] == '"') {
            field += text[at++];
          } else {
            ++at;
            break;
          }
        }
      } else {
        while (at < text.size() && text[at] != ',' && text[at] != '\r') {
          if (text[at] == '"' || text[at] == '\n') return broken(at);
          field += text[at++];
        }
      }
      record.push_back(field);
      if (at < text.size() && text[at] == ',') {
        ++at;
        continue;
      }
      if (at == text.size() || text.compare(at, 2, "\r\n") == 0) break;
      return broken(at);
    }
    records.push_back(record);
    at += 2;
  }
  return records;
}

engine::RunRecord record(int module, const std::string& file, const std::string& cause) {
  engine::RunRecord r;
  r.start.tm_year = 126;
  r.start.tm_mon = 11;
  r.start.tm_mday = 9;
  r.start.tm_isdst = -1;
  r.end = r.start;
  r.module = module;
  r.com = module + 4;
  r.port = {"/dev/ttyUSB" + std::to_string(module), "-pci-0000:00:14.0", "=1+2"};
  r.file = file;
  r.result = module == 2 ? std::optional<int>() : 13;
  r.cause = cause;
  return r;
}

// The fields of a record's line as a strict reader reads them.
std::vector<std::string> strict_fields(const engine::RunRecord& r) {
  size_t error = 0;
  std::optional<Records> records = read_strictly(station::run_record_line(r), &error);
  EXPECT_TRUE(records && records->size() == 1);
  return records ? records->front() : std::vector<std::string>{};
}

void append(const fs::path& path, const engine::RunRecord& r) {
  std::string why;
  ASSERT_TRUE(station::append_run_record(path.string(), station::run_record_line(r), &why)) << why;
}

std::string text_of(const fs::path& path) {
  return testing_support::read_file(path);
}

}  // namespace

TEST(RunsCsvTest, ARecordCutAnywhereLeavesEveryLaterRecordWholeForAStrictReader) {
  testing_support::TempDir dir;
  const fs::path runs = dir.path() / "runs.csv";
  // A path with a comma, quotes, a line break and a quote after it: counting the quotes from the
  // last line end would find them balanced where they are not.
  const engine::RunRecord cut =
      record(1, "/lot 7, \"north\"\r\n\"\"bench/a.bin", "AT+CFSINIT failed!");
  const engine::RunRecord later[] = {record(2, "/b.bin", "OpenATPort Failed!: gone"),
                                     record(3, "/c\r\nd.bin", "-x \"y\"")};
  append(runs, record(4, "/first.bin", ""));
  const std::string whole = text_of(runs);
  const std::string line = station::run_record_line(cut);

  for (size_t kept = 1; kept < line.size(); ++kept) {
    SCOPED_TRACE("record cut after " + std::to_string(kept) + " bytes: " + line.substr(0, kept));
    std::ofstream(runs, std::ios::binary | std::ios::trunc) << whole << line.substr(0, kept);
    for (const engine::RunRecord& r : later) append(runs, r);

    const std::string text = text_of(runs);
    EXPECT_EQ(text.rfind(whole + line.substr(0, kept), 0), 0u) << "what was there is kept";
    size_t error = 0;
    const std::optional<Records> records = read_strictly(text, &error);
    ASSERT_TRUE(records) << "not RFC 4180 at byte " << error << ":\n" << text.substr(error);
    ASSERT_EQ(records->size(), 5u);
    EXPECT_EQ((*records)[0], std::vector<std::string>(station::kRunColumnNames.begin(),
                                                      station::kRunColumnNames.end()));
    EXPECT_EQ((*records)[1], strict_fields(record(4, "/first.bin", "")));
    EXPECT_EQ((*records)[3], strict_fields(later[0]));
    EXPECT_EQ((*records)[4], strict_fields(later[1]));
  }
  // Whole, the record needs nothing.
  std::ofstream(runs, std::ios::binary | std::ios::trunc) << whole << line;
  append(runs, later[0]);
  EXPECT_EQ(text_of(runs), whole + line + station::run_record_line(later[0]));
}

TEST(RunsCsvTest, TheRepairReadsBackInBlocksAndStopsAtItsReach) {
  auto repair = [](const std::string& text, int64_t reach = station::kRepairReach) {
    int reads = 0;
    std::string out = station::cut_end_repair(
        static_cast<int64_t>(text.size()),
        [&](int64_t at, char* to, size_t n) {
          ++reads;
          EXPECT_LE(n, station::kRepairBlock);
          text.copy(to, n, static_cast<size_t>(at));
          return true;
        },
        reach);
    return std::make_pair(out, reads);
  };
  const std::string head = station::run_header_line();
  const std::string start = "2026-12-09T14:03:07+01:00,2026-12-09T14:03:08-05:30,";
  // A quoted field of 10 000 bytes with line breaks, cut inside: its record starts three blocks
  // back.
  const std::string open =
      start + "1,5,\"" + std::string(5000, 'x') + "\r\n\"\"" + std::string(5000, 'y') + "\r\n";
  const auto [closed, reads] = repair(head + start + "1,5,,,,,,,,,,\r\n" + open);
  EXPECT_EQ(closed, "\"\r\n");
  EXPECT_EQ(reads, 3);
  EXPECT_EQ(repair(head + open + "\"").first, "\r\n");  // closed, without its line end
  EXPECT_EQ(repair(head + start + "1,5,\"a\r").first, "\"\r\n");
  EXPECT_EQ(repair(head + start + "1,5,a\r").first, "\n");
  EXPECT_EQ(repair("").first, "");
  EXPECT_EQ(repair("start,end,\"mod").first, "\"\r\n");  // the header itself, cut

  // No record starts within the reach: the quotes count from the first line that starts there, or
  // from the reach when no line does.
  const std::string foreign = head + start + "1,5,\"" + std::string(200, 'z') + "\"";
  EXPECT_EQ(repair(foreign + "\nb\"c", 64).first, "\"\r\n");
  EXPECT_EQ(repair(foreign + "\nb\"\"c", 64).first, "\r\n");
  EXPECT_EQ(repair(foreign + std::string(30, 'q'), 64).first, "\"\r\n");
  EXPECT_EQ(repair(foreign + std::string(30, 'q')).first, "\r\n");  // found: from its start
}

TEST(RunsCsvTest, FieldsThatASpreadsheetWouldRunAreGuardedAndReadBackExactly) {
  testing_support::TempDir dir;
  const fs::path runs = dir.path() / "runs.csv";
  platform::VirtualClock clock(1765290000);
  platform::ScopedClock use_clock(clock);
  const std::string texts[] = {
      "=HYPERLINK(\"x\")", "+49 30",  "-pci", "@SUM(A1)", "\tTAB", "\rCR",
      "'quoted",           "''twice", "'x",   "a=b",      "",      "plain"};
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    engine::RunRecord r = record(1, text, text);
    r.port = {text, text, text};
    r.end = clock.local_time();
    r.result = 0;
    const std::vector<std::string> raw = strict_fields(r);
    std::vector<std::string> read;
    size_t count = 0;
    const std::string line = station::run_record_line(r);
    ASSERT_TRUE(station::split_csv_record(line.substr(0, line.size() - 2), read, count));
    ASSERT_EQ(count, station::kRunColumnCount);
    const bool guarded =
        !text.empty() && std::string("=+-@\t\r'").find(text[0]) != std::string::npos;
    for (station::RunColumn column :
         {station::RunColumn::device, station::RunColumn::id_path, station::RunColumn::serial,
          station::RunColumn::file, station::RunColumn::cause}) {
      const size_t k = static_cast<size_t>(column);
      EXPECT_EQ(raw[k], (guarded ? "'" : "") + text) << station::kRunColumnNames[k];
      EXPECT_EQ(read[k], text) << station::kRunColumnNames[k];
    }
    append(runs, r);
  }
  // A field from elsewhere that begins with ' and then text is read as it is.
  EXPECT_EQ(station::spreadsheet_text("'abc"), "'abc");
  EXPECT_EQ(station::spreadsheet_text("'-1"), "-1");
  // The day's totals read the guarded records as records.
  station::DayTotals totals;
  ASSERT_TRUE(totals.count_file(runs.string()));
  EXPECT_EQ(totals.passed(), static_cast<int>(std::size(texts)));
}
