#include "tools/ports/doctor.h"

#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/com_ports.h"
#include "platform/posix_serial_port.h"
#include "tests/devices/umockdev_bench.h"
#include "tests/ports/mock_usb.h"
#include "tests/support/pseudo_terminal.h"

namespace fs = std::filesystem;
using ports_tool::Finding;
using testing::HasSubstr;
using testing_support::TempDir;

namespace {

// A process folder with the first process, and the rule folders that take precedence first.
class DoctorTest : public ::testing::Test {
 protected:
  DoctorTest() {
    seams.proc = (places.path() / "proc").string();
    seams.rule_folders = {(places.path() / "etc").string(), (places.path() / "lib").string()};
    for (const char* folder : {"proc/1", "etc", "lib"})
      fs::create_directories(places.path() / folder);
    std::ofstream(places.path() / "proc/1/comm") << "init\n";
    // The mock's lines are files without a terminal behind them: they stand for lines that another
    // program holds. Every other device is opened.
    platform::set_port_opener([](unsigned n, std::string* why) {
      std::string device = platform::resolve_com_port(n).value_or("");
      if (device.rfind("/dev/ttyUSB", 0) != 0) return platform::PosixSerialPort::open(device, why);
      *why = device + ": in use by another program";
      return std::shared_ptr<platform::PosixSerialPort>();
    });
  }
  ~DoctorTest() override { platform::set_port_opener({}); }
  void start_modem_daemon() {
    fs::create_directories(places.path() / "proc/812");
    std::ofstream(places.path() / "proc/812/comm") << "ModemManager\n";
  }
  // The finding whose text starts with `start`.
  Finding find(const std::vector<Finding>& findings, const std::string& start) {
    for (const Finding& f : findings)
      if (f.text.rfind(start, 0) == 0) return f;
    ADD_FAILURE() << "no finding " << start << " in\n" << ports_tool::report(findings);
    return {};
  }

  testing_support::UmockdevBench bench;
  TempDir places;
  ports_tool::DoctorSeams seams;
};

}  // namespace

TEST_F(DoctorTest, ModemDaemonAndBrailleRules) {
  std::string probed = bench.plug("ttyUSB0", 1, 0);
  std::string ignored = bench.plug("ttyUSB1", 2, 0);
  testing_support::add_udev_property(ignored, "ID_MM_DEVICE_IGNORE=1");
  testing_support::PseudoTerminal pty;
  pty.link_as(bench.ports(), 9);
  std::ofstream(places.path() / "lib/85-brltty.rules")
      << "# Device: 0403:6001\n"
      << "ENV{PRODUCT}==\"1a86/7523/*\", ENV{BRLTTY_BRAILLE_DRIVER}=\"bm\", GOTO=\"brltty_run\"\n";

  std::vector<Finding> findings = ports_tool::examine(seams);
  EXPECT_EQ(find(findings, "COM9 ").kind, Finding::Kind::ok);
  Finding held = find(findings, "COM1 /dev/ttyUSB0 cannot be opened: in use by another program.");
  EXPECT_EQ(held.kind, Finding::Kind::problem);
  EXPECT_THAT(held.remedy, testing::Contains("$ fuser -v /dev/ttyUSB0"));
  EXPECT_EQ(find(findings, "ModemManager is not running").kind, Finding::Kind::ok);
  Finding braille = find(findings, "brltty is installed");
  EXPECT_EQ(braille.kind, Finding::Kind::problem);
  EXPECT_THAT(braille.text, HasSubstr("(1a86:7523)"));  // the commented id is no rule
  EXPECT_THAT(braille.remedy, testing::Contains("$ sudo ln -sf /dev/null " + seams.rule_folders[0] +
                                                "/85-brltty.rules"));

  start_modem_daemon();
  fs::create_symlink("/dev/null", places.path() / "etc/85-brltty.rules");
  findings = ports_tool::examine(seams);
  Finding daemon = find(findings, "ModemManager is running (process 812)");
  EXPECT_EQ(daemon.kind, Finding::Kind::problem);
  EXPECT_THAT(daemon.text, HasSubstr("probes COM1:"));  // not the ignored line, not COM9
  EXPECT_THAT(daemon.remedy, testing::Contains("$ sudo systemctl disable --now ModemManager"));
  EXPECT_EQ(find(findings, "brltty's udev rules are masked").kind, Finding::Kind::ok);
  std::istringstream lines(ports_tool::report(findings));
  for (std::string line; std::getline(lines, line);)
    EXPECT_TRUE(line.size() <= 79 || line.rfind("  $ ", 0) == 0) << line;

  // With the modules out, only the daemon's note is left: nothing stands in the way.
  bench.unplug(probed);
  bench.unplug(ignored);
  findings = ports_tool::examine(seams);
  EXPECT_EQ(find(findings, "COM1 is not plugged in").kind, Finding::Kind::note);
  EXPECT_EQ(find(findings, "ModemManager is running").kind, Finding::Kind::note);
  EXPECT_THAT(ports_tool::report(findings), testing::EndsWith("\nNothing stands in the way.\n"));
}

