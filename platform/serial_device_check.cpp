#include "platform/serial_device_check.h"

#include <sys/sysmacros.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace platform {

bool is_pseudo_terminal(dev_t rdev) {
  // UNIX98 pseudo-terminal slaves use the majors 136 to 143.
  unsigned m = major(rdev);
  return m >= 136 && m <= 143;
}

namespace {
bool in_tty_class(dev_t rdev) {
  char link[64];
  std::snprintf(link, sizeof link, "/sys/dev/char/%u:%u/subsystem", major(rdev), minor(rdev));
  char target[PATH_MAX];
  ssize_t n = ::readlink(link, target, sizeof target - 1);
  if (n <= 0) return false;
  target[n] = '\0';
  const char* slash = std::strrchr(target, '/');
  return std::strcmp(slash ? slash + 1 : target, "tty") == 0;
}
}  // namespace

DeviceCheck check_serial_device(const std::string& path, struct stat* out) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return DeviceCheck::missing;
  if (!S_ISCHR(st.st_mode)) return DeviceCheck::not_character_device;
  if (is_pseudo_terminal(st.st_rdev)) {
    if (st.st_uid != ::geteuid()) return DeviceCheck::foreign_terminal;
  } else if (!in_tty_class(st.st_rdev)) {
    return DeviceCheck::not_serial;
  }
  if (out) *out = st;
  return DeviceCheck::ok;
}

const char* describe(DeviceCheck check) {
  switch (check) {
    case DeviceCheck::ok:
      return "ok";
    case DeviceCheck::missing:
      return "no such device";
    case DeviceCheck::not_character_device:
      return "not a character device";
    case DeviceCheck::not_serial:
      return "not a serial line";
    case DeviceCheck::foreign_terminal:
      return "pseudo-terminal of another user";
  }
  return "?";
}

std::string device_holders(const std::string& device) {
  struct stat target {};
  if (::stat(device.c_str(), &target) != 0) return {};
  std::string found;
  std::error_code ec;
  for (const auto& proc : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string pid = proc.path().filename();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code fd_ec;
    for (const auto& fd : std::filesystem::directory_iterator(proc.path() / "fd", fd_ec)) {
      struct stat st {};
      if (::stat(fd.path().c_str(), &st) != 0 || st.st_rdev != target.st_rdev ||
          !S_ISCHR(st.st_mode))
        continue;
      std::string name;
      if (FILE* comm = std::fopen((proc.path() / "comm").c_str(), "re")) {
        char buf[64] = {};
        if (std::fgets(buf, sizeof buf, comm)) name = buf;
        std::fclose(comm);
        if (!name.empty() && name.back() == '\n') name.pop_back();
      }
      if (!found.empty()) found += ", ";
      found += "process " + pid + (name.empty() ? "" : " (" + name + ")");
      break;
    }
  }
  return found;
}

}  // namespace platform
