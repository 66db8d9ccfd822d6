#include "devices/port_watcher.h"

#include <libudev.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "devices/port_namespace.h"
#include "engine/notifications.h"
#include "platform/com_ports.h"

namespace devices {

namespace {

constexpr uint32_t kFolderEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;
// grantpt hands a new pseudo-terminal to its user after it appears.
constexpr uint32_t kPtsEvents = IN_CREATE | IN_DELETE | IN_ATTRIB;

bool readable_now(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

void add_to_epoll(int epoll_fd, int fd) {
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = fd;
  ::epoll_ctl(epoll_fd, EPOLL_CTL_ADD, fd, &event);
}

}  // namespace

PortWatcher::PortWatcher() : ports_dir_(platform::ports_directory()) {
  epoll_fd_ = ::epoll_create1(EPOLL_CLOEXEC);
  udev_ = udev_new();
  // Without udevd the kernel's own events still tell when hardware comes and goes.
  const char* source = ::access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
  monitor_ = udev_ ? udev_monitor_new_from_netlink(udev_, source) : nullptr;
  if (monitor_ && udev_monitor_filter_add_match_subsystem_devtype(monitor_, "tty", nullptr) >= 0 &&
      udev_monitor_enable_receiving(monitor_) >= 0) {
    add_to_epoll(epoll_fd_, udev_monitor_get_fd(monitor_));
  } else {
    engine::debug_trace("PortWatcher: no udev monitor, hardware ports are not watched\n");
  }

  inotify_fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify_fd_ >= 0) {
    add_to_epoll(epoll_fd_, inotify_fd_);
    std::string parent = ports_dir_.substr(0, ports_dir_.rfind('/'));
    parent_watch_ = ::inotify_add_watch(inotify_fd_, parent.empty() ? "/" : parent.c_str(),
                                        IN_CREATE | IN_MOVED_TO | IN_ONLYDIR);
    if (::inotify_add_watch(inotify_fd_, "/dev/pts", kPtsEvents) < 0)
      engine::debug_trace("PortWatcher: /dev/pts is not watched: %s\n", std::strerror(errno));
    watch_ports_folder();
  }
  offered_ = offered_now();
}

PortWatcher::~PortWatcher() {
  if (monitor_) udev_monitor_unref(monitor_);
  if (udev_) udev_unref(udev_);
  if (inotify_fd_ >= 0) ::close(inotify_fd_);
  if (epoll_fd_ >= 0) ::close(epoll_fd_);
}

void PortWatcher::watch_ports_folder() {
  // Adding a watch that exists changes nothing; a folder made anew gets a watch of its own.
  ::inotify_add_watch(inotify_fd_, ports_dir_.c_str(), kFolderEvents | IN_ONLYDIR);
}

bool PortWatcher::drain_udev() {
  if (!monitor_) return false;
  bool any = false;
  int fd = udev_monitor_get_fd(monitor_);
  while (readable_now(fd)) {
    udev_device* device = udev_monitor_receive_device(monitor_);
    if (!device) continue;  // a message that did not pass the filter
    udev_device_unref(device);
    any = true;
  }
  return any;
}

bool PortWatcher::drain_inotify() {
  if (inotify_fd_ < 0) return false;
  bool relevant = false;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    ssize_t n = ::read(inotify_fd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      // In the working directory only the ports folder itself matters.
      bool about_parent = event->wd == parent_watch_;
      if (!about_parent || (event->len && std::strcmp(event->name, "ports") == 0) ||
          (event->mask & IN_Q_OVERFLOW))
        relevant = true;
    }
  }
  if (relevant) watch_ports_folder();
  return relevant;
}

std::map<unsigned, dev_t> PortWatcher::offered_now() {
  std::map<unsigned, dev_t> offered;
  std::optional<std::vector<ComPort>> ports = scan_ports();
  if (!ports) return offered_;  // unreadable for now: nothing has changed as far as we know
  for (const ComPort& port : offered_ports(*ports)) offered.emplace(port.number, port.devnum);
  return offered;
}

std::vector<PortNotice> PortWatcher::take_notices() {
  std::vector<PortNotice> notices;
  bool udev_event = drain_udev();
  bool folder_event = drain_inotify();
  if (!udev_event && !folder_event) return notices;

  std::map<unsigned, dev_t> now = offered_now();
  for (const auto& [number, device] : offered_) {
    auto still = now.find(number);
    if (still == now.end() || still->second != device)
      notices.push_back(
          {DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_PORT, "COM" + std::to_string(number)});
  }
  for (const auto& [number, device] : now) {
    auto before = offered_.find(number);
    if (before == offered_.end() || before->second != device)
      notices.push_back({DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT, "COM" + std::to_string(number)});
  }
  offered_ = std::move(now);
  return notices;
}

}  // namespace devices
