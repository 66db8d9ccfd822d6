// A runs file's record as a row of the line's table: what the table would refuse becomes NULL or is
// mended, and the ids of records without one are the same at every reading.
#include "station/line_row.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "station/line_database.h"
#include "station/ship_position.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(LineRowTest, ValuesTheTableWouldRefuseAreFoundAndDerivedIdsAreStableAndDistinct) {
  EXPECT_TRUE(station::is_record_time("2028-02-29T23:59:59+14:00"));
  EXPECT_TRUE(station::is_record_time("2026-12-09T14:03:07.250Z"));
  for (const char* time : {"2026-02-29T10:00:00+01:00", "2026-04-31T10:00:00+01:00",
                           "0000-01-01T10:00:00+01:00", "2026-12-09T24:00:00+01:00",
                           "2026-12-09T10:00:00", "2026-12-09T10:00:00+16:00", "2026-12-09"})
    EXPECT_FALSE(station::is_record_time(time)) << time;

  const int64_t low = std::numeric_limits<int32_t>::min(),
                high = std::numeric_limits<int32_t>::max();
  EXPECT_TRUE(station::is_integer("-2147483648", low, high));
  EXPECT_FALSE(station::is_integer("2147483648", low, high));
  EXPECT_TRUE(station::is_integer("-9223372036854775808", std::numeric_limits<int64_t>::min(),
                                  std::numeric_limits<int64_t>::max()));
  for (const char* number : {"", "-", "1.5", "12x", " 1", "99999999999999999999"})
    EXPECT_FALSE(station::is_integer(number, low, high)) << number;

  EXPECT_EQ(station::valid_utf8("Modul \xC3\xA4 \xE2\x82\xAC"), "Modul \xC3\xA4 \xE2\x82\xAC");
  EXPECT_EQ(station::valid_utf8(std::string("a\0b\xFF\xC3", 5)),
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(station::valid_utf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");

  const std::string id = station::derived_run_id(1, "a,b");
  EXPECT_TRUE(station::is_uuid(id)) << id;
  EXPECT_EQ(id[14], '8');
  EXPECT_NE(std::string("89ab").find(id[19]), std::string::npos) << id;
  EXPECT_EQ(station::derived_run_id(1, "a,b"), id);
  EXPECT_NE(station::derived_run_id(2, "a,b"), id);  // an equal line further down
  EXPECT_NE(station::derived_run_id(1, "a,c"), id);

  const std::optional<std::string> quoted = "a \"b\" \\c,{d}", none;
  EXPECT_EQ(station::array_literal({&quoted, &none}), R"({"a \"b\" \\c,{d}",NULL})");
}

TEST(ShipPositionTest, PositionsReadBackAndADamagedFileIsToldAsSuch) {
  testing_support::TempDir dir;
  const std::string path = station::ship_position_path((dir.path() / "runs.csv").string());
  EXPECT_EQ(path, (dir.path() / "runs.position").string());
  station::ShipPositions positions, read;
  std::string why;
  EXPECT_FALSE(station::read_ship_positions(path, &read, &why));
  EXPECT_EQ(why, "no position file");
  positions["runs.csv"] = {5000, 4700, 17, "6a1e0f7e-2b8d-4c1e-9a57-0c1d2e3f4a5b"};
  positions["runs-until-2026-12-01.csv"] = {300, 200, 2, "x"};
  ASSERT_TRUE(station::write_ship_positions(path, positions, &why)) << why;
  ASSERT_TRUE(station::read_ship_positions(path, &read, &why)) << why;
  EXPECT_EQ(read.size(), 2u);
  EXPECT_EQ(read["runs.csv"].offset, 5000);
  EXPECT_EQ(read["runs.csv"].start, 4700);
  EXPECT_EQ(read["runs.csv"].number, 17);
  EXPECT_EQ(read["runs-until-2026-12-01.csv"].run_id, "x");
  for (const char* damaged : {"quillmark-position 1\nruns.csv\t10\t20\t1\tx\n",
                              "quillmark-position 1\nruns.csv\t10\n", "something else\n"}) {
    FILE* file = std::fopen(path.c_str(), "wb");
    std::fputs(damaged, file);
    std::fclose(file);
    EXPECT_FALSE(station::read_ship_positions(path, &read, &why)) << damaged;
    EXPECT_EQ(why, "the position file is damaged");
    EXPECT_TRUE(read.empty());
  }
}

}  // namespace
