// The census of Windows: the present devices of the Ports setup class, or, where that class lists
// no COM port (Wine lists none), the serial ports the system has named in the registry.
#include <windows.h>
// windows.h first: the set-up interface needs its types.
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <utility>

#include "devices/friendly_name.h"
#include "devices/port_census.h"
#include "devices/port_namespace.h"
#include "engine/notifications.h"
#include "platform/win/wide_text.h"

namespace devices {

namespace {

using platform::win::narrow;

// The number of a port named exactly "COM<n>" (no sign, no leading zero, 1 to kMaxComNumber).
std::optional<unsigned> port_number(std::string_view name) {
  if (name.size() < 4 || name.size() > 9 || name.substr(0, 3) != "COM" || name[3] == '0')
    return std::nullopt;
  unsigned value = 0;
  for (char c : name.substr(3)) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value > kMaxComNumber) return std::nullopt;
  return value;
}

// The serial ports named under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM ("\Device\Serial0" = "COM1"),
// in ascending COM number, as friendly names.
std::vector<std::optional<std::string>> registry_port_names() {
  std::vector<std::pair<unsigned, std::string>> found;
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS)
    return {};
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD name_length = sizeof name / sizeof name[0];
    wchar_t data[64] = {};
    DWORD data_size = sizeof data - sizeof data[0];  // room for a terminating zero
    DWORD type = 0;
    LONG r = ::RegEnumValueW(key, index, name, &name_length, nullptr, &type,
                             reinterpret_cast<BYTE*>(data), &data_size);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r != ERROR_SUCCESS || type != REG_SZ) continue;
    const std::string port = narrow(std::wstring_view(data, wcsnlen(data, 63)));
    std::optional<unsigned> number = port_number(port);
    if (!number) continue;
    found.emplace_back(*number,
                       friendly_name(narrow(std::wstring_view(name, name_length)), *number));
  }
  ::RegCloseKey(key);
  std::sort(found.begin(), found.end());
  std::vector<std::optional<std::string>> names;
  for (auto& [number, name] : found) names.emplace_back(std::move(name));
  return names;
}

}  // namespace

int GetDevicePorts() {
  HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) {
    engine::debug_trace("Error! SetupDiGetClassDevs() return %d\n",
                        static_cast<int>(::GetLastError()));
    return 0;
  }
  std::vector<std::optional<std::string>> names;
  bool com_port_listed = false;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set, index, &device); ++index) {
    // 260 bytes, as every reader of friendly names expects.
    wchar_t buffer[130] = {};
    if (!::SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME, nullptr,
                                             reinterpret_cast<BYTE*>(buffer),
                                             sizeof buffer - sizeof buffer[0], nullptr)) {
      names.emplace_back(std::nullopt);
      continue;
    }
    std::string name = census_name(narrow(std::wstring_view(buffer, wcsnlen(buffer, 129))));
    com_port_listed = com_port_listed || name.find("(COM") != std::string::npos;
    names.emplace_back(std::move(name));
  }
  ::SetupDiDestroyDeviceInfoList(set);
  if (!com_port_listed) {
    std::vector<std::optional<std::string>> named = registry_port_names();
    if (!named.empty()) names = std::move(named);
  }
  return take_census(names);
}

}  // namespace devices
