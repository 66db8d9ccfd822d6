#pragma once

#include <optional>
#include <string>
#include <vector>

#include "devices/port_namespace.h"

namespace ports_tool {

enum class PortState {
  present,   // its link leads to a serial device that may be opened
  absent,    // a number kept for a socket with nothing in it, or a link that leads nowhere usable
  twin,      // a second number for the device of a lower one
  reserved,  // its socket's port is in use under a number given by a link made by hand
};

const char* state_name(PortState state);

// One COM number of the bench folder, as `quillmark-ports list` shows it.
struct BenchPort {
  unsigned number = 0;
  PortState state = PortState::absent;
  std::string device;  // the device, the link as written, or "" when there is none
  std::string text;    // description, or why the number is absent, twin or reserved
  std::optional<devices::ComPort> link;  // its link in ports/, when it has one
};

struct Bench {
  std::vector<BenchPort> ports;   // ascending by number
  bool numbered = true;           // the hardware present has its numbers
  std::string numbering_failure;  // why not
};

// Numbers the serial hardware present (making or re-pointing the bench folder's links), then reads
// every COM number of the bench folder (the working directory): its links and the numbers kept for
// sockets. Nothing, with the error number in `error`, when the ports folder cannot be listed.
std::optional<Bench> read_bench(int* error);

}  // namespace ports_tool
