#include "devices/port_facts.h"

#include <libudev.h>
#include <sys/stat.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/com_ports.h"

namespace devices {

namespace {

struct UdevDeleter {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
};

std::string property(udev_device* device, const char* name) {
  const char* value = udev_device_get_property_value(device, name);
  return value ? value : "";
}

}  // namespace

engine::PortFacts port_facts(int com) {
  engine::PortFacts facts;
  if (com <= 0) return facts;
  std::optional<std::string> device = platform::resolve_com_port(static_cast<unsigned>(com));
  if (!device) return facts;
  facts.device = *device;
  struct stat st {};
  if (::stat(device->c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return facts;
  std::unique_ptr<udev, UdevDeleter> context(udev_new());
  if (!context) return facts;
  std::unique_ptr<udev_device, UdevDeleter> entry(
      udev_device_new_from_devnum(context.get(), 'c', st.st_rdev));
  if (!entry) return facts;
  facts.id_path = property(entry.get(), "ID_PATH");
  facts.serial = property(entry.get(), "ID_SERIAL_SHORT");
  return facts;
}

}  // namespace devices
