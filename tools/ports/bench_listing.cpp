#include "tools/ports/bench_listing.h"

#include <algorithm>
#include <map>

#include "devices/hardware_ports.h"
#include "devices/port_numbers.h"
#include "platform/com_ports.h"

namespace ports_tool {

const char* state_name(PortState state) {
  switch (state) {
    case PortState::present:
      return "present";
    case PortState::absent:
      return "absent";
    case PortState::twin:
      return "twin";
    case PortState::reserved:
      return "reserved";
  }
  return "?";
}

std::optional<Bench> read_bench(int* error) {
  std::vector<devices::HardwarePort> hardware = devices::find_hardware_ports();
  std::string dir = platform::ports_directory();
  Bench bench;
  bench.numbered = devices::assign_numbers(dir, hardware, &bench.numbering_failure);
  std::optional<std::vector<devices::ComPort>> links =
      devices::read_port_namespace(hardware, error);
  if (!links) return std::nullopt;

  std::map<unsigned, BenchPort> ports;
  // A kept number is absent, or its port is in use under a number given by hand.
  for (const devices::NumberEntry& e : devices::read_numbers(dir)) {
    ports[e.number] = {e.number, PortState::absent, "",
                       "kept for " + e.key + ", last seen as " + e.devnode, std::nullopt};
    auto port = std::find_if(hardware.begin(), hardware.end(),
                             [&](const devices::HardwarePort& h) { return h.key == e.key; });
    for (const devices::ComPort& other : *links)
      if (port != hardware.end() && other.present && other.same_as == 0 &&
          other.devnum == port->devnum && other.number != e.number)
        ports[e.number] = {e.number, PortState::reserved, "",
                           "kept for " + e.key + ", in use as COM" + std::to_string(other.number),
                           std::nullopt};
  }
  for (const devices::ComPort& link : *links) {
    if (!link.present)
      ports[link.number] = {link.number, PortState::absent, link.target, link.why_absent, link};
    else if (link.same_as)
      ports[link.number] = {link.number, PortState::twin, link.device,
                            "same device as COM" + std::to_string(link.same_as), link};
    else
      ports[link.number] = {link.number, PortState::present, link.device, link.description, link};
  }
  for (auto& [number, port] : ports) bench.ports.push_back(std::move(port));
  return bench;
}

}  // namespace ports_tool