// An on-board serial port takes a COM number as every port does; when no module uses it, what keeps
// it from opening is noted, not reported as a problem: the doctor judges the modules' ports.
TEST_F(DoctorTest, PortsNoModuleUsesAreOnlyNoted) {
  bench.add_legacy_serial("ttyS0", 4);  // COM1, which only root may open
  testing_support::PseudoTerminal pty;
  pty.link_as(bench.ports(), 9);
  platform::set_port_opener([](unsigned n, std::string* why) {
    std::string device = platform::resolve_com_port(n).value_or("");
    if (device == "/dev/ttyS0") {
      *why = device + ": " + std::strerror(EACCES);
      return std::shared_ptr<platform::PosixSerialPort>();
    }
    return platform::PosixSerialPort::open(device, why);
  });
  auto settings = [&](const std::string& text) {
    std::ofstream(bench.folder() / "ZEBL.ini") << text;
  };

  // Before ZEBL.ini names a port, every port but the computer's own is judged.
  std::vector<Finding> findings = ports_tool::examine(seams);
  Finding on_board = find(findings, "COM1 /dev/ttyS0 cannot be opened: Permission denied");
  EXPECT_EQ(on_board.kind, Finding::Kind::note);
  EXPECT_THAT(on_board.text, testing::EndsWith(" It is a serial port of this computer, not a "
                                               "module's."));
  EXPECT_TRUE(on_board.remedy.empty());
  EXPECT_EQ(find(findings, "COM9 ").kind, Finding::Kind::ok);
  EXPECT_EQ(find(findings, "ZEBL.ini names no module's port yet").kind, Finding::Kind::note);
  EXPECT_THAT(ports_tool::report(findings), testing::EndsWith("\nNothing stands in the way.\n"));

  // Named ports are judged and said whose they are; the others are noted; a named number that
  // the bench does not have is noted too.
  settings("[ATPort_First]\r\nnumber=9\r\n[DiagPort_First]\r\nnumber=5\r\n");
  findings = ports_tool::examine(seams);
  Finding unused = find(findings, "COM1 /dev/ttyS0 cannot be opened: Permission denied.");
  EXPECT_EQ(unused.kind, Finding::Kind::note);
  EXPECT_THAT(unused.text, testing::EndsWith(". No module uses it in ZEBL.ini."));
  EXPECT_EQ(find(findings, "COM9 ").text,
            "COM9 " + pty.slave_path() + " can be opened. It is Module1's AT port.");
  EXPECT_EQ(find(findings, "COM5 ").kind, Finding::Kind::note);
  EXPECT_EQ(ports_tool::doctor(seams), 0);

  settings("[ATPort_Second]\r\nnumber=1\r\n[DiagPort_Second]\r\nnumber=1\r\n");
  findings = ports_tool::examine(seams);
  Finding named = find(findings, "COM1 /dev/ttyS0 cannot be opened");
  EXPECT_EQ(named.kind, Finding::Kind::problem);
  EXPECT_THAT(named.text, testing::EndsWith(" It is Module2's AT port, Module2's Diag port."));
  EXPECT_EQ(find(findings, "COM9 ").text, "COM9 " + pty.slave_path() + " can be opened.");
  EXPECT_EQ(ports_tool::doctor(seams), 1);
}

// The suite runs as root, whom no permission stops: the tool runs as another user, outside the
// device mock, against a device node of a terminal line that only group dialout may open.
TEST_F(DoctorTest, PermissionsAsAnotherUser) {
  const group* dialout = ::getgrnam("dialout");
  if (::geteuid() != 0 || !dialout || ::access("/usr/bin/setpriv", X_OK) != 0)
    GTEST_SKIP() << "needs root, group dialout and setpriv";
  fs::path line = bench.folder() / "line";
  // The numbers of /dev/tty: a terminal line on every system.
  if (::mknod(line.c_str(), S_IFCHR | 0660, makedev(5, 0)) != 0)
    GTEST_SKIP() << "cannot make a device node here";
  ASSERT_EQ(::chown(line.c_str(), 0, dialout->gr_gid), 0);
  ASSERT_EQ(::chmod(line.c_str(), 0660), 0);
  fs::create_directories(bench.ports());
  fs::create_symlink(line, bench.ports() / "COM1");
  testing_support::PseudoTerminal pty;  // root's own
  pty.link_as(bench.ports(), 2);
  for (const fs::path& folder : {bench.folder(), places.path()})
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(bench.ports(), fs::perms::all);  // the user numbers the host's own lines

  int status = -1;
  std::string out = testing_support::run_command(
      "env -u LD_PRELOAD -u UMOCKDEV_DIR QUILLMARK_PROC=" + seams.proc +
          " QUILLMARK_UDEV_RULES=" + seams.rule_folders[0] +
          " setpriv --reuid=65534 --regid=65534 --clear-groups " + QUILL_PORTS + " doctor",
      &status);
  EXPECT_EQ(status, 1);
  // The findings' words as one line each.
  for (size_t wrap; (wrap = out.find("\n  ")) != std::string::npos;) out.replace(wrap, 3, " ");
  EXPECT_THAT(out, HasSubstr("PROBLEM: COM1 " + line.string() +
                             " cannot be opened: Permission denied. The device belongs to group "
                             "dialout, and user nobody is not in it. Add the user to the group, "
                             "then log out and log in again: $ sudo usermod -aG dialout $USER\n"));
  EXPECT_THAT(out, HasSubstr("PROBLEM: COM2: the link ports/COM2 leads to " + pty.slave_path() +
                             " (pseudo-terminal of another user)"));
  EXPECT_THAT(out, HasSubstr("\nok: ModemManager is not running.\n"));
}
