#include "platform/port_seams.h"

#include <mutex>

namespace platform {

namespace {
std::mutex seams_mutex;
PortOpener opener;
PortGuard guard;
}  // namespace

namespace detail {

bool open_through_test_opener(unsigned n, std::string* why, std::shared_ptr<SerialPort>* port,
                              PortGuard* check) {
  std::lock_guard lock(seams_mutex);
  if (opener) {
    *port = opener(n, why);
    return true;
  }
  *check = guard;  // called outside the lock: it may take a while, and may trace
  return false;
}

}  // namespace detail

void set_port_opener(PortOpener o) {
  std::lock_guard lock(seams_mutex);
  opener = std::move(o);
}

void set_port_guard(PortGuard g) {
  std::lock_guard lock(seams_mutex);
  guard = std::move(g);
}

}  // namespace platform
