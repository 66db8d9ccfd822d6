// The COM port namespace of Windows: COM<n> is the device \\.\COM<n> itself. There is no ports
// folder; the system numbers the ports.
#include "platform/com_ports.h"

#include <mutex>

#include "platform/win/wide_text.h"
#include "platform/win/win_serial_port.h"

namespace platform {

namespace {
std::mutex opener_mutex;
PortOpener opener;
PortGuard guard;
}  // namespace

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
  PortGuard check;
  {
    std::lock_guard lock(opener_mutex);
    if (opener) return opener(n, why);
    check = guard;
  }
  if (check && !check(n, WinSerialPort::device_name(n), why)) return nullptr;
  return WinSerialPort::open(n, why);
}

void set_port_opener(PortOpener o) {
  std::lock_guard lock(opener_mutex);
  opener = std::move(o);
}

void set_port_guard(PortGuard g) {
  std::lock_guard lock(opener_mutex);
  guard = std::move(g);
}

}  // namespace platform
