#include "engine/module_identity.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/engine/exchange_fixture.h"

using testing_support::ScriptedModule;

class IdentityTest : public ExchangeFixture {
 protected:
  bool traced(const std::string& text) const {
    for (const std::string& w : debug.writes())
      if (w.find(text) != std::string::npos) return true;
    return false;
  }
};

// The answers are read whole however they arrive, with or without their tags; what is not an
// answer is never taken for one.
TEST_F(IdentityTest, AnswersAreReadWholeAndOnlyAnswersAreKept) {
  attach([](ScriptedModule& m, std::string_view block) {
    if (block == "AT+CGSN\r\n") {
      m.reply("\r\n3569380356");
      m.reply("43809\r\n\r\nOK\r\n", 60);  // in the next poll's read
    }
    if (block == "AT+CGMR\r\n") m.reply("\r\n+CGMR: \"R1.0 build 7\"\r\n\r\nOK\r\n");
  });
  engine::ModuleIdentity identity = engine::ask_identity(slot);
  EXPECT_EQ(module->written(), (std::vector<std::string>{"AT+CGSN\r\n", "AT+CGMR\r\n"}));
  EXPECT_EQ(identity.imei, "356938035643809");
  EXPECT_EQ(identity.revision, "R1.0 build 7");
  EXPECT_EQ(engine::identity_text(identity), "IMEI 356938035643809, revision R1.0 build 7");

  EXPECT_EQ(engine::imei_from_reply("AT+CGSN\r\n+CGSN: 356938035643809\r\nOK\r\n"),
            "356938035643809");
  EXPECT_EQ(engine::imei_from_reply("\r\nNOT AN IMEI\r\n\r\nOK\r\n"), "");
  EXPECT_EQ(engine::imei_from_reply("\r\n12345\r\n\r\nOK\r\n"), "");
  EXPECT_EQ(engine::revision_from_reply("AT+CGMR\r\n\r\nOK\r\n"), "");
  EXPECT_EQ(engine::revision_from_reply("\r\nR1\x1b[2J\r\n\r\nOK\r\n"), "");
  EXPECT_EQ(engine::revision_from_reply("\r\n" + std::string(65, 'R') + "\r\n\r\nOK\r\n"), "");
  EXPECT_EQ(engine::identity_text({}), "");
  EXPECT_EQ(engine::identity_text({"", "R2"}), "IMEI ?, revision R2");
}

// ERROR, an error code or silence leave the field empty; a text that only resembles OK inside a
// line does not end the answer.
TEST_F(IdentityTest, ErrorOrSilenceLeavesTheFieldsEmpty) {
  attach([](ScriptedModule& m, std::string_view block) {
    if (block == "AT+CGSN\r\n") m.reply("\r\n356938035643809\r\n\r\nERROR\r\n");
  });
  EXPECT_EQ(engine::ask_identity(slot).imei, "");
  EXPECT_EQ(engine::ask_identity(slot).revision, "");

  attach([](ScriptedModule& m, std::string_view block) {
    if (block == "AT+CGSN\r\n") m.reply("\r\n+CME ERROR: 10\r\n");
    if (block == "AT+CGMR\r\n") m.reply("\r\nBOOK\r\n");  // never followed by OK
  });
  const engine::ModuleIdentity identity = engine::ask_identity(slot);
  EXPECT_EQ(identity.imei, "");
  EXPECT_EQ(identity.revision, "");
  EXPECT_TRUE(traced("AT+CGSN: ERROR"));
  EXPECT_TRUE(traced("AT+CGMR: no answer"));

  slot.hAT.reset();  // no port: nothing is asked
  EXPECT_EQ(engine::identity_text(engine::ask_identity(slot)), "");
}
