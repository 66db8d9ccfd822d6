#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "tests/devices/umockdev_bench.h"
#include "tests/ports/mock_usb.h"
#include "tests/support/pseudo_terminal.h"

using testing_support::run_command;

namespace {

std::vector<std::string> lines_of(const std::string& text, bool comments) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && (line[0] == '#') == comments) lines.push_back(line);
  return lines;
}

}  // namespace

TEST(UdevRuleTest, OneRulePairForEachUsbModuleOnStandardOutput) {
  testing_support::UmockdevBench bench;
  // Two modules of one kind, one of them with two ports, and one of another kind.
  std::string first = bench.plug("ttyUSB0", 1, 0);
  testing_support::set_usb_ids(first, "2c7c", "0125");
  bench.plug("ttyUSB1", 1, 2);
  std::string second = bench.plug("ttyUSB2", 2, 0);
  testing_support::set_usb_ids(second, "1e0e", "9001");
  std::string third = bench.plug("ttyUSB3", 3, 0);
  testing_support::set_usb_ids(third, "2c7c", "0125");
  bench.add_legacy_serial("ttyS0", 4);  // a line without a USB device: COM1
  testing_support::PseudoTerminal pty;
  pty.link_as(bench.ports(), 9);

  int status = -1;
  std::string rule = run_command(std::string(QUILL_PORTS) + " udev-rule", &status);
  EXPECT_EQ(status, 0);
  auto rules = [](const std::string& vendor, const std::string& product) {
    std::string set = R"(, ENV{ID_MM_DEVICE_IGNORE}="1", TAG+="uaccess")";
    return std::vector<std::string>{
        R"(SUBSYSTEM=="usb", ENV{DEVTYPE}=="usb_device", ATTR{idVendor}==")" + vendor +
            R"(", ATTR{idProduct}==")" + product + "\"" + set,
        R"(SUBSYSTEM=="tty", ATTRS{idVendor}==")" + vendor + R"(", ATTRS{idProduct}==")" + product +
            "\"" + set};
  };
  std::vector<std::string> expected = rules("1e0e", "9001"), second_kind = rules("2c7c", "0125");
  expected.insert(expected.end(), second_kind.begin(), second_kind.end());
  EXPECT_EQ(lines_of(rule, false), expected);
  std::vector<std::string> comments = lines_of(rule, true);
  EXPECT_THAT(comments, testing::Contains("# 2c7c:0125 (COM2, COM3, COM5)"));
  EXPECT_THAT(comments, testing::Contains("#   quillmark-ports udev-rule | sudo tee "
                                          "/etc/udev/rules.d/70-quillmark.rules"));
  EXPECT_THAT(comments, testing::Contains("#   sudo udevadm control --reload"));
  EXPECT_THAT(comments, testing::Contains("#   sudo udevadm trigger"));
  for (const std::string& line : comments) EXPECT_LE(line.size(), 80u) << line;

  // Without the USB modules the rule has nothing to match: nothing on standard output.
  for (const std::string& line : {first, second, third}) bench.unplug(line);
  EXPECT_EQ(run_command(std::string(QUILL_PORTS) + " udev-rule 2>/dev/null", &status), "");
  EXPECT_EQ(status, 1);
  EXPECT_THAT(run_command(std::string(QUILL_PORTS) + " udev-rule 2>&1 >/dev/null", &status),
              testing::HasSubstr("no USB module is plugged in"));
}
