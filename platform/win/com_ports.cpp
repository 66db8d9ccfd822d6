// The COM port namespace of Windows: COM<n> is the device \\.\COM<n> itself. There is no ports
// folder; the system numbers the ports.
#include "platform/com_ports.h"

#include "platform/port_seams.h"
#include "platform/win/wide_text.h"
#include "platform/win/win_serial_port.h"

namespace platform {

std::string ports_directory() {
  return "\\\\.\\";
}

std::string com_link_path(unsigned n) {
  return WinSerialPort::device_name(n);
}

std::optional<std::string> resolve_com_port(unsigned n) {
  if (n == 0) return std::nullopt;
  // The port exists when the system's device namespace holds its name.
  wchar_t target[1024];
  const std::wstring name = L"COM" + std::to_wstring(n);
  if (::QueryDosDeviceW(name.c_str(), target, sizeof target / sizeof target[0]) == 0)
    return std::nullopt;
  return WinSerialPort::device_name(n);
}

std::optional<std::string> resolve_device_path(const std::string& path) {
  if (path.empty()) return std::nullopt;
  return path;
}

std::shared_ptr<SerialPort> open_com_port(unsigned n, std::string* why) {
  std::shared_ptr<SerialPort> port;
  PortGuard check;
  if (detail::open_through_test_opener(n, why, &port, &check)) return port;
  if (check && !check(n, WinSerialPort::device_name(n), why)) return nullptr;
  return WinSerialPort::open(n, why);
}

}  // namespace platform
