#pragma once

#include <string>
#include <vector>

#include "tools/ports/bench_listing.h"
#include "tools/ports/port_udev.h"

namespace ports_tool {

// A USB module of the bench: its ids and the COM numbers of its present ports.
struct BenchModule {
  UsbModule ids;
  std::vector<unsigned> numbers;
};

// The USB devices behind the present ports of `bench`, each pair of ids once, in order of the ids.
// Ports without a USB device (on-board lines, pseudo-terminals) are left out.
std::vector<BenchModule> usb_modules(const Bench& bench);

// The udev rules file that keeps the modem daemon off `modules` and gives the user at the seat
// their ports, with the commands that install it as comments.
std::string udev_rule_text(const std::vector<BenchModule>& modules);

// `quillmark-ports udev-rule`: the rules file on standard output; exit 1 when no USB module is
// present or the bench cannot be read.
int print_udev_rule();

}  // namespace ports_tool
