#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace devices {

// A serial port of the hardware as udev sees it.
struct HardwarePort {
  std::string key;          // the physical path: the same socket gives the same key every time
  std::string devnode;      // its device node now, e.g. /dev/ttyUSB0
  std::string description;  // as the device describes itself, not yet cleaned
  dev_t devnum = 0;
};

// The serial ports present now, ordered by physical path (digits compared as numbers, so the
// interfaces of one module come in their own order). Virtual terminals, pseudo-terminals and the
// legacy ttyS placeholders that have no UART behind them are left out. Empty when udev cannot be
// read at all.
std::vector<HardwarePort> find_hardware_ports();

}  // namespace devices
