#include "devices/port_census.h"

#include <algorithm>
#include <limits>

#include "devices/friendly_name.h"
#include "devices/port_namespace.h"
#include "engine/notifications.h"
#include "platform/atol_number.h"

namespace devices {

std::vector<uint32_t> AtPortCandidates;
std::vector<uint32_t> DiagPortCandidates;

bool in_census(int32_t com) {
  return com > 0 && std::find(AtPortCandidates.begin(), AtPortCandidates.end(),
                              static_cast<uint32_t>(com)) != AtPortCandidates.end();
}

std::optional<int64_t> com_number_in_name(std::string_view name) {
  size_t com = name.find("(COM");
  if (com == std::string_view::npos) return std::nullopt;
  std::string_view rest = name.substr(com + 4);
  rest = rest.substr(0, std::min<size_t>(rest.find(')'), 39));
  return platform::atol_number(rest);
}

std::string census_name(std::string_view reported) {
  std::optional<int64_t> number = com_number_in_name(reported);
  if (number && *number > 0 && *number <= kMaxComNumber)
    return friendly_name(reported.substr(0, reported.find("(COM")), static_cast<unsigned>(*number));
  return std::string(reported.substr(0, 259));
}

int take_census(const std::vector<std::optional<std::string>>& friendly_names) {
  AtPortCandidates.clear();
  DiagPortCandidates.clear();
  int found = 0;
  for (const std::optional<std::string>& name : friendly_names) {
    if (!name) {
      engine::debug_trace("GetDevicePorts: SetupDiGetDeviceRegistryProperty() error!!!");
      continue;
    }
    std::optional<int64_t> number = com_number_in_name(*name);
    if (!number) continue;
    found = 1;
    // A number outside the namespace (negative, or beyond any port) is no port to offer.
    if (*number <= 0 || *number > kMaxComNumber) continue;
    uint32_t n = static_cast<uint32_t>(*number);
    if (std::find(AtPortCandidates.begin(), AtPortCandidates.end(), n) == AtPortCandidates.end())
      AtPortCandidates.push_back(n);
  }
  return found;
}

#ifndef _WIN32
int GetDevicePorts() {
  int error = 0;
  std::optional<std::vector<ComPort>> ports = scan_ports(&error);
  if (!ports) {
    engine::debug_trace("Error! SetupDiGetClassDevs() return %d\n", error);
    return 0;
  }
  std::vector<std::optional<std::string>> names;
  for (const ComPort& port : offered_ports(*ports)) names.emplace_back(port.friendly_name);
  return take_census(names);
}
#endif

}  // namespace devices
