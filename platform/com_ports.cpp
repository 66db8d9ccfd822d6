#include "platform/com_ports.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <mutex>

#include "platform/posix_serial_port.h"

namespace platform {

namespace {
std::mutex opener_mutex;
PortOpener opener;
}  // namespace

std::string ports_directory() {
  char cwd[PATH_MAX];
  if (!::getcwd(cwd, sizeof cwd)) return "ports";
  return std::string(cwd) + "/ports";
}

std::string com_link_path(unsigned n) {
  return ports_directory() + "/COM" + std::to_string(n);
}

std::optional<std::string> resolve_com_port(unsigned n) {
  char resolved[PATH_MAX];
  if (!::realpath(com_link_path(n).c_str(), resolved)) return std::nullopt;
  return std::string(resolved);
}

std::shared_ptr<SerialPort> open_com_port(unsigned n, std::string* why) {
  {
    std::lock_guard lock(opener_mutex);
    if (opener) return opener(n, why);
  }
  std::optional<std::string> device = resolve_com_port(n);
  if (!device) {
    if (why) *why = "COM" + std::to_string(n) + " is not present";
    return nullptr;
  }
  return PosixSerialPort::open(*device, why);
}

void set_port_opener(PortOpener o) {
  std::lock_guard lock(opener_mutex);
  opener = std::move(o);
}

}  // namespace platform
