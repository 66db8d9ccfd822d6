#pragma once

#include <sys/types.h>

#include <compare>
#include <optional>
#include <string>

namespace ports_tool {

// The USB device a serial line belongs to, by its ids as udev matches them (four lower-case
// hexadecimal digits each).
struct UsbModule {
  std::string vendor;
  std::string product;
  auto operator<=>(const UsbModule&) const = default;
};

// What udev knows of the serial line with the device number `devnum`.
struct PortUdev {
  bool known = false;                 // udev has the device (a pseudo-terminal is unknown)
  bool on_usb = false;                // it belongs to a USB device
  bool on_board = false;              // a serial line of the computer itself: not USB, not virtual
  std::optional<UsbModule> usb;       // that device's ids, where it has valid ones
  bool modem_daemon_ignores = false;  // it carries ID_MM_DEVICE_IGNORE=1
};

PortUdev look_up_port(dev_t devnum);

}  // namespace ports_tool
