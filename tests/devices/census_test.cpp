#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "devices/friendly_name.h"
#include "devices/port_census.h"
#include "tests/devices/umockdev_bench.h"
#include "tests/support/debug_capture.h"
#include "tests/support/pseudo_terminal.h"

namespace fs = std::filesystem;
using devices::AtPortCandidates;
using devices::DiagPortCandidates;
using devices::take_census;
using testing::ElementsAre;
using testing_support::PseudoTerminal;

namespace {

using Names = std::vector<std::optional<std::string>>;

// The host's own serial hardware is hidden behind an empty device mock.
class CensusTest : public ::testing::Test {
 protected:
  fs::path ports() const { return bench.ports(); }
  void link(const fs::path& target, unsigned n) {
    fs::create_directories(ports());
    fs::create_symlink(target, ports() / ("COM" + std::to_string(n)));
  }

  testing_support::UmockdevBench bench;
};

}  // namespace

TEST(CensusNamesTest, ReadsTheNumberAfterTheComPart) {
  EXPECT_EQ(take_census({"USB Serial Port (COM12)", "Modem (Interface 3) (COM5)", "A (COM7)",
                         "B (COM7)", "C (COM 9)", "D (COM+4)junk)"}),
            1);
  EXPECT_THAT(AtPortCandidates, ElementsAre(12, 5, 7, 9, 4));
  EXPECT_TRUE(DiagPortCandidates.empty());
}

TEST(CensusNamesTest, NamesWithoutAUsableNumber) {
  testing_support::DebugCapture debug;
  // "(LPT1)" is no COM port at all; "(COM)" and "(COMx)" are, but without a number.
  EXPECT_EQ(take_census({"Printer Port (LPT1)", std::nullopt}), 0);
  EXPECT_EQ(debug.count("GetDevicePorts: SetupDiGetDeviceRegistryProperty() error!!!"), 1);
  EXPECT_EQ(take_census({"Port (COM)", "Port (COMx)", "Port (COM-3)", "Port (COM99999999999)",
                         "Port (COM0)"}),
            1);
  EXPECT_TRUE(AtPortCandidates.empty());
  EXPECT_EQ(take_census({}), 0);
}

TEST(FriendlyNameTest, ADescriptionCannotAddANumberOrGrowTheName) {
  EXPECT_EQ(devices::friendly_name("AT (COM9) Port", 3), "AT COM9 Port (COM3)");
  EXPECT_EQ(devices::friendly_name("  tab\tand\nnew line ", 4), "tab and new line (COM4)");
  EXPECT_EQ(devices::friendly_name("(()", 5), "Serial Port (COM5)");
  std::string name = devices::friendly_name(std::string(300, 'x') + "(COM9", 6);
  EXPECT_EQ(name, std::string(devices::kMaxDescriptionLength, 'x') + " (COM6)");
  EXPECT_EQ(devices::com_number_in_name(name), 6);
}

TEST_F(CensusTest, OffersEveryPresentPortOnceInAscendingOrder) {
  // More ports than the fixed table of twenty that six modules would overflow.
  std::vector<std::unique_ptr<PseudoTerminal>> terminals;
  for (unsigned n = 25; n >= 1; --n) {
    terminals.push_back(std::make_unique<PseudoTerminal>());
    terminals.back()->link_as(ports(), n * 2);
  }
  link(terminals[0]->slave_path(), 1);  // a second link to COM50's device
  EXPECT_EQ(devices::GetDevicePorts(), 1);
  ASSERT_EQ(AtPortCandidates.size(), 25u);
  EXPECT_EQ(AtPortCandidates.front(), 1u);
  for (size_t i = 1; i < 25; ++i) EXPECT_EQ(AtPortCandidates[i], 2 * i) << i;
}

TEST_F(CensusTest, NeverOffersAnEntryThatIsNoSerialLineOfTheUser) {
  PseudoTerminal good;
  PseudoTerminal foreign;
  good.link_as(ports(), 3);
  foreign.link_as(ports(), 4);
  // Giving a pseudo-terminal away needs privileges; without them it stays a port of the user.
  bool given_away = ::chown(foreign.slave_path().c_str(), ::geteuid() == 0 ? 65534 : 0,
                            static_cast<gid_t>(-1)) == 0;
  std::ofstream(bench.folder() / "file") << "x";
  ASSERT_EQ(::mkfifo((bench.folder() / "fifo").c_str(), 0600), 0);
  link(bench.folder() / "file", 5);
  link(bench.folder() / "fifo", 6);
  link("/dev/null", 7);
  link(bench.folder() / "nothing", 8);
  link(ports() / "COM10", 9);  // a loop
  link(ports() / "COM9", 10);
  std::ofstream(ports() / "COM11") << "not a link";
  // Not names of the namespace.
  PseudoTerminal unnamed;
  fs::create_symlink(unnamed.slave_path(), ports() / "COM012");
  fs::create_symlink(unnamed.slave_path(), ports() / "COM1000000");

  EXPECT_EQ(devices::GetDevicePorts(), 1);
  std::vector<uint32_t> expected = {3};
  if (!given_away) expected.push_back(4);
  EXPECT_EQ(AtPortCandidates, expected);
}

TEST_F(CensusTest, NoPortsEmptiesTheLists) {
  AtPortCandidates = {4, 5};
  DiagPortCandidates = {6};
  EXPECT_EQ(devices::GetDevicePorts(), 0);
  EXPECT_TRUE(AtPortCandidates.empty());
  EXPECT_TRUE(DiagPortCandidates.empty());
}

TEST_F(CensusTest, AnUnreadableDeviceSetLeavesTheListsAlone) {
  AtPortCandidates = {4, 5};
  std::ofstream(ports()) << "a file where the folder should be";
  testing_support::DebugCapture debug;
  EXPECT_EQ(devices::GetDevicePorts(), 0);
  EXPECT_THAT(AtPortCandidates, ElementsAre(4, 5));
  EXPECT_EQ(debug.count("Error! SetupDiGetClassDevs() return 20\n"), 1);
  EXPECT_EQ(debug.count("\r\n"), 1);
}
