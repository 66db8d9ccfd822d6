#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/serial_port.h"

namespace platform {

// The COM port namespace: the port COM<n> is the symbolic link ports/COM<n> in the working
// directory, pointing at a device path. A bench folder therefore holds every setting of its bench.

// "<working directory>/ports".
std::string ports_directory();

// The path of the link of COM<n>.
std::string com_link_path(unsigned n);

// The device path that COM<n> stands for, its links resolved in user space; nothing when there is
// no such link or it leads nowhere.
std::optional<std::string> resolve_com_port(unsigned n);

// The same for any absolute path: where it leads, every link resolved in user space.
std::optional<std::string> resolve_device_path(const std::string& path);

// Opens COM<n> as a serial port. Gives null and the reason in `why` when it cannot be opened.
std::shared_ptr<SerialPort> open_com_port(unsigned n, std::string* why = nullptr);

// Consulted by open_com_port once COM<n> has been resolved to `device` and before the device is
// opened: false, with the reason in `why`, refuses the opening. The port numbering installs one so
// that a link it made can never lead to a port that now belongs to another module; without one,
// every port that resolves is opened. An empty function removes it.
using PortGuard = std::function<bool(unsigned n, const std::string& device, std::string* why)>;
void set_port_guard(PortGuard guard);

// Replaces how COM ports are opened (tests put in-memory modules behind the numbers); an empty
// function restores the device namespace.
using PortOpener = std::function<std::shared_ptr<SerialPort>(unsigned n, std::string* why)>;
void set_port_opener(PortOpener opener);

}  // namespace platform
