#include "engine/at_exchange.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/engine/exchange_fixture.h"

using engine::ReplyBuffer;
using testing_support::ScriptedModule;

namespace {

// Answers "OK" to the n-th "AT" and later ones, and `ate0_answer` to every "ATE0".
ScriptedModule::Responder module_answering_at_from(int n, std::string ate0_answer = kOk) {
  auto count = std::make_shared<int>(0);
  return [=](ScriptedModule& m, std::string_view block) {
    if (block == "AT\r\n" && ++*count >= n) m.reply(kOk);
    if (block == "ATE0\r\n") m.reply(ate0_answer);
  };
}

std::vector<std::string> repeated(const std::string& s, int n) {
  return std::vector(n, s);
}

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

class HandshakeTest : public ExchangeFixture {};

// One AT exchange that fails costs 20 ms and ten polls of 50 ms; a good one 20 ms. A good ATE0
// costs 20 + 300 ms; a failed one 20 + 300 + 50 × 50 ms and 300 ms before the next attempt.
TEST_F(HandshakeTest, ModuleAnsweringAtOnceTakes340Ms) {
  attach(module_answering_at_from(1));
  EXPECT_EQ(engine::at_handshake(slot), engine::DL_OK);
  EXPECT_EQ(module->written(), (std::vector<std::string>{"AT\r\n", "ATE0\r\n"}));
  EXPECT_EQ(elapsed(), 340);
  EXPECT_TRUE(window.messages().empty());
}

TEST_F(HandshakeTest, OkOnTheThirdAtThenAte0) {
  attach(module_answering_at_from(3));
  EXPECT_EQ(engine::at_handshake(slot), engine::DL_OK);
  EXPECT_EQ(module->written(), concat(repeated("AT\r\n", 3), {"ATE0\r\n"}));
  EXPECT_EQ(elapsed(), 2 * 520 + 20 + 320);
}

TEST_F(HandshakeTest, OkSplitOverTwoReadsIsNotAnAnswer) {
  auto first = std::make_shared<bool>(true);
  attach([first](ScriptedModule& m, std::string_view block) {
    if (block == "AT\r\n" && *first) {
      *first = false;
      m.reply("\r\nO");
      m.reply("K\r\n", 1);
    } else {
      m.reply(kOk);
    }
  });
  EXPECT_EQ(engine::at_handshake(slot), engine::DL_OK);
  EXPECT_EQ(module->written(), (std::vector<std::string>{"AT\r\n", "AT\r\n", "ATE0\r\n"}));
  EXPECT_EQ(elapsed(), 520 + 20 + 320);
}

TEST_F(HandshakeTest, SilentModuleFailsAfterThirtyAttempts) {
  attach({});
  EXPECT_EQ(engine::at_handshake(slot), engine::DL_AT_FAILED);
  EXPECT_EQ(module->written(), repeated("AT\r\n", 30));
  EXPECT_EQ(window.statuses(0), std::vector<std::string>{"AT Failed!"});
  EXPECT_EQ(elapsed(), 30 * 520);
}

TEST_F(HandshakeTest, AnswerOnTheLastAttemptOfEachStageCounts) {
  attach(module_answering_at_from(30));
  EXPECT_EQ(engine::at_handshake(slot), engine::DL_OK);
  EXPECT_EQ(elapsed(), 29 * 520 + 20 + 320);

  auto ate0_count = std::make_shared<int>(0);
  attach([ate0_count](ScriptedModule& m, std::string_view block) {
    if (block == "AT\r\n" || ++*ate0_count == 10) m.reply(kOk);
  });
  int64_t start = elapsed();
  EXPECT_EQ(engine::at_handshake(slot), engine::DL_OK);
  EXPECT_EQ(*ate0_count, 10);
  EXPECT_EQ(elapsed() - start, 20 + 9 * 3120 + 320);
}

TEST_F(HandshakeTest, ModuleRefusingAte0FailsAfterTenAttempts) {
  attach(module_answering_at_from(1, kError));
  EXPECT_EQ(engine::at_handshake(slot), engine::DL_ATE0_FAILED);
  EXPECT_EQ(module->written(), concat({"AT\r\n"}, repeated("ATE0\r\n", 10)));
  EXPECT_EQ(window.statuses(0), std::vector<std::string>{"ATE0 Failed!"});
  EXPECT_EQ(elapsed(), 20 + 10 * 3120);
}

TEST_F(HandshakeTest, StopRequestAtEntrySendsNothing) {
  attach(module_answering_at_from(1));
  slot.runEnabled = 0;
  EXPECT_EQ(engine::at_handshake(slot), engine::DL_PAUSED);
  EXPECT_TRUE(module->written().empty());
  EXPECT_EQ(window.statuses(0), std::vector<std::string>{"Download Pause!"});
  EXPECT_EQ(elapsed(), 0);
}

TEST_F(HandshakeTest, StopRequestIsSeenBeforeTheNextAttempt) {
  auto count = std::make_shared<int>(0);
  attach([this, count](ScriptedModule&, std::string_view) {
    if (++*count == 3) slot.runEnabled = 0;
  });
  EXPECT_EQ(engine::at_handshake(slot), engine::DL_PAUSED);
  EXPECT_EQ(module->written().size(), 3u);
  EXPECT_EQ(elapsed(), 3 * 520);

  // In the second stage as well.
  attach([this](ScriptedModule& m, std::string_view block) {
    if (block == "AT\r\n") m.reply(kOk);
    if (block == "ATE0\r\n") slot.runEnabled = 0;
  });
  slot.runEnabled = 1;
  EXPECT_EQ(engine::at_handshake(slot), engine::DL_PAUSED);
  EXPECT_EQ(module->written(), (std::vector<std::string>{"AT\r\n", "ATE0\r\n"}));
}

TEST_F(HandshakeTest, ClosedPortFailsThirtyTimesWithoutDelay) {
  EXPECT_EQ(engine::at_handshake(slot), engine::DL_AT_FAILED);
  EXPECT_EQ(elapsed(), 0);
  EXPECT_EQ(debug.count("send_at_command_with_response: error= hAT"), 30);
  EXPECT_EQ(window.statuses(0), std::vector<std::string>{"AT Failed!"});
}

class ExchangeTest : public ExchangeFixture {
 protected:
  ReplyBuffer reply{};
};

TEST_F(ExchangeTest, ErrorWithoutOkIsPolledFiftyTimes) {
  attach(testing_support::answer_all(kError));
  EXPECT_EQ(engine::send_at_command_with_response(slot, "AT+X\r\n", 6, reply), 0);
  EXPECT_EQ(module->reads(), 50);
  EXPECT_EQ(elapsed(), 20 + 300 + 50 * 50);
}

TEST_F(ExchangeTest, FullVariantChecksThePortFirst) {
  EXPECT_EQ(engine::send_at_command_with_response(slot, "AT\r\n", 4, reply), 0);
  EXPECT_EQ(elapsed(), 0);
  EXPECT_EQ(debug.count("send_at_command_with_response: error= hAT"), 1);
  // The other two variants run their polls against the closed port.
  EXPECT_EQ(engine::send_at_command_quick(slot, "AT\r\n", 4, reply), 0);
  EXPECT_EQ(elapsed(), 20 + 10 * 50);
  EXPECT_EQ(engine::send_at_command_wait_download(slot, "AT\r\n", 4, reply), 0);
  EXPECT_EQ(elapsed(), 520 + 20 + 50 * 50);
}

TEST_F(ExchangeTest, TokenRules) {
  // Found anywhere in one read, also inside a longer word; the buffer keeps that read.
  attach(testing_support::answer_all("+CFSGFIS: 12\r\nxOKx"));
  EXPECT_EQ(engine::send_at_command_with_response(slot, "AT\r\n", 4, reply), 1);
  EXPECT_EQ(engine::reply_text(reply), "+CFSGFIS: 12\r\nxOKx");
  EXPECT_EQ(elapsed(), 320);

  // Case matters.
  attach(testing_support::answer_all("\r\nok\r\n"));
  EXPECT_EQ(engine::send_at_command_quick(slot, "AT\r\n", 4, reply), 0);

  attach(testing_support::answer_all("\r\nDOWNLOAD\r\n"));
  int64_t start = elapsed();
  EXPECT_EQ(engine::send_at_command_wait_download(slot, "AT+CFSWFILE\r\n", 13, reply), 1);
  EXPECT_EQ(elapsed() - start, 20);

  // A reply arriving late is found by the poll after its arrival.
  attach([](ScriptedModule& m, std::string_view) { m.reply(kOk, 120); });
  start = elapsed();
  EXPECT_EQ(engine::send_at_command_quick(slot, "AT\r\n", 4, reply), 1);
  EXPECT_EQ(elapsed() - start, 20 + 3 * 50);
}

TEST_F(ExchangeTest, RepliesFromAnEarlierCommandAreDiscarded) {
  attach({});
  module->reply(kOk);
  EXPECT_EQ(engine::send_at_command_quick(slot, "AT\r\n", 4, reply), 0);
}

TEST_F(ExchangeTest, FullReadsAreSearchedWithinTheBytesRead) {
  // 260 bytes fill the read; the token in its last two bytes is found.
  attach(testing_support::answer_all(std::string(258, 'x') + "OK"));
  EXPECT_EQ(engine::send_at_command_quick(slot, "AT\r\n", 4, reply), 1);
  EXPECT_EQ(engine::reply_text(reply).size(), 260u);

  // A token cut by the 260-byte read size spans two reads and is not seen.
  attach(testing_support::answer_all(std::string(259, 'x') + "OK"));
  EXPECT_EQ(engine::send_at_command_quick(slot, "AT\r\n", 4, reply), 0);

  // Bytes after a NUL are not part of the reply text.
  attach(testing_support::answer_all(std::string("x\0OK", 4)));
  EXPECT_EQ(engine::send_at_command_quick(slot, "AT\r\n", 4, reply), 0);
}
