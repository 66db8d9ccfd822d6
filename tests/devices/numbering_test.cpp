#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "devices/bench_ports.h"
#include "devices/friendly_name.h"
#include "devices/hardware_ports.h"
#include "devices/port_census.h"
#include "devices/port_namespace.h"
#include "devices/port_numbers.h"
#include "platform/com_ports.h"
#include "tests/devices/umockdev_bench.h"
#include "tests/support/debug_capture.h"
#include "tests/support/pseudo_terminal.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using devices::AtPortCandidates;
using testing::ElementsAre;
using testing_support::UmockdevBench;

namespace {

class NumberingTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::set_port_guard({}); }
  // What the port lists would offer now: "<friendly name> = <device>" in ascending order.
  std::vector<std::string> offered() {
    std::vector<std::string> out;
    if (auto all = devices::scan_ports())
      for (const devices::ComPort& p : devices::offered_ports(*all))
        out.push_back(p.friendly_name + " = " + p.device);
    return out;
  }
  std::string link_of(unsigned n) {
    fs::path link = bench.ports() / ("COM" + std::to_string(n));
    return fs::is_symlink(link) ? fs::read_symlink(link).string() : "";
  }
  bool map(const std::string& device, unsigned n) {
    std::string why;
    bool ok = devices::map_device(bench.ports().string(), device, n, devices::find_hardware_ports(),
                                  &why);
    EXPECT_TRUE(why.empty()) << why;
    return ok;
  }
  // Why COM<n> may not be opened as `device`; "" when it may.
  std::string refusal(unsigned n, const std::string& device) {
    std::string why;
    return devices::may_open_port(bench.ports().string(), n, device, &why) ? "" : why;
  }
  std::vector<unsigned> kept_numbers() {
    std::vector<unsigned> numbers;
    for (const devices::NumberEntry& e : devices::read_numbers(bench.ports().string()))
      numbers.push_back(e.number);
    return numbers;
  }

  UmockdevBench bench;
};

}  // namespace

TEST_F(NumberingTest, UsbSerialPortsGetTheLowestFreeNumbersInInterfaceOrder) {
  bench.plug("ttyUSB1", 2, 3, "SIM_X7", "AT Port");
  bench.plug("ttyUSB0", 2, 2, "SIM_X7", "");
  EXPECT_THAT(offered(), ElementsAre("SIM X7 Interface 02 (COM1) = /dev/ttyUSB0",
                                     "SIM X7 AT Port (COM2) = /dev/ttyUSB1"));
  EXPECT_EQ(devices::GetDevicePorts(), 1);
  EXPECT_THAT(AtPortCandidates, ElementsAre(1, 2));
  // A second socket gets a new number.
  bench.plug("ttyUSB2", 3, 2);
  EXPECT_EQ(offered().back(), "Gadget Interface 02 (COM3) = /dev/ttyUSB2");
}

TEST_F(NumberingTest, ASocketKeepsItsNumberWhenItsPortReturns) {
  std::string a = bench.plug("ttyUSB0", 1, 0);
  EXPECT_THAT(offered(), ElementsAre("Gadget Interface 00 (COM1) = /dev/ttyUSB0"));
  bench.unplug(a);
  // Another socket now gets the kernel name the first one had: it must not show up as COM1.
  bench.plug("ttyUSB0", 4, 0);
  EXPECT_THAT(offered(), ElementsAre("Gadget Interface 00 (COM2) = /dev/ttyUSB0"));
  EXPECT_EQ(link_of(1), "");
  bench.plug("ttyUSB1", 1, 0);
  EXPECT_THAT(offered(), ElementsAre("Gadget Interface 00 (COM1) = /dev/ttyUSB1",
                                     "Gadget Interface 00 (COM2) = /dev/ttyUSB0"));
  // The numbers live in the bench folder, so a restart of the tool finds them again.
  std::vector<devices::NumberEntry> kept = devices::read_numbers(bench.ports().string());
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[0].key, "pci-0000:00:14.0-usb-0:1:1.0-port0");
  EXPECT_EQ(kept[0].number, 1u);
}

TEST_F(NumberingTest, WithoutUdevdTheSysfsPathKeepsTheNumber) {
  bench.udevd_data = false;
  std::string a = bench.plug("ttyUSB0", 1, 0);
  bench.plug("ttyUSB1", 2, 0);
  offered();
  bench.unplug(a);
  bench.plug("ttyUSB7", 1, 0);
  EXPECT_THAT(offered(), ElementsAre("Gadget Interface 00 (COM1) = /dev/ttyUSB7",
                                     "Gadget Interface 00 (COM2) = /dev/ttyUSB1"));
  EXPECT_EQ(devices::read_numbers(bench.ports().string())[0].key,
            "/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0-port0");
}

TEST_F(NumberingTest, PlaceholdersAndVirtualTerminalsAreNotNumbered) {
  bench.add_legacy_serial("ttyS3", 0);
  bench.add_legacy_serial("ttyS0", 4);
  EXPECT_THAT(offered(), ElementsAre("Serial Port (COM1) = /dev/ttyS0"));
}

