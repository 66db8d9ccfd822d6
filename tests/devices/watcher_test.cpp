#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <filesystem>
#include <memory>

#include "devices/port_watcher.h"
#include "tests/devices/umockdev_bench.h"
#include "tests/support/pseudo_terminal.h"

namespace fs = std::filesystem;
using devices::DBT_DEVICEARRIVAL;
using devices::DBT_DEVICEREMOVECOMPLETE;
using testing::ElementsAre;

namespace {

// The notices as "+COM1" (arrival) and "-COM1" (removal), gathered the way an event loop would:
// waiting on the watcher's descriptor, until `count` have come or nothing more comes.
std::vector<std::string> wait_for_notices(devices::PortWatcher& watcher, size_t count) {
  std::vector<std::string> seen;
  while (seen.size() < count) {
    pollfd p{watcher.fd(), POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) break;
    for (const devices::PortNotice& notice : watcher.take_notices()) {
      EXPECT_EQ(notice.device_type, devices::DBT_DEVTYP_PORT);
      EXPECT_TRUE(notice.event == DBT_DEVICEARRIVAL || notice.event == DBT_DEVICEREMOVECOMPLETE);
      seen.push_back((notice.event == DBT_DEVICEARRIVAL ? "+" : "-") + notice.port_name);
    }
  }
  return seen;
}

class WatcherTest : public ::testing::Test {
 protected:
  testing_support::UmockdevBench bench;
};

}  // namespace

TEST_F(WatcherTest, PluggingAndPullingAModuleBringsNoticesForEachPort) {
  std::string first = bench.plug("ttyUSB0", 1, 0);
  devices::PortWatcher watcher;
  EXPECT_TRUE(watcher.take_notices().empty());  // what is there at the start brings nothing

  std::string second = bench.plug("ttyUSB1", 2, 0);
  std::string third = bench.plug("ttyUSB2", 2, 1);
  EXPECT_THAT(wait_for_notices(watcher, 2), ElementsAre("+COM2", "+COM3"));
  bench.unplug(second);
  EXPECT_THAT(wait_for_notices(watcher, 2), ElementsAre("-COM2", "-COM3"));
  bench.unplug(first);
  EXPECT_THAT(wait_for_notices(watcher, 1), ElementsAre("-COM1"));
  // The socket comes back under its own number.
  bench.plug("ttyUSB5", 2, 1);
  EXPECT_THAT(wait_for_notices(watcher, 1), ElementsAre("+COM3"));
}

TEST_F(WatcherTest, PseudoTerminalsLinkedByHandComeAndGo) {
  devices::PortWatcher watcher;  // started before the ports folder exists
  auto pty = std::make_unique<testing_support::PseudoTerminal>();
  pty->link_as(bench.ports(), 4);
  EXPECT_THAT(wait_for_notices(watcher, 1), ElementsAre("+COM4"));

  // The number now stands for another device: it goes and comes again.
  testing_support::PseudoTerminal other;
  fs::remove(bench.ports() / "COM4");
  other.link_as(bench.ports(), 4);
  pty->link_as(bench.ports(), 6);
  EXPECT_THAT(wait_for_notices(watcher, 3), ElementsAre("-COM4", "+COM4", "+COM6"));

  pty.reset();  // closing it removes its device
  EXPECT_THAT(wait_for_notices(watcher, 1), ElementsAre("-COM6"));
  fs::remove_all(bench.ports());
  EXPECT_THAT(wait_for_notices(watcher, 1), ElementsAre("-COM4"));
}
