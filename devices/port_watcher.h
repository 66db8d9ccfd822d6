#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/types.h>

#include <map>

struct udev;
struct udev_monitor;
#endif

namespace devices {

// The codes of a device-change notice for a port, as the main dialog handles them. Where Windows'
// <dbt.h> is included first, its names (the same numbers) stand in their place.
#ifndef DBT_DEVICEARRIVAL
constexpr uint32_t DBT_DEVICEARRIVAL = 0x8000;
constexpr uint32_t DBT_DEVICEREMOVECOMPLETE = 0x8004;
constexpr uint32_t DBT_DEVTYP_PORT = 3;
#endif

struct PortNotice {
  uint32_t event = 0;  // DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE
  uint32_t device_type = DBT_DEVTYP_PORT;
  std::string port_name;  // "COM7"
};

// Turns the serial ports that come and go into arrival and removal notices, without a thread of
// its own: the notices come out on the thread that calls take_notices().
//
// On Linux it watches the serial ports of the ports folder and turns every change of the offered
// set into notices. It listens to udev (hardware ports come and go) and to the ports folder and
// /dev/pts (links made by hand, pseudo-terminals opened and closed) through one descriptor, so that
// the window's own event loop can wait on it.
//
// On Windows the system itself tells every top-level window of each port that arrives or goes
// (WM_DEVICECHANGE): the watcher keeps a hidden top-level window of its own, on the thread that
// made it, and hands on the notices of port devices as they came.
#ifdef _WIN32
// The notice that a WM_DEVICECHANGE brings to a Unicode window: `event` is its wParam, `header` its
// lParam (the device broadcast header; for a port, the wide DEV_BROADCAST_PORT_W). An arrival or a
// removal of a port device gives a notice, its name read up to its NUL and never past the
// structure's size; anything else gives nothing. The one reading of the structure, for the
// watcher's hidden window and the main dialog alike.
std::optional<PortNotice> read_port_notice(uintptr_t event, const void* header);
#endif

class PortWatcher {
 public:
  // On Linux the ports offered now are the starting point; they bring no notices.
  PortWatcher();
  ~PortWatcher();
  PortWatcher(const PortWatcher&) = delete;
  PortWatcher& operator=(const PortWatcher&) = delete;

#ifdef _WIN32
  // The hidden window (an HWND); null when it could not be made, and then no notice comes.
  void* window() const {
    return window_;
  }

  // Handles the window's messages that are waiting, without waiting for more, and gives the
  // notices of port devices among them in the order they came. Call it on the thread that made the
  // watcher; a loop that waits uses MsgWaitForMultipleObjects on that thread.
  std::vector<PortNotice> take_notices();

  // What the window does with a WM_DEVICECHANGE: `event` is its wParam, `header` its lParam (the
  // device broadcast header; for a port, the wide DEV_BROADCAST_PORT_W that a Unicode window
  // receives). An arrival or a removal of a port device becomes a notice.
  void on_device_change(uintptr_t event, const void* header);
#else
  // Readable whenever something may have changed (for a QSocketNotifier of type Read).
  int fd() const {
    return epoll_fd_;
  }

  // Reads what has happened without waiting, takes the offered set again if anything did, and
  // gives the difference: removals first, then arrivals, each in ascending COM number. A number
  // that now stands for another device is removed and arrives again.
  std::vector<PortNotice> take_notices();
#endif

 private:
#ifdef _WIN32
  void* window_ = nullptr;
  std::vector<PortNotice> pending_;
#else
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
#endif
};

}  // namespace devices