TEST_F(NumberingTest, LinksMadeByHandAreHonoured) {
  testing_support::PseudoTerminal pty;
  pty.link_as(bench.ports(), 1);
  std::string usb = bench.plug("ttyUSB0", 1, 0, "Gadget", "Diag");
  // A second link to the same device: shown once, under the lower number.
  fs::create_symlink(pty.slave_path(), bench.ports() / "COM9");
  EXPECT_THAT(offered(), ElementsAre("Pseudo-terminal (COM1) = " + pty.slave_path(),
                                     "Gadget Diag (COM2) = /dev/ttyUSB0"));
  // While the port is away its number is reused by hand; the port gets a new one on return.
  bench.unplug(usb);
  offered();
  pty.link_as(bench.ports(), 2);
  bench.plug("ttyUSB0", 1, 0, "Gadget", "Diag");
  offered();
  EXPECT_EQ(link_of(2), pty.slave_path());
  EXPECT_EQ(link_of(3), "/dev/ttyUSB0");
}

TEST_F(NumberingTest, APortMappedByHandKeepsItsNumber) {
  std::string usb = bench.plug("ttyUSB0", 1, 0);
  bench.plug("ttyUSB1", 2, 0);
  offered();
  ASSERT_TRUE(map("/dev/ttyUSB0", 7));
  EXPECT_EQ(link_of(1), "");
  bench.unplug(usb);
  bench.plug("ttyUSB3", 1, 0);
  EXPECT_THAT(offered(), ElementsAre("Gadget Interface 00 (COM2) = /dev/ttyUSB1",
                                     "Gadget Interface 00 (COM7) = /dev/ttyUSB3"));
  // Mapping another device to a taken number takes it away; unmapping frees it.
  testing_support::PseudoTerminal pty;
  ASSERT_TRUE(map(pty.slave_path(), 2));
  EXPECT_THAT(offered(), ElementsAre("Gadget Interface 00 (COM1) = /dev/ttyUSB1",
                                     "Pseudo-terminal (COM2) = " + pty.slave_path(),
                                     "Gadget Interface 00 (COM7) = /dev/ttyUSB3"));
  std::string why;
  EXPECT_TRUE(devices::unmap_number(bench.ports().string(), 2, &why));
  EXPECT_FALSE(devices::unmap_number(bench.ports().string(), 2, &why));
  EXPECT_EQ(why, "COM2 is not in use");
  EXPECT_FALSE(devices::map_device(bench.ports().string(), "/dev/null", 3, {}, &why));
  EXPECT_EQ(why, "/dev/null: not a serial line");
}

TEST_F(NumberingTest, ADescriptionFromTheDeviceCannotChangeTheNumber) {
  bench.plug("ttyUSB0", 1, 0, std::string(300, 'M'), "AT (COM9");
  std::vector<std::string> names = offered();
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0], std::string(devices::kMaxDescriptionLength, 'M') + " (COM1) = /dev/ttyUSB0");
  EXPECT_EQ(devices::GetDevicePorts(), 1);
  EXPECT_THAT(AtPortCandidates, ElementsAre(1));
}

TEST_F(NumberingTest, AfterModulesSwapSocketsAStaleLinkNeverOpensTheOtherModule) {
  std::string a = bench.plug("ttyUSB0", 1, 0);
  std::string b = bench.plug("ttyUSB1", 2, 0);
  EXPECT_EQ(devices::prepare_bench_ports(), 1);  // a new bench folder gets its links
  EXPECT_THAT(AtPortCandidates, ElementsAre(1, 2));
  EXPECT_EQ(link_of(1), "/dev/ttyUSB0");
  bench.unplug(a);
  bench.unplug(b);
  bench.plug("ttyUSB0", 2, 0);
  bench.plug("ttyUSB1", 1, 0);
  std::string why;
  testing_support::DebugCapture debug;
  EXPECT_EQ(platform::open_com_port(1, &why), nullptr);
  EXPECT_EQ(why,
            "COM1 belongs to the port at pci-0000:00:14.0-usb-0:1:1.0-port0, but its link leads to "
            "/dev/ttyUSB0, the port at pci-0000:00:14.0-usb-0:2:1.0-port0");
  EXPECT_EQ(debug.count("Port not opened: " + why + "\n"), 1);
  EXPECT_THAT(refusal(1, "/dev/ttyUSB9"),
              testing::EndsWith("/dev/ttyUSB9, which is not that port"));
  // Once the census has re-pointed the links, each leads to its own socket's module.
  devices::GetDevicePorts();
  EXPECT_EQ(link_of(1), "/dev/ttyUSB1");
  EXPECT_EQ(refusal(1, "/dev/ttyUSB1") + refusal(2, "/dev/ttyUSB0"), "");
}

