#pragma once

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace testing_support {

// A bench folder as the working directory, and a mocked /sys and /dev in which serial devices are
// plugged in and pulled out. Needs the umockdev preload library (the tests run under
// umockdev-wrapper); a test that runs without it fails at once.
class UmockdevBench {
 public:
  UmockdevBench();
  ~UmockdevBench();
  UmockdevBench(const UmockdevBench&) = delete;
  UmockdevBench& operator=(const UmockdevBench&) = delete;

  // Plugs in a USB serial line `name` (ttyUSB<k>) on interface `interface` of the device in
  // socket `usb_port`: device, interface and line, with the udev data of a real one. Gives the
  // line's sysfs path.
  std::string plug(const std::string& name, int usb_port, int interface,
                   const std::string& model = "Gadget", const std::string& interface_text = "");
  // Whether plugged lines carry the data that udevd adds (their physical path among them).
  bool udevd_data = true;

  // A legacy ttyS line: `uart_type` 0 is a placeholder without a UART.
  std::string add_legacy_serial(const std::string& name, int uart_type);
  // Pulls out the USB device that holds the line at `tty_syspath`, with its removal event.
  void unplug(const std::string& tty_syspath);

  const std::filesystem::path& folder() const { return bench_.path(); }
  std::filesystem::path ports() const { return bench_.path() / "ports"; }

 private:
  // Adds the device at `path` (below /sys) with its udev data, unless it is there already.
  void add(const std::string& path, const std::string& record);
  UMockdevTestbed* testbed_ = nullptr;
  std::vector<std::string> added_;  // in the order added
  TempDir bench_;
  ScopedWorkingDirectory cwd_{bench_.path()};
};

}  // namespace testing_support
