#include "engine/serial_link.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine/at_log.h"
#include "platform/com_ports.h"
#include "tests/engine/exchange_fixture.h"
#include "tests/support/temp_dir.h"

using engine::ReplyBuffer;
using testing_support::read_file;
using testing_support::ScriptedModule;

namespace {

// Puts a fresh in-memory module behind every COM number and counts the openings.
class OpenerFixture : public ExchangeFixture {
 protected:
  void SetUp() override {
    ExchangeFixture::SetUp();
    std::filesystem::remove(engine::at_log_path(slot));
    platform::set_port_opener([this](unsigned n, std::string* why) {
      ++openings;
      last_number = n;
      if (refuse) {
        *why = "refused";
        return std::shared_ptr<ScriptedModule>();
      }
      module = std::make_shared<ScriptedModule>();
      module->configure_result = configure_result;
      return module;
    });
  }
  void TearDown() override { platform::set_port_opener({}); }

  std::string log() { return read_file(engine::at_log_path(slot)); }

  int openings = 0;
  unsigned last_number = 0;
  bool refuse = false;
  bool configure_result = true;
};

}  // namespace

TEST_F(OpenerFixture, OpenATPortOpensOnceAndReportsOpenEvenWhenConfiguringFails) {
  slot.atPort = 12;
  configure_result = false;
  EXPECT_EQ(engine::OpenATPort(slot), 1);
  EXPECT_EQ(last_number, 12u);
  EXPECT_TRUE(slot.hAT.is_open());
  EXPECT_EQ(engine::OpenATPort(slot), 1);
  EXPECT_EQ(openings, 1);
}

TEST_F(OpenerFixture, PortsThatDoNotOpenLeaveTheHandleInvalid) {
  slot.atPort = 0;
  EXPECT_EQ(engine::OpenATPort(slot), 0);
  EXPECT_EQ(openings, 0);

  slot.atPort = 3;
  refuse = true;
  EXPECT_EQ(engine::OpenATPort(slot), 0);
  EXPECT_FALSE(slot.hAT.is_open());
  EXPECT_EQ(debug.count("OpenATPort: refused"), 1);
}

TEST_F(OpenerFixture, EveryOperationGivesItsNotOpenValueOnceClosed) {
  slot.atPort = 1;
  ASSERT_EQ(engine::OpenATPort(slot), 1);
  auto port = module;
  EXPECT_EQ(engine::close_at_port(slot), 1);
  EXPECT_TRUE(port->is_closed());
  EXPECT_EQ(engine::close_at_port(slot), 0);

  ReplyBuffer reply{};
  EXPECT_EQ(engine::read_port(slot, reply), -1);
  EXPECT_EQ(engine::write_port(slot, "AT\r\n", 4), -1);
  EXPECT_EQ(engine::purge_port(slot, 0), 0);
  EXPECT_EQ(engine::clear_port_errors(slot), 0);
  EXPECT_EQ(engine::configure_port(slot), 0);
  EXPECT_TRUE(port->written().empty());
  EXPECT_EQ(log(), "");
}

TEST_F(OpenerFixture, EmptyReadsAndWritesLogNothing) {
  slot.atPort = 1;
  ASSERT_EQ(engine::OpenATPort(slot), 1);
  ReplyBuffer reply{};
  EXPECT_EQ(engine::read_port(slot, reply), 0);
  EXPECT_EQ(engine::write_port(slot, "", 0), 0);
  EXPECT_TRUE(module->written().empty());
  EXPECT_EQ(log().find("AT"), std::string::npos);
}

TEST_F(OpenerFixture, BlocksAreLoggedUpToTheirFirstNulAndSentWhole) {
  slot.atPort = 1;
  ASSERT_EQ(engine::OpenATPort(slot), 1);
  std::string log_at_write;
  module = nullptr;
  auto port = std::dynamic_pointer_cast<ScriptedModule>(slot.hAT.get());
  std::string block("AB\0CD", 5);
  EXPECT_EQ(engine::write_port(slot, block.data(), 5), 5);
  EXPECT_EQ(port->written(), std::vector<std::string>{block});
  std::string text = log();
  EXPECT_NE(text.find("AB\r\n"), std::string::npos);
  EXPECT_EQ(text.find("CD"), std::string::npos);

  port->reply(std::string("\r\nOK\0junk", 9));
  ReplyBuffer reply{};
  EXPECT_EQ(engine::read_port(slot, reply), 9);
  text = log();
  EXPECT_NE(text.find("\r\nOK\r\n"), std::string::npos);
  EXPECT_EQ(text.find("junk"), std::string::npos);
}

TEST_F(OpenerFixture, TheSentBlockIsLoggedBeforeItIsWritten) {
  slot.atPort = 1;
  ASSERT_EQ(engine::OpenATPort(slot), 1);
  std::string seen;
  auto port =
      std::make_shared<ScriptedModule>([&](ScriptedModule&, std::string_view) { seen = log(); });
  slot.hAT.reset(port);
  engine::write_port(slot, "AT\r\n", 4);
  EXPECT_NE(seen.find("AT\r\n"), std::string::npos);
}