TEST_F(NumberingTest, AHandLinkToADeviceNodeANumberOnceHadIsNeverTouched) {
  std::string first = bench.plug("ttyUSB0", 1, 0);
  offered();
  bench.unplug(first);
  bench.plug("ttyUSB0", 4, 0);  // the replacement, in another socket, is COM2
  offered();
  fs::create_symlink("/dev/ttyUSB0", bench.ports() / "COM1");
  EXPECT_THAT(offered(), ElementsAre("Gadget Interface 00 (COM1) = /dev/ttyUSB0"));
  EXPECT_EQ(link_of(2), "");  // the hand link wins; COM2 stays kept
  EXPECT_EQ(refusal(1, "/dev/ttyUSB0"), "");
  // The old module returns: the hand link stands and the module is numbered anew.
  std::string back = bench.plug("ttyUSB1", 1, 0);
  EXPECT_THAT(offered(), ElementsAre("Gadget Interface 00 (COM1) = /dev/ttyUSB0",
                                     "Gadget Interface 00 (COM3) = /dev/ttyUSB1"));
  // A person's link with the very target of the automatic one it replaces is the person's.
  fs::create_symlink("/dev/ttyUSB1", bench.ports() / "new");
  fs::rename(bench.ports() / "new", bench.ports() / "COM3");
  bench.unplug(back);
  offered();
  EXPECT_EQ(link_of(3), "/dev/ttyUSB1");
  fs::remove(bench.ports() / "COM1");
  EXPECT_THAT(offered(), ElementsAre("Gadget Interface 00 (COM2) = /dev/ttyUSB0"));
}

TEST_F(NumberingTest, APortLinkedByHandIsOfferedUnderThatNumberOnly) {
  bench.plug("ttyUSB0", 1, 0);
  offered();
  fs::create_symlink("COM1", bench.ports() / "COM12");  // a twin gives no number
  EXPECT_THAT(offered(), ElementsAre("Gadget Interface 00 (COM1) = /dev/ttyUSB0"));
  fs::create_symlink("/dev/ttyUSB0", bench.ports() / "COM9");
  bench.plug("ttyUSB2", 3, 0);  // linked by hand before it was ever numbered: uses no number
  fs::create_symlink("/dev/ttyUSB2", bench.ports() / "COM7");
  EXPECT_THAT(offered(), ElementsAre("Gadget Interface 00 (COM7) = /dev/ttyUSB2",
                                     "Gadget Interface 00 (COM9) = /dev/ttyUSB0"));
  EXPECT_EQ(link_of(1), "");
  EXPECT_THAT(kept_numbers(), ElementsAre(1));
  std::string why;
  EXPECT_FALSE(devices::map_device(bench.ports().string(), "/dev/ttyUSB2", 5,
                                   devices::find_hardware_ports(), &why));
  EXPECT_EQ(why, "COM7, a link made by hand, leads to /dev/ttyUSB2: remove it first");
  fs::remove(bench.ports() / "COM9");
  EXPECT_EQ(offered().front(), "Gadget Interface 00 (COM1) = /dev/ttyUSB0");
}

TEST_F(NumberingTest, NumbersOfAnEarlierVersionAndOfACopiedFolderKeepWorking) {
  bench.plug("ttyUSB0", 1, 0);
  std::string second = bench.plug("ttyUSB1", 2, 0);
  testing_support::PseudoTerminal pty;
  // Three fields a line: COM1 is the link that version made, COM2 a person's in its place.
  fs::create_directories(bench.ports());
  std::ofstream(bench.ports() / "numbers") << "1 /dev/ttyUSB0 pci-0000:00:14.0-usb-0:1:1.0-port0\n"
                                           << "2 /dev/ttyUSB1 pci-0000:00:14.0-usb-0:2:1.0-port0\n";
  fs::create_symlink("/dev/ttyUSB0", bench.ports() / "COM1");
  pty.link_as(bench.ports(), 2);
  EXPECT_THAT(offered(), ElementsAre("Gadget Interface 00 (COM1) = /dev/ttyUSB0",
                                     "Pseudo-terminal (COM2) = " + pty.slave_path(),
                                     "Gadget Interface 00 (COM3) = /dev/ttyUSB1"));
  // A change of owner (chown -R of the bench) leaves a link the numbering's own.
  ASSERT_EQ(::lchown((bench.ports() / "COM3").c_str(), ::getuid(), ::getgid()), 0);
  offered();
  EXPECT_EQ(devices::read_numbers(bench.ports().string()).back().link, devices::MadeLink::stamped);
  // A copied folder's links are new files, judged once by their targets.
  fs::copy(bench.ports(), bench.folder() / "copy",
           fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  fs::remove_all(bench.ports());
  fs::rename(bench.folder() / "copy", bench.ports());
  bench.unplug(second);
  offered();
  EXPECT_EQ(link_of(3), "");
  EXPECT_EQ(link_of(2), pty.slave_path());
  EXPECT_THAT(kept_numbers(), ElementsAre(1, 3));
}
