#pragma once

#include <sys/stat.h>

#include <string>

namespace platform {

enum class DeviceCheck {
  ok,
  missing,               // nothing at the path
  not_character_device,  // a file, a folder, a FIFO, a block device...
  not_serial,            // a character device that is not a terminal line
  foreign_terminal,      // a pseudo-terminal that belongs to another user
};

// Whether the device at `path` may be offered and opened as a serial port: a character device of
// the tty class, or a pseudo-terminal of the user running the tool. A stale link can therefore
// never reach somebody else's terminal or a device that is not a serial line. `st` receives the
// status of the device on success.
DeviceCheck check_serial_device(const std::string& path, struct stat* st = nullptr);

const char* describe(DeviceCheck check);

// True for the pseudo-terminal slave devices (/dev/pts/N).
bool is_pseudo_terminal(dev_t rdev);

// The processes that hold `device` open, as /proc tells (only those this user may see):
// "process 4711 (minicom), process 4712". Empty when none is seen.
std::string device_holders(const std::string& device);

}  // namespace platform
