#include "engine/at_log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "platform/virtual_clock.h"
#include "tests/support/temp_dir.h"

using testing_support::read_file;

namespace {

const std::string kSent = "\xB7\xA2\xB3\xF6: ";
const std::string kReceived = "\xCA\xD5\xB5\xBD: ";

// 18 June 2021, 14:03:07 in the time zone UTC-8.
class AtLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    ::_putenv_s("TZ", "CST-8");
    ::_tzset();
#else
    ::setenv("TZ", "CST-8", 1);
    ::tzset();
#endif
    slot.index = 0;
    std::filesystem::remove(engine::at_log_path(slot));
  }
  std::string log() {
    return read_file(engine::at_log_path(slot));
  }

  platform::VirtualClock clock{1624024987 - 8 * 3600};
  platform::ScopedClock use_clock{clock};
  engine::ModuleSlot slot;
};

}  // namespace

TEST_F(AtLogTest, RecordsAreStampsPrefixTextAndCrLf) {
  engine::write_at_log(slot, engine::Direction::sent, "AT\r\n");
  engine::write_at_log(slot, engine::Direction::received, "\r\nOK\r\n");
  EXPECT_EQ(log(), "06/18/2021 14:03:07 " + kSent + "AT\r\n\r\n" + "06/18/2021 14:03:07 " +
                       kReceived + "\r\nOK\r\n\r\n");
}

TEST_F(AtLogTest, OneFinalCarriageReturnIsDropped) {
  engine::write_at_log(slot, engine::Direction::sent, "AT\r\r");
  clock.advance_ms(61 * 1000);
  engine::write_at_log(slot, engine::Direction::sent, "\r");
  EXPECT_EQ(log(), "06/18/2021 14:03:07 " + kSent + "AT\r\r\n" +  //
                       "06/18/2021 14:04:08 " + kSent + "\r\n");
}

TEST_F(AtLogTest, EmptyTextWritesNothingAndRecordsAreAppended) {
  { std::ofstream(engine::at_log_path(slot), std::ios::binary) << "earlier\r\n"; }
  engine::write_at_log(slot, engine::Direction::sent, "");
  engine::write_at_log(slot, engine::Direction::received, "x");
  EXPECT_EQ(log(), "earlier\r\n06/18/2021 14:03:07 " + kReceived + "x\r\n");
}

TEST_F(AtLogTest, EachModuleLogsToItsOwnFile) {
  slot.index = 5;
  EXPECT_EQ(std::filesystem::path(engine::at_log_path(slot)).filename(), "AtLog_6.ini");
  EXPECT_EQ(engine::at_log_path(slot).substr(0, engine::at_log_directory().size()),
            engine::at_log_directory());
  EXPECT_EQ(engine::at_log_directory().back(), '/');
  // The folder is fixed once chosen.
  EXPECT_FALSE(engine::set_at_log_directory("/elsewhere"));
}
