#include "engine/port_notices.h"

#include <string>

#include "engine/module_slot.h"
#include "engine/serial_link.h"
#include "platform/atol_number.h"

namespace engine {

int32_t arrival_port_number(std::string_view port_name) {
  std::string digits;
  for (char c : port_name.substr(0, 9)) {
    if (c >= '0' && c <= '9') digits += c;
  }
  return platform::atol_int32(digits);
}

std::optional<int32_t> removal_port_number(std::string_view port_name) {
  const size_t com = port_name.find("COM");
  if (com == std::string_view::npos) return std::nullopt;
  return platform::atol_int32(port_name.substr(com + 3, 9));
}

std::vector<int> on_port_removed(int32_t d) {
  std::vector<int> lost;
  for (ModuleSlot& slot : slots()) {
    if (slot.upgraded.load() == 0 && slot.diagPort == d && d != 0) {
      lost.push_back(slot.index);
      slot.resultOk = 0;
      close_at_port(slot);
    }
    if (!worker_in_progress(slot)) slot.busy = 0;
  }
  return lost;
}

}  // namespace engine
