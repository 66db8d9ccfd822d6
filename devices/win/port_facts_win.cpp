// What Windows tells of COM<n> for the record of a run: its device name. The socket and the USB
// serial number are not looked up.
#include "devices/port_facts.h"
#include "platform/com_ports.h"

namespace devices {

engine::PortFacts port_facts(int com) {
  engine::PortFacts facts;
  if (com > 0) facts.device = platform::com_link_path(static_cast<unsigned>(com));
  return facts;
}

}  // namespace devices
