#include "devices/bench_ports.h"

#include <string>

#include "devices/port_census.h"
#include "devices/port_numbers.h"
#include "engine/notifications.h"
#include "platform/com_ports.h"

namespace devices {

namespace {

bool guard_opening(unsigned n, const std::string& device, std::string* why) {
  std::string reason;
  if (may_open_port(platform::ports_directory(), n, device, &reason)) return true;
  engine::debug_trace("Port not opened: %s\n", reason.c_str());
  if (why) *why = reason;
  return false;
}

}  // namespace

int prepare_bench_ports() {
  platform::set_port_guard(guard_opening);
  return GetDevicePorts();
}

}  // namespace devices
