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

// Opens COM<n> as a serial port. Gives null and the reason in `why` when it cannot be opened.
std::shared_ptr<SerialPort> open_com_port(unsigned n, std::string* why = nullptr);

// Replaces how COM ports are opened (tests put in-memory modules behind the numbers); an empty
// function restores the device namespace.
using PortOpener = std::function<std::shared_ptr<SerialPort>(unsigned n, std::string* why)>;
void set_port_opener(PortOpener opener);

}  // namespace platform
