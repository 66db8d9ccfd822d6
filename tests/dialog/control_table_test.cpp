// The control table of the dialog template and the arithmetic of the progress notices.
#include "dialog/control_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "dialog/progress_percent.h"

namespace {

TEST(ProgressPercent, ExactIntegerPercentages) {
  EXPECT_EQ(dialog::progress_percent(53, 100), 53);
  EXPECT_EQ(dialog::progress_percent(59, 100), 59);
  EXPECT_EQ(dialog::progress_percent(29, 100), 29);
  EXPECT_EQ(dialog::progress_percent(512, 1024), 50);
  EXPECT_EQ(dialog::progress_percent(1023, 1024), 99);
  EXPECT_EQ(dialog::progress_percent(1024, 1024), 100);
  EXPECT_EQ(dialog::progress_percent(0, 100), 0);
  EXPECT_EQ(dialog::progress_percent(5000, 100), 100);
  // A count whose product with 100 does not fit 64 bits.
  EXPECT_EQ(dialog::progress_percent(uint64_t{1} << 62, INT64_MAX), 50);
  EXPECT_EQ(dialog::progress_percent(UINT64_MAX, 100), 100);
  EXPECT_EQ(dialog::progress_percent(5, 0), std::nullopt);
  EXPECT_EQ(dialog::progress_percent(5, -100), std::nullopt);
}

TEST(ControlTable, NumbersAndNamesAreUnique) {
  std::set<int> ids;
  std::set<std::string> names;
  int numbered = 0;
  for (const dialog::ControlEntry& entry : dialog::control_table()) {
    if (entry.id != dialog::kStaticId) {
      ++numbered;
      EXPECT_TRUE(ids.insert(entry.id).second) << entry.id;
      ASSERT_TRUE(dialog::find_control(entry.id).has_value());
      EXPECT_EQ(dialog::find_control(entry.id)->role, entry.role);
    }
    EXPECT_TRUE(names.insert(dialog::object_name(entry)).second) << dialog::object_name(entry);
  }
  EXPECT_EQ(numbered, 6 * 6 + 8);
  EXPECT_EQ(dialog::object_name(dialog::ControlRole::at_port_list, 2), "module3_at_port_list");
  EXPECT_FALSE(dialog::find_control(1050).has_value());
}

}  // namespace
