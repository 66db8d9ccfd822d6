#include "tools/ports/port_udev.h"

#include <libudev.h>

#include <cctype>
#include <cstring>
#include <memory>

namespace ports_tool {

namespace {

struct UdevDeleter {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

// A USB id as the kernel shows it: four hexadecimal digits. Anything else is never put into a rule.
std::optional<std::string> usb_id(const char* text) {
  if (!text || std::strlen(text) != 4) return std::nullopt;
  std::string id;
  for (const char* c = text; *c; ++c) {
    if (!std::isxdigit(static_cast<unsigned char>(*c))) return std::nullopt;
    id += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
  }
  return id;
}

}  // namespace

PortUdev look_up_port(dev_t devnum) {
  PortUdev found;
  UdevPtr<udev> context(udev_new());
  if (!context) return found;
  UdevPtr<udev_device> line(udev_device_new_from_devnum(context.get(), 'c', devnum));
  if (!line) return found;
  found.known = true;
  const char* ignore = udev_device_get_property_value(line.get(), "ID_MM_DEVICE_IGNORE");
  found.modem_daemon_ignores = ignore && std::strcmp(ignore, "1") == 0;
  // The parent belongs to the line and goes with it.
  if (udev_device* device =
          udev_device_get_parent_with_subsystem_devtype(line.get(), "usb", "usb_device")) {
    found.on_usb = true;
    std::optional<std::string> vendor = usb_id(udev_device_get_sysattr_value(device, "idVendor"));
    std::optional<std::string> product = usb_id(udev_device_get_sysattr_value(device, "idProduct"));
    if (vendor && product) found.usb = UsbModule{*vendor, *product};
  }
  const char* syspath = udev_device_get_syspath(line.get());
  found.on_board = !found.on_usb && udev_device_get_parent(line.get()) && syspath &&
                   std::strncmp(syspath, "/sys/devices/virtual/", 21) != 0;
  return found;
}

}  // namespace ports_tool
