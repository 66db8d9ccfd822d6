#include "tools/ports/udev_rule.h"

#include <cstdio>
#include <cstring>
#include <map>

#include "platform/com_ports.h"

namespace ports_tool {

namespace {

// The name sorts before 73-seat-late.rules, where the uaccess tag takes effect.
constexpr const char* kRulePath = "/etc/udev/rules.d/70-quillmark.rules";

}  // namespace

std::vector<BenchModule> usb_modules(const Bench& bench) {
  std::map<UsbModule, std::vector<unsigned>> found;
  for (const BenchPort& port : bench.ports) {
    if (port.state != PortState::present || !port.link) continue;
    if (std::optional<UsbModule> ids = look_up_port(port.link->devnum).usb)
      found[*ids].push_back(port.number);
  }
  std::vector<BenchModule> modules;
  for (auto& [ids, numbers] : found) modules.push_back({ids, std::move(numbers)});
  return modules;
}

std::string udev_rule_text(const std::vector<BenchModule>& modules) {
  std::string text =
      "# quillmark bench: ModemManager leaves these modules alone (it would send its\n"
      "# own AT commands to their ports and could hold them), and the user at the seat\n"
      "# may open their ports. A rule matches its ids in every USB socket.\n"
      "#\n"
      "# Install it under a name that sorts before 73-seat-late.rules (which applies\n"
      "# the uaccess tag), then have udev apply it to the devices present:\n"
      "#   quillmark-ports udev-rule | sudo tee " +
      std::string(kRulePath) +
      "\n"
      "#   sudo udevadm control --reload\n"
      "#   sudo udevadm trigger\n"
      "#\n"
      "# Each module has a rule for its USB device and one for its serial ports:\n"
      "# ModemManager reads ID_MM_DEVICE_IGNORE from a port's own device, and uaccess\n"
      "# on the USB device does not open the tty nodes.\n";
  for (const BenchModule& module : modules) {
    std::string ports;
    for (unsigned n : module.numbers)
      ports += (ports.empty() ? "" : ", ") + ("COM" + std::to_string(n));
    text += "\n# " + module.ids.vendor + ":" + module.ids.product + " (" + ports + ")\n";
    text += "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"" +
            module.ids.vendor + "\", ATTR{idProduct}==\"" + module.ids.product +
            "\", ENV{ID_MM_DEVICE_IGNORE}=\"1\", TAG+=\"uaccess\"\n";
    text += "SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"" + module.ids.vendor +
            "\", ATTRS{idProduct}==\"" + module.ids.product +
            "\", ENV{ID_MM_DEVICE_IGNORE}=\"1\", TAG+=\"uaccess\"\n";
  }
  return text;
}

int print_udev_rule() {
  int error = 0;
  std::optional<Bench> bench = read_bench(&error);
  if (!bench) {
    std::fprintf(stderr, "quillmark-ports: %s: %s\n", platform::ports_directory().c_str(),
                 std::strerror(error));
    return 1;
  }
  if (!bench->numbered)
    std::fprintf(stderr, "quillmark-ports: cannot number the ports: %s\n",
                 bench->numbering_failure.c_str());
  std::vector<BenchModule> modules = usb_modules(*bench);
  if (modules.empty()) {
    std::fputs(
        "quillmark-ports: no USB module is plugged in: no port of this bench belongs to a\n"
        "USB device. Plug the modules in, then run it again.\n",
        stderr);
    return 1;
  }
  std::fputs(udev_rule_text(modules).c_str(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace ports_tool
