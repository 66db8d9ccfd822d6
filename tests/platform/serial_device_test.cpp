#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/com_ports.h"
#include "platform/posix_serial_port.h"
#include "platform/serial_device_check.h"
#include "tests/support/pseudo_terminal.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using platform::DeviceCheck;
using testing_support::PseudoTerminal;

namespace {

class ComPortTest : public ::testing::Test {
 protected:
  fs::path ports() const { return bench.path() / "ports"; }
  void link(const std::string& target, unsigned n) {
    fs::create_directories(ports());
    fs::create_symlink(target, ports() / ("COM" + std::to_string(n)));
  }

  testing_support::TempDir bench;
  testing_support::ScopedWorkingDirectory cwd{bench.path()};
};

constexpr uid_t kNobody = 65534;

}  // namespace

TEST_F(ComPortTest, NumbersResolveThroughLinksInThePortsFolder) {
  PseudoTerminal pty;
  pty.link_as(ports(), 12);
  EXPECT_EQ(platform::resolve_com_port(12), pty.slave_path());
  EXPECT_EQ(platform::resolve_com_port(1), std::nullopt);
  // A relative link, and a link to a link.
  fs::create_symlink(pty.slave_path(), bench.path() / "device");
  link("../device", 3);
  link("COM3", 4);
  EXPECT_EQ(platform::resolve_com_port(3), pty.slave_path());
  EXPECT_EQ(platform::resolve_com_port(4), pty.slave_path());
  EXPECT_NE(platform::open_com_port(4), nullptr);
}

TEST_F(ComPortTest, OnlySerialLinesOfTheUserAreOpened) {
  std::ofstream(bench.path() / "file") << "x";
  fs::create_directory(bench.path() / "folder");
  ASSERT_EQ(::mkfifo((bench.path() / "fifo").c_str(), 0600), 0);
  link((bench.path() / "file").string(), 1);
  link((bench.path() / "folder").string(), 2);
  link((bench.path() / "fifo").string(), 3);
  link("/dev/null", 4);
  link((bench.path() / "nothing").string(), 5);

  std::string why;
  for (unsigned n : {1u, 2u, 3u}) {
    EXPECT_EQ(platform::check_serial_device(*platform::resolve_com_port(n)),
              DeviceCheck::not_character_device);
    EXPECT_EQ(platform::open_com_port(n, &why), nullptr) << n;
  }
  EXPECT_EQ(platform::check_serial_device("/dev/null"), DeviceCheck::not_serial);
  EXPECT_EQ(platform::open_com_port(4, &why), nullptr);
  EXPECT_NE(why.find("not a serial line"), std::string::npos);
  EXPECT_EQ(platform::open_com_port(5, &why), nullptr);
  EXPECT_NE(why.find("COM5 is not present"), std::string::npos);

  PseudoTerminal mine;
  mine.link_as(ports(), 6);
  EXPECT_EQ(platform::check_serial_device(mine.slave_path()), DeviceCheck::ok);
}

TEST_F(ComPortTest, APseudoTerminalOfAnotherUserIsRefused) {
  PseudoTerminal pty;
  pty.link_as(ports(), 8);
  uid_t other = ::geteuid() == 0 ? kNobody : 0;
  if (::chown(pty.slave_path().c_str(), other, static_cast<gid_t>(-1)) != 0)
    GTEST_SKIP() << "cannot give a pseudo-terminal away without privileges";
  EXPECT_EQ(platform::check_serial_device(pty.slave_path()), DeviceCheck::foreign_terminal);
  EXPECT_EQ(platform::open_com_port(8), nullptr);
}

// As an unprivileged user exclusive use is enforced by the terminal itself, and its exclusive flag
// would outlive the descriptor if the close did not clear it.
TEST_F(ComPortTest, AnUnprivilegedUserOpensAgainAfterAClose) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  PseudoTerminal pty;
  pty.link_as(ports(), 9);
  ASSERT_EQ(::chown(pty.slave_path().c_str(), kNobody, kNobody), 0);
  fs::permissions(bench.path(), fs::perms::owner_all | fs::perms::others_read |
                                    fs::perms::others_exec | fs::perms::group_read |
                                    fs::perms::group_exec);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(10);
    auto first = platform::open_com_port(9);
    if (!first) ::_exit(11);
    if (platform::open_com_port(9)) ::_exit(12);  // in use
    first->close();
    first.reset();
    auto second = platform::open_com_port(9);
    if (!second) ::_exit(13);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "10: setuid, 11: first open, 12: second open while in use, "
                                       "13: open after close";
}

TEST_F(ComPortTest, APortIsReleasedByItsLastOwnerNotByClose) {
  PseudoTerminal pty;
  pty.link_as(ports(), 2);
  auto port = std::dynamic_pointer_cast<platform::PosixSerialPort>(platform::open_com_port(2));
  ASSERT_TRUE(port);
  int fd = port->descriptor();
  auto still_using = port;
  port->close();
  EXPECT_TRUE(still_using->is_closed());
  EXPECT_EQ(::fcntl(fd, F_GETFD) >= 0, true);  // still held by an owner
  char byte;
  EXPECT_EQ(still_using->read(&byte, 1), -1);
  EXPECT_FALSE(still_using->write_all("x", 1));
  port.reset();
  still_using.reset();
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
}
