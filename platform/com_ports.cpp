#include "platform/com_ports.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "platform/port_seams.h"
#include "platform/posix_serial_port.h"

namespace platform {

std::string ports_directory() {
  char cwd[PATH_MAX];
  if (!::getcwd(cwd, sizeof cwd)) return "ports";
  return std::string(cwd) + "/ports";
}

std::string com_link_path(unsigned n) {
  return ports_directory() + "/COM" + std::to_string(n);
}

std::optional<std::string> resolve_com_port(unsigned n) {
  return resolve_device_path(com_link_path(n));
}

std::optional<std::string> resolve_device_path(const std::string& path) {
  // Resolved one component at a time with lstat and readlink instead of realpath, whose links the
  // kernel follows out of sight of a device mock that redirects /dev and /sys at the library calls
  // (the device tests). Dangling links, loops and a file used as a folder lead nowhere, as before.
  constexpr int kMaxLinks = 40;
  std::string pending = path;
  if (pending.empty() || pending.front() != '/') return std::nullopt;  // no working directory
  std::string resolved;  // the real path so far, without a trailing slash ("" is the root)
  int links = 0;
  while (!pending.empty()) {
    size_t start = pending.find_first_not_of('/');
    if (start == std::string::npos) break;
    size_t end = pending.find('/', start);
    std::string part = pending.substr(start, end == std::string::npos ? end : end - start);
    pending.erase(0, end == std::string::npos ? pending.size() : end);
    if (part == ".") continue;
    if (part == "..") {
      resolved.erase(resolved.empty() ? 0 : resolved.rfind('/'));
      continue;
    }
    std::string candidate = resolved + "/" + part;
    struct stat st {};
    if (::lstat(candidate.c_str(), &st) != 0) return std::nullopt;
    if (S_ISLNK(st.st_mode)) {
      char target[PATH_MAX];
      ssize_t length = ::readlink(candidate.c_str(), target, sizeof target - 1);
      if (length <= 0 || ++links > kMaxLinks) return std::nullopt;
      if (target[0] == '/') resolved.clear();
      pending = std::string(target, static_cast<size_t>(length)) + pending;
      continue;
    }
    if (pending.find_first_not_of('/') != std::string::npos && !S_ISDIR(st.st_mode))
      return std::nullopt;
    resolved = std::move(candidate);
  }
  return resolved.empty() ? std::string("/") : resolved;
}

std::shared_ptr<SerialPort> open_com_port(unsigned n, std::string* why) {
  std::shared_ptr<SerialPort> port;
  PortGuard check;
  if (detail::open_through_test_opener(n, why, &port, &check)) return port;
  std::optional<std::string> device = resolve_com_port(n);
  if (!device) {
    if (why) *why = "COM" + std::to_string(n) + " is not present";
    return nullptr;
  }
  if (check && !check(n, *device, why)) return nullptr;
  return PosixSerialPort::open(*device, why);
}

}  // namespace platform
