#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct udev;
struct udev_monitor;

namespace devices {

// The codes of a device-change notice for a port, as the main dialog handles them.
constexpr uint32_t DBT_DEVICEARRIVAL = 0x8000;
constexpr uint32_t DBT_DEVICEREMOVECOMPLETE = 0x8004;
constexpr uint32_t DBT_DEVTYP_PORT = 3;

struct PortNotice {
  uint32_t event = 0;  // DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE
  uint32_t device_type = DBT_DEVTYP_PORT;
  std::string port_name;  // "COM7"
};

// Watches the serial ports of the ports folder and turns every change of the offered set into
// arrival and removal notices. It listens to udev (hardware ports come and go) and to the ports
// folder and /dev/pts (links made by hand, pseudo-terminals opened and closed) through one
// descriptor, so that the window's own event loop can wait on it: no thread of its own, and the
// notices come out on the thread that calls take_notices().
class PortWatcher {
 public:
  // Takes the ports offered now as its starting point; they bring no notices.
  PortWatcher();
  ~PortWatcher();
  PortWatcher(const PortWatcher&) = delete;
  PortWatcher& operator=(const PortWatcher&) = delete;

  // Readable whenever something may have changed (for a QSocketNotifier of type Read).
  int fd() const { return epoll_fd_; }

  // Reads what has happened without waiting, takes the offered set again if anything did, and
  // gives the difference: removals first, then arrivals, each in ascending COM number. A number
  // that now stands for another device is removed and arrives again.
  std::vector<PortNotice> take_notices();

 private:
  bool drain_udev();
  bool drain_inotify();
  void watch_ports_folder();
  std::map<unsigned, dev_t> offered_now();

  std::string ports_dir_;
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  int inotify_fd_ = -1;
  int epoll_fd_ = -1;
  int parent_watch_ = -1;
  std::map<unsigned, dev_t> offered_;
};

}  // namespace devices
