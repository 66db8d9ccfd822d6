#include "tests/devices/umockdev_bench.h"

#include <gtest/gtest.h>
#include <umockdev.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace testing_support {

namespace {
constexpr const char* kHostController = "/devices/pci0000:00/0000:00:14.0/usb1";
}

UmockdevBench::UmockdevBench() {
  const char* preload = std::getenv("LD_PRELOAD");
  if (!preload || !std::strstr(preload, "umockdev-preload"))
    ADD_FAILURE() << "run the device tests under umockdev-wrapper";
  testbed_ = umockdev_testbed_new();
}

UmockdevBench::~UmockdevBench() {
  g_object_unref(testbed_);
}

void UmockdevBench::add(const std::string& path, const std::string& record) {
  if (std::find(added_.begin(), added_.end(), path) != added_.end()) return;
  GError* error = nullptr;
  if (!umockdev_testbed_add_from_string(testbed_, ("P: " + path + "\n" + record).c_str(), &error)) {
    ADD_FAILURE() << "testbed: " << (error ? error->message : "?");
    if (error) g_error_free(error);
  }
  added_.push_back(path);
}

std::string UmockdevBench::plug(const std::string& name, int usb_port, int interface,
                                const std::string& model, const std::string& interface_text) {
  std::string device = std::string(kHostController) + "/1-" + std::to_string(usb_port);
  std::string place = std::to_string(usb_port) + ":1." + std::to_string(interface);
  std::string usb_interface = device + "/1-" + place;
  std::string line = usb_interface + "/" + name + "/tty/" + name;
  std::string minor = name.substr(name.find_first_of("0123456789"));
  add(device, "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n");
  add(usb_interface, "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n" +
                         (interface_text.empty() ? "" : "A: interface=" + interface_text + "\n"));
  add(usb_interface + "/" + name, "E: SUBSYSTEM=usb-serial\nA: port_number=0\n");
  // A node with contents: the mock then shows it as the character device of the line.
  add(line, "N: " + name + "=00\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/" + name +
                "\nE: MAJOR=188\nE: MINOR=" + minor + "\nA: dev=188:" + minor +
                (udevd_data ? "\nE: ID_PATH=pci-0000:00:14.0-usb-0:" + place : "") +
                "\nE: ID_MODEL=" + model + "\nE: ID_USB_INTERFACE_NUM=0" +
                std::to_string(interface) + "\n");
  return "/sys" + line;
}

std::string UmockdevBench::add_legacy_serial(const std::string& name, int uart_type) {
  std::string minor = std::to_string(64 + std::atoi(name.c_str() + 4));
  std::string port = "/devices/platform/serial8250/serial8250:0/serial8250:0." + name.substr(4);
  add("/devices/platform/serial8250", "E: SUBSYSTEM=platform\n");
  add(port, "E: SUBSYSTEM=serial-base\n");
  add(port + "/tty/" + name, "N: " + name + "=00\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/" + name +
                                 "\nE: MAJOR=4\nE: MINOR=" + minor + "\nA: dev=4:" + minor +
                                 "\nA: type=" + std::to_string(uart_type) + "\n");
  return "/sys" + port + "/tty/" + name;
}

void UmockdevBench::unplug(const std::string& tty_syspath) {
  // The USB device is the first folder below the host controller; everything below it goes,
  // the lines with a removal event, children before their parents.
  size_t start = tty_syspath.find(kHostController) + std::strlen(kHostController) + 1;
  std::string device = tty_syspath.substr(std::strlen("/sys"), tty_syspath.find('/', start) - 4);
  auto below = [&](const std::string& path) { return path.rfind(device, 0) == 0; };
  for (const std::string& path : added_)
    if (below(path) && path.find("/tty/") != std::string::npos)
      umockdev_testbed_uevent(testbed_, ("/sys" + path).c_str(), "remove");
  for (auto path = added_.rbegin(); path != added_.rend(); ++path)
    if (below(*path)) umockdev_testbed_remove_device(testbed_, ("/sys" + *path).c_str());
  std::erase_if(added_, below);
}

}  // namespace testing_support
