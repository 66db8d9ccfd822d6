#include "devices/port_namespace.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>

#include "devices/friendly_name.h"
#include "devices/port_numbers.h"
#include "engine/notifications.h"
#include "platform/com_ports.h"
#include "platform/serial_device_check.h"

namespace devices {

std::optional<unsigned> com_link_number(std::string_view name) {
  if (name.size() < 4 || name.size() > 9 || name.substr(0, 3) != "COM" || name[3] == '0')
    return std::nullopt;
  unsigned long long value = 0;
  for (char c : name.substr(3)) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value > kMaxComNumber) return std::nullopt;
  return static_cast<unsigned>(value);
}

namespace {

std::string read_link(const std::string& path) {
  char target[PATH_MAX];
  ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

void resolve(ComPort& port, const std::map<dev_t, const HardwarePort*>& known) {
  port.target = read_link(platform::com_link_path(port.number));
  std::optional<std::string> device = platform::resolve_com_port(port.number);
  if (!device) {
    port.why_absent = "leads to no device";
    return;
  }
  port.device = *device;
  struct stat st {};
  platform::DeviceCheck check = platform::check_serial_device(port.device, &st);
  if (check != platform::DeviceCheck::ok) {
    port.why_absent = platform::describe(check);
    return;
  }
  port.present = true;
  port.devnum = st.st_rdev;
  auto hardware = known.find(st.st_rdev);
  if (hardware != known.end())
    port.description = hardware->second->description;
  else
    port.description = platform::is_pseudo_terminal(st.st_rdev) ? "Pseudo-terminal" : "Serial Port";
  port.description = clean_description(port.description);
  port.friendly_name = friendly_name(port.description, port.number);
}

}  // namespace

std::optional<std::vector<ComPort>> read_port_namespace(const std::vector<HardwarePort>& hardware,
                                                        int* error) {
  std::vector<ComPort> ports;
  DIR* folder = ::opendir(platform::ports_directory().c_str());
  if (!folder) {
    if (errno == ENOENT) return ports;
    if (error) *error = errno;
    return std::nullopt;
  }
  while (dirent* entry = ::readdir(folder)) {
    if (std::optional<unsigned> n = com_link_number(entry->d_name)) {
      ports.emplace_back();
      ports.back().number = *n;
    }
  }
  ::closedir(folder);
  std::sort(ports.begin(), ports.end(),
            [](const ComPort& a, const ComPort& b) { return a.number < b.number; });

  std::map<dev_t, const HardwarePort*> known;
  for (const HardwarePort& h : hardware) known.emplace(h.devnum, &h);
  std::map<dev_t, unsigned> first_number;
  for (ComPort& port : ports) {
    resolve(port, known);
    if (!port.present) continue;
    auto [first, inserted] = first_number.emplace(port.devnum, port.number);
    if (!inserted) port.same_as = first->second;
  }
  return ports;
}

std::vector<ComPort> offered_ports(const std::vector<ComPort>& all) {
  std::vector<ComPort> offered;
  for (const ComPort& port : all)
    if (port.present && port.same_as == 0) offered.push_back(port);
  return offered;
}

std::optional<std::vector<ComPort>> scan_ports(int* error) {
  std::vector<HardwarePort> hardware = find_hardware_ports();
  std::string why;
  if (!assign_numbers(platform::ports_directory(), hardware, &why))
    engine::debug_trace("Serial ports not numbered: %s\n", why.c_str());
  return read_port_namespace(hardware, error);
}

}  // namespace devices
