#include "station/runs_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace station {
namespace {

struct Seen {
  std::string start, file, run_id;
  int64_t begin, end, number;
};

// A file of the old columns followed by one of the new, a damaged line, a record with a line break
// in a quoted field and a record still being written, fed in pieces of every size: each whole
// record comes once with its offsets and number, by its own header's columns, and nothing past the
// last whole record is taken.
TEST(RunsReaderTest, RecordsByTheirHeaderWithOffsetsWhateverThePieces) {
  const std::string old_header = "start,end,module,result,file\r\n";
  const std::string a = "2026-12-01T10:00:00+01:00,2026-12-01T10:01:00+01:00,1,0,a.bin\r\n";
  const std::string header = run_header_line();
  std::string b = "2026-12-02T10:00:00+01:00,2026-12-02T10:01:00+01:00";
  for (size_t k = 2; k < kRunColumnCount; ++k) b += k == 7 ? ",\"two\nlines\"" : ",x";
  b += "\r\n";
  const std::string damaged = "\"cut by a crash\r\n";
  std::string c = "2026-12-03T10:00:00+01:00,2026-12-03T10:01:00+01:00";
  for (size_t k = 2; k < kRunColumnCount; ++k) c += k == 15 ? ",id-c" : k == 7 ? ",'=c.bin" : ",y";
  c += "\r\n";
  const std::string partial = "2026-12-04T10:00:00+01:00,\"being";
  const std::string text = old_header + a + header + damaged + b + c + partial;

  for (size_t piece : {size_t{1}, size_t{7}, text.size()}) {
    std::vector<Seen> seen;
    std::vector<std::pair<int64_t, int64_t>> skipped;
    RunsReader reader(
        [&](const RunsRecord& r) {
          seen.push_back({std::string(r.field(RunColumn::start)),
                          std::string(r.field(RunColumn::file)),
                          std::string(r.field(RunColumn::run_id)), r.begin, r.end, r.number});
        },
        [&](int64_t begin, int64_t end) { skipped.emplace_back(begin, end); });
    for (size_t at = 0; at < text.size(); at += piece) reader.feed(text.substr(at, piece));
    reader.finish(false);

    ASSERT_EQ(seen.size(), 3u) << "pieces of " << piece;
    EXPECT_EQ(seen[0].file, "a.bin");
    EXPECT_EQ(seen[0].run_id, "");  // the old file has no such column
    EXPECT_EQ(seen[0].begin, static_cast<int64_t>(old_header.size()));
    EXPECT_EQ(seen[1].file, "two\nlines");
    EXPECT_EQ(seen[2].file, "=c.bin");  // the spreadsheet guard is removed
    EXPECT_EQ(seen[2].run_id, "id-c");
    EXPECT_EQ(seen[2].number, 3);
    const int64_t c_end = static_cast<int64_t>(text.size() - partial.size());
    EXPECT_EQ(seen[2].end, c_end);
    EXPECT_EQ(seen[1].begin + static_cast<int64_t>(b.size()), seen[2].begin);
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(skipped[0].second - skipped[0].first, static_cast<int64_t>(damaged.size()));
    EXPECT_EQ(reader.consumed(), c_end);  // the record being written is left for later

    // Read on from where it stopped, as a later pass does: the finished record comes next.
    std::vector<std::string> later;
    RunsReader next([&](const RunsRecord& r) { later.emplace_back(r.field(RunColumn::start)); }, {},
                    reader.consumed(), reader.records(), reader.columns());
    next.feed(partial + " written\"" + c.substr(c.find(',', 30)));
    next.finish(false);
    ASSERT_EQ(later.size(), 1u);
    EXPECT_EQ(later[0], "2026-12-04T10:00:00+01:00");
    EXPECT_EQ(next.records(), 4);
  }
}

}  // namespace
}  // namespace station
