#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devices/hardware_ports.h"

namespace devices {

// The highest COM number the namespace uses. Every number fits the 32-bit fields of the slots and
// the settings, and a notice's port name "COM<n>" stays within the 9 characters that its reader
// takes.
constexpr unsigned kMaxComNumber = 999999;

// The number of a link named exactly "COM<n>" (no sign, no leading zero, 1 to kMaxComNumber).
std::optional<unsigned> com_link_number(std::string_view name);

// One COM<n> link of the ports folder.
struct ComPort {
  unsigned number = 0;
  std::string target;       // the link as written
  std::string device;       // the device path it resolves to ("" when it leads nowhere)
  bool present = false;     // it resolves to a device that may be offered and opened
  std::string why_absent;   // for a number that is not present
  unsigned same_as = 0;     // a lower number that reaches the same device, or 0
  dev_t devnum = 0;         // of a present device
  std::string description;  // cleaned, for a present device
  std::string friendly_name;
};

// Every COM link of the ports folder in ascending order, present or not, the links resolved in
// user space. `hardware` supplies the descriptions of the devices udev knows. Nothing (and the
// error number in `error`) when the folder exists but cannot be listed; a missing folder holds no
// ports.
std::optional<std::vector<ComPort>> read_port_namespace(const std::vector<HardwarePort>& hardware,
                                                        int* error = nullptr);

// The ports that are offered: present, and each device once, under its lowest number.
std::vector<ComPort> offered_ports(const std::vector<ComPort>& all);

// Numbers the hardware present, then reads the namespace: what the census and the watcher see.
std::optional<std::vector<ComPort>> scan_ports(int* error = nullptr);

}  // namespace devices
