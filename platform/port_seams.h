#pragma once

// The seams of opening a COM port (a test's opener, the bench's guard), shared by the COM port
// namespaces of both platforms.

#include <memory>
#include <string>

#include "platform/com_ports.h"

namespace platform::detail {

// With a test's opener installed: opens COM<n> through it, under the seams' lock as every opening
// through it is, puts the result in `port` and gives true. Otherwise gives false and the guard
// that the opening must consult (empty when none) in `guard`.
bool open_through_test_opener(unsigned n, std::string* why, std::shared_ptr<SerialPort>* port,
                              PortGuard* guard);

}  // namespace platform::detail
