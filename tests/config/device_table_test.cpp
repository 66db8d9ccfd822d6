// The device table file: line grammar, number rules and bounds.
#include "config/device_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "tests/support/debug_capture.h"
#include "tests/support/temp_dir.h"

using config::device_table;
using config::DeviceRecord;

namespace {

std::string text_of(const std::array<char, config::kDeviceTextSize>& field) {
  EXPECT_EQ(field.back(), '\0');
  return field.data();
}

bool is_zero(const DeviceRecord& r) {
  DeviceRecord zero;
  return std::memcmp(&r, &zero, sizeof r) == 0;
}

class DeviceTableTest : public ::testing::Test {
 protected:
  // Writes the file and loads it as a settings load does.
  int load(const std::string& content) {
    std::ofstream(bench.path() / "ZEBL.cfg", std::ios::binary) << content;
    return config::read_cfgini_file();
  }
  const DeviceRecord& record(int i) { return device_table().devices.at(static_cast<size_t>(i)); }

  testing_support::TempDir bench;
  testing_support::ScopedWorkingDirectory cwd{bench.path()};
};

}  // namespace

TEST_F(DeviceTableTest, FieldsEndAtCommasOrSemicolonsAndTextAfterTheLastIsIgnored) {
  testing_support::DebugCapture debug;
  ASSERT_EQ(load("A1,5,B2,1F,2e,\r\nA1,5,B2,1F,2e\nN;-7x;L,0x1F;1 F,ab;cd;ef;\n a ,  ,b ;"), 1);
  EXPECT_EQ(debug.count("read_cfgini_file() read success."), 1);
  ASSERT_EQ(device_table().deviceCount, 4);
  EXPECT_EQ(text_of(record(0).deviceName), "A1");
  EXPECT_EQ(record(0).deviceNumber, 5);
  EXPECT_EQ(text_of(record(0).deviceLabel), "B2");
  EXPECT_EQ(record(0).valuesA[0], 0x1Fu);
  EXPECT_EQ(record(0).valuesB[0], 0x2Eu);
  EXPECT_EQ(record(1).valuesA[0], 0x1Fu);
  EXPECT_EQ(record(1).valuesB[0], 0u);
  EXPECT_EQ(record(2).deviceNumber, -7);
  EXPECT_EQ(record(2).valuesA[0], 0u);  // 0x: the x stops the scan after the 0
  EXPECT_EQ(record(2).valuesB[0], 0x1Fu);
  EXPECT_EQ(record(2).valuesA[1], 0xABu);
  EXPECT_EQ(record(2).valuesB[1], 0xCDu);
  EXPECT_EQ(record(2).valuesA[2], 0xEFu);
  EXPECT_EQ(text_of(record(3).deviceName), " a ");  // fields are not trimmed
  EXPECT_EQ(text_of(record(3).deviceLabel), "b ");
  EXPECT_EQ(record(3).deviceNumber, 0);
}

TEST_F(DeviceTableTest, EveryLineTakesItsRecordSoRecordsKeepTheirLineNumbers) {
  ASSERT_EQ(load("first,1,\n\nno separators here\r\n\r\nfifth,5,\n"), 1);
  ASSERT_EQ(device_table().deviceCount, 5);
  EXPECT_TRUE(is_zero(record(1)));
  EXPECT_TRUE(is_zero(record(2)));
  EXPECT_TRUE(is_zero(record(3)));
  EXPECT_EQ(text_of(record(4).deviceName), "fifth");
  EXPECT_EQ(record(4).deviceNumber, 5);
}

TEST_F(DeviceTableTest, NothingIsWrittenBeyondARecordOrAFieldWhateverTheFileHolds) {
  std::string wide =
      std::string(30, 'N') + "," + std::string(40, '9') + "," + std::string(100000, 'L') + ",";
  for (int i = 0; i < 30; ++i) wide += "FFFFFFFFFFFF,";
  std::string content;
  for (int line = 0; line < 25; ++line) content += wide + "\n";
  testing_support::DebugCapture debug;
  for (int load_number = 0; load_number < 3; ++load_number) {
    ASSERT_EQ(load(content), 1);
    ASSERT_EQ(device_table().deviceCount, config::kMaxDeviceRecords);
  }
  const DeviceRecord& last = record(config::kMaxDeviceRecords - 1);
  EXPECT_EQ(text_of(last.deviceName), std::string(11, 'N'));
  EXPECT_EQ(text_of(last.deviceLabel), std::string(11, 'L'));
  EXPECT_EQ(last.deviceNumber, 2147483647);  // the first 10 digits, saturated
  EXPECT_EQ(last.valuesA[9], 0xFFFFFFFFu);   // eight significant digits, then the scan stops
  EXPECT_EQ(last.valuesB[9], 0xFFFFFFFFu);
  EXPECT_EQ(debug.count("read_cfgini_file() beyond the table's bounds: 5 lines after record 20 "
                        "dropped, 660 fields ignored or cut."),
            3);
}

TEST_F(DeviceTableTest, EachLoadRebuildsTheTableAndAMissingFileKeepsIt) {
  ASSERT_EQ(load("a,1,\nb,2,\nc,3,\n"), 1);
  ASSERT_EQ(load("a,1,\nb,2,\nc,3,\n"), 1);
  EXPECT_EQ(device_table().deviceCount, 3);
  ASSERT_EQ(load("z,9,"), 1);
  EXPECT_EQ(device_table().deviceCount, 1);
  EXPECT_TRUE(is_zero(record(1)));

  std::filesystem::remove(bench.path() / "ZEBL.cfg");
  testing_support::DebugCapture debug;
  EXPECT_EQ(config::read_cfgini_file(), 0);
  EXPECT_EQ(debug.count("read_cfgini_file() read failed."), 1);
  EXPECT_EQ(device_table().deviceCount, 1);
  EXPECT_EQ(text_of(record(0).deviceName), "z");
  std::filesystem::create_directory(bench.path() / "ZEBL.cfg");
  EXPECT_EQ(config::read_cfgini_file(), 0);
}

TEST(ParseHexTest, DigitsBlanksAndWhereTheScanStops) {
  const struct {
    const char* text;
    int result;
    uint32_t value;
  } cases[] = {{"1F", 1, 0x1F},       {"2e", 1, 0x2E},      {"1 F", 1, 0x1F},
               {"0x1F", 0, 0},        {"FFFFFFFF", 1, ~0u}, {"123456789", 0, 0x12345678},
               {"000000001F", 1, 31}, {"", 0, 0xDEAD},      {"G1", 0, 0xDEAD},
               {" ", 0, 0},           {"12G", 0, 0x12}};
  for (const auto& c : cases) {
    uint32_t value = 0xDEAD;
    EXPECT_EQ(config::parse_hex(c.text, &value), c.result) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
}
