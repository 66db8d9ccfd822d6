#pragma once

#include <string>
#include <vector>

#include "devices/hardware_ports.h"

namespace devices {

// The automatic numbers of a ports folder live in its file "numbers", one line each:
// "<number> <device node the link was last pointed at> <physical path>". The file keeps a socket's
// number while nothing is plugged into it, across restarts of the tool.
constexpr const char* kNumbersFileName = "numbers";

struct NumberEntry {
  unsigned number = 0;
  std::string devnode;
  std::string key;
};

// The entries of the numbers file of `ports_dir`; lines that do not read, and a second entry for a
// number or a physical path already listed, are skipped.
std::vector<NumberEntry> read_numbers(const std::string& ports_dir);

// Brings the COM links of `ports_dir` in step with the hardware present:
// - a port seen for the first time gets the lowest number that neither a link nor an entry uses;
// - a known port's link is pointed at its current device node at each arrival;
// - a link that a person has put in place of a number's automatic link is left alone, and the
//   port behind that number is numbered anew;
// - the automatic link of a port that is gone is taken down (its number stays reserved), so that a
//   device name the kernel hands to another port never shows that port under the old number.
// The folder is locked meanwhile. False, with the reason in `why`, when the folder or the numbers
// file cannot be written.
bool assign_numbers(const std::string& ports_dir, const std::vector<HardwarePort>& present,
                    std::string* why);

// Maps the device at `device_path` (a device node, or any link to one) to COM<number> by hand.
// A hardware port keeps that number from then on, wherever it is plugged in again; for any other
// serial device (a pseudo-terminal, a link made by another program) the link is made to the path
// as given. Whatever held the number before loses it.
bool map_device(const std::string& ports_dir, const std::string& device_path, unsigned number,
                const std::vector<HardwarePort>& present, std::string* why);

// Removes COM<number>: its link, and the reservation of an automatic number.
bool unmap_number(const std::string& ports_dir, unsigned number, std::string* why);

}  // namespace devices
