// Windows numbers the ports itself: a bench has no ports folder to prepare, and every COM number
// opens the port the system gave it.
#include "devices/bench_ports.h"
#include "devices/port_census.h"

namespace devices {

int prepare_bench_ports() {
  return GetDevicePorts();
}

}  // namespace devices
