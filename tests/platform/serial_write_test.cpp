// The write time-out of a serial device runs on the clock in use.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "platform/posix_serial_port.h"
#include "platform/virtual_clock.h"
#include "tests/support/pseudo_terminal.h"

// On a virtual clock the real waits of the write take no time of their own; a wait that times out
// is counted whole. The write therefore gives up exactly one stall limit after its last progress on
// the writer's time line: a whole number of limits, since the terminal may take a late piece of the
// block on its own about a second after the first, which restarts the limit.
TEST(SerialWriteTest, AStalledWriteGivesUpAfterTheStallLimitOfTheClockInUse) {
  testing_support::PseudoTerminal pty;
  auto port = platform::PosixSerialPort::open(pty.slave_path());
  ASSERT_TRUE(port);
  ASSERT_TRUE(port->configure());
  platform::VirtualClock clock;
  platform::ScopedClock use(clock);

  EXPECT_TRUE(port->write_all("AT\r\n", 4));  // taken at once
  EXPECT_EQ(clock.now_ms(), 0);
  std::string block(1 << 20, 'D');  // nobody reads: the line stops taking bytes
  EXPECT_FALSE(port->write_all(block.data(), block.size()));
  int64_t spent = clock.now_ms();
  EXPECT_GE(spent, platform::PosixSerialPort::kStallLimitMs);
  EXPECT_EQ(spent % platform::PosixSerialPort::kStallLimitMs, 0);
}

// A device that hangs up (its terminal closed, a module pulled out) is told apart from any other
// failure, while the operations give what they always gave.
TEST(SerialWriteTest, AHungUpDeviceIsNotedAsGone) {
  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  auto port = platform::PosixSerialPort::open(::ptsname(master));
  ASSERT_TRUE(port);
  ASSERT_TRUE(port->configure());
  char buffer[16];
  EXPECT_EQ(port->read(buffer, sizeof buffer), 0);
  EXPECT_EQ(port->failure(), "");

  ::close(master);
  EXPECT_FALSE(port->write_all("AT\r\n", 4));
  EXPECT_EQ(port->failure(), "device gone");
}
