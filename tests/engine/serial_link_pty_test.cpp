// The serial link on real pseudo-terminals, in real time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/at_exchange.h"
#include "engine/at_log.h"
#include "engine/serial_link.h"
#include "platform/posix_serial_port.h"
#include "tests/support/pseudo_terminal.h"
#include "tests/support/temp_dir.h"

using engine::ReplyBuffer;
using testing_support::PseudoTerminal;
using testing_support::read_file;

namespace {

using Clock = std::chrono::steady_clock;

int64_t ms_since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class SerialLinkPtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pty.link_as(bench.path() / "ports", 7);
    slot.atPort = 7;
    slot.runEnabled = 1;
  }
  void TearDown() override { engine::close_at_port(slot); }

  testing_support::TempDir bench;
  testing_support::ScopedWorkingDirectory cwd{bench.path()};
  PseudoTerminal pty;
  engine::ModuleSlot slot;
};

}  // namespace

TEST_F(SerialLinkPtyTest, OpensThroughTheComLinkRawAt115200) {
  ASSERT_EQ(engine::OpenATPort(slot), 1);
  auto port = std::dynamic_pointer_cast<platform::PosixSerialPort>(slot.hAT.get());
  ASSERT_TRUE(port);
  termios t{};
  ASSERT_EQ(::tcgetattr(port->descriptor(), &t), 0);
  EXPECT_EQ(::cfgetospeed(&t), B115200);
  EXPECT_EQ(::cfgetispeed(&t), B115200);
  EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS | HUPCL), 0u);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);
  int flags = ::fcntl(port->descriptor(), F_GETFD);
  EXPECT_TRUE(flags & FD_CLOEXEC);
}

TEST_F(SerialLinkPtyTest, AReadWithNothingWaitingGivesZeroAtOnce) {
  ASSERT_EQ(engine::OpenATPort(slot), 1);
  ReplyBuffer reply{};
  auto start = Clock::now();
  EXPECT_EQ(engine::read_port(slot, reply), 0);
  EXPECT_LT(ms_since(start), 200);
}

TEST_F(SerialLinkPtyTest, AFullBurstIsReadIn260ByteBlocks) {
  ASSERT_EQ(engine::OpenATPort(slot), 1);
  std::filesystem::remove(engine::at_log_path(slot));
  std::string burst(300, 'z');
  burst.replace(258, 4, "OKOK");
  pty.write_master(burst);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ReplyBuffer reply{};
  reply.fill('#');  // a caller that forgot to clear: the read still ends inside the buffer
  EXPECT_EQ(engine::read_port(slot, reply), 260);
  engine::clear(reply);
  EXPECT_EQ(engine::read_port(slot, reply), 40);
  EXPECT_EQ(engine::reply_text(reply), burst.substr(260));
  std::string log = read_file(engine::at_log_path(slot));
  EXPECT_NE(log.find(burst.substr(0, 260) + "\r\n"), std::string::npos);
}

TEST_F(SerialLinkPtyTest, HandshakeWithAModuleAnsweringInRealTime) {
  std::atomic<bool> stop{false};
  std::string heard;
  std::thread module([&] {
    while (!stop) {
      std::string in = pty.read_master(20);
      heard += in;
      if (in.find("AT\r\n") != std::string::npos || in.find("ATE0\r\n") != std::string::npos)
        pty.write_master(in + "\r\nOK\r\n");  // echo, as a module does before ATE0
    }
  });
  ASSERT_EQ(engine::OpenATPort(slot), 1);
  auto start = Clock::now();
  int result = engine::at_handshake(slot);
  int64_t took = ms_since(start);
  stop = true;
  module.join();
  EXPECT_EQ(result, engine::DL_OK);
  EXPECT_EQ(heard, "AT\r\nATE0\r\n");
  RecordProperty("handshake_ms", static_cast<int>(took));
}

TEST_F(SerialLinkPtyTest, ASecondOpenIsRefusedWhileTheFirstHoldsThePort) {
  ASSERT_EQ(engine::OpenATPort(slot), 1);
  engine::ModuleSlot other;
  other.atPort = 7;
  EXPECT_EQ(engine::OpenATPort(other), 0);
  engine::close_at_port(slot);
  EXPECT_EQ(engine::OpenATPort(other), 1);
  engine::close_at_port(other);
}

// The worker is blocked writing to a module that stopped reading; the window thread closes the
// port. The write must fail at once, long before the one-second stall limit, and no byte of it may
// reach a descriptor opened right after the close.
TEST_F(SerialLinkPtyTest, ClosingFromAnotherThreadEndsABlockedWriteAtOnce) {
  ASSERT_EQ(engine::OpenATPort(slot), 1);
  std::string block(1 << 20, 'D');
  std::atomic<int> written{-2};
  std::atomic<bool> started{false};
  std::thread worker([&] {
    started = true;
    written = engine::write_port(slot, block.data(), static_cast<int>(block.size()));
  });
  while (!started) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the pty buffer is full by now
  ASSERT_EQ(written.load(), -2);

  auto start = Clock::now();
  ASSERT_EQ(engine::close_at_port(slot), 1);
  testing_support::TempDir scratch;
  int fresh = ::open((scratch.path() / "fresh").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(fresh, 0);
  worker.join();
  int64_t took = ms_since(start);
  EXPECT_EQ(written.load(), 0);
  EXPECT_LT(took, 500);
  struct stat st {};
  ::fstat(fresh, &st);
  EXPECT_EQ(st.st_size, 0);
  ::close(fresh);
  EXPECT_FALSE(slot.hAT.is_open());
}

TEST_F(SerialLinkPtyTest, AWriteToALineThatTakesNothingGivesUpAfterOneSecond) {
  ASSERT_EQ(engine::OpenATPort(slot), 1);
  std::string block(1 << 20, 'D');
  auto start = Clock::now();
  EXPECT_EQ(engine::write_port(slot, block.data(), static_cast<int>(block.size())), 0);
  int64_t took = ms_since(start);
  EXPECT_GE(took, platform::PosixSerialPort::kStallLimitMs);
  EXPECT_LT(took,
            5 * platform::PosixSerialPort::kStallLimitMs);  // each bit of progress restarts it
}
