#include "devices/hardware_ports.h"

#include <dirent.h>
#include <libudev.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

namespace devices {

namespace {

constexpr const char* kTtyClass = "/sys/class/tty";

struct UdevDeleter {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

std::string text_or_empty(const char* text) {
  return text ? text : "";
}

// udev's escaped form of a string from the device ("\x20" for a blank).
std::string decode_udev_escapes(const std::string& encoded) {
  std::string out;
  for (size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] == '\\' && i + 3 < encoded.size() && encoded[i + 1] == 'x' &&
        std::isxdigit(static_cast<unsigned char>(encoded[i + 2])) &&
        std::isxdigit(static_cast<unsigned char>(encoded[i + 3]))) {
      out += static_cast<char>(std::strtol(encoded.substr(i + 2, 2).c_str(), nullptr, 16));
      i += 3;
    } else {
      out += encoded[i];
    }
  }
  return out;
}

// A legacy ttyS line that the kernel keeps whether or not a UART exists reports port type 0.
bool is_placeholder(udev_device* tty) {
  const char* type = udev_device_get_sysattr_value(tty, "type");
  return std::strncmp(udev_device_get_sysname(tty), "ttyS", 4) == 0 && type &&
         std::strtol(type, nullptr, 10) == 0;
}

std::string describe(udev_device* tty) {
  std::string model = text_or_empty(udev_device_get_property_value(tty, "ID_MODEL_FROM_DATABASE"));
  if (model.empty())
    model = decode_udev_escapes(text_or_empty(udev_device_get_property_value(tty, "ID_MODEL_ENC")));
  if (model.empty()) {
    model = text_or_empty(udev_device_get_property_value(tty, "ID_MODEL"));
    std::replace(model.begin(), model.end(), '_', ' ');
  }
  // A module brings several ports; its interface tells them apart.
  std::string part;
  if (udev_device* interface =
          udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_interface"))
    part = text_or_empty(udev_device_get_sysattr_value(interface, "interface"));
  if (part.empty()) {
    std::string number = text_or_empty(udev_device_get_property_value(tty, "ID_USB_INTERFACE_NUM"));
    if (!number.empty()) part = "Interface " + number;
  }
  if (model.empty()) return part;
  return part.empty() ? model : model + " " + part;
}

// udev's ID_PATH, or the sysfs path of the device the line belongs to where udevd gave none; the
// port number within a multi-port USB adapter is added, as udev's own by-path links do.
std::string physical_key(udev_device* tty) {
  std::string key = text_or_empty(udev_device_get_property_value(tty, "ID_PATH"));
  if (key.empty()) {
    // The port device of a USB adapter carries the kernel's name of the line, which changes
    // with the order of plugging; the interface above it does not.
    udev_device* parent = udev_device_get_parent(tty);
    while (parent && text_or_empty(udev_device_get_subsystem(parent)) == "usb-serial")
      parent = udev_device_get_parent(parent);
    key = text_or_empty(udev_device_get_devpath(parent));
  }
  if (udev_device* serial =
          udev_device_get_parent_with_subsystem_devtype(tty, "usb-serial", nullptr))
    if (const char* port = udev_device_get_sysattr_value(serial, "port_number"))
      key += std::string("-port") + port;
  return key;
}

// Orders texts as a person would: runs of digits compare by their value.
bool natural_less(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    bool da = std::isdigit(static_cast<unsigned char>(a[i]));
    bool db = std::isdigit(static_cast<unsigned char>(b[j]));
    if (da && db) {
      size_t ei = a.find_first_not_of("0123456789", i), ej = b.find_first_not_of("0123456789", j);
      std::string na = a.substr(i, ei == std::string::npos ? std::string::npos : ei - i);
      std::string nb = b.substr(j, ej == std::string::npos ? std::string::npos : ej - j);
      na.erase(0, std::min(na.find_first_not_of('0'), na.size()));
      nb.erase(0, std::min(nb.find_first_not_of('0'), nb.size()));
      if (na.size() != nb.size()) return na.size() < nb.size();
      if (na != nb) return na < nb;
      i = ei == std::string::npos ? a.size() : ei;
      j = ej == std::string::npos ? b.size() : ej;
      continue;
    }
    if (a[i] != b[j]) return a[i] < b[j];
    ++i;
    ++j;
  }
  return a.size() - i < b.size() - j;
}

}  // namespace

std::vector<HardwarePort> find_hardware_ports() {
  std::vector<HardwarePort> ports;
  UdevPtr<udev> context(udev_new());
  if (!context) return ports;
  // The class folder is read directly rather than through a udev enumeration: most of its entries
  // are virtual terminals, which a look at their link rules out long before udev would have read
  // their data.
  DIR* folder = ::opendir(kTtyClass);
  if (!folder) return ports;
  while (dirent* entry = ::readdir(folder)) {
    if (entry->d_name[0] == '.') continue;
    char target[PATH_MAX];
    std::string link = std::string(kTtyClass) + "/" + entry->d_name;
    ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
    if (length <= 0) continue;
    target[length] = '\0';
    // Virtual terminals, the console and ptmx have no hardware behind them.
    if (std::strstr(target, "/devices/virtual/")) continue;
    UdevPtr<udev_device> tty(
        udev_device_new_from_subsystem_sysname(context.get(), "tty", entry->d_name));
    if (!tty || !udev_device_get_parent(tty.get()) || !udev_device_get_devnode(tty.get()) ||
        is_placeholder(tty.get()))
      continue;
    std::string key = physical_key(tty.get());
    if (key.empty()) continue;
    ports.push_back({key, udev_device_get_devnode(tty.get()), describe(tty.get()),
                     udev_device_get_devnum(tty.get())});
  }
  ::closedir(folder);

  std::sort(ports.begin(), ports.end(), [](const HardwarePort& a, const HardwarePort& b) {
    return natural_less(a.key, b.key);
  });
  // Lines that share a physical path (several ports behind one interface) are told apart by
  // their kernel names, so that no two of them ever compete for one number.
  std::map<std::string, int> uses;
  for (const HardwarePort& p : ports) ++uses[p.key];
  for (HardwarePort& p : ports)
    if (uses[p.key] > 1) p.key += "-" + p.devnode.substr(p.devnode.rfind('/') + 1);
  return ports;
}

}  // namespace devices
