#include "platform/posix_serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/clock.h"
#include "platform/serial_device_check.h"

namespace platform {

namespace {

void set_reason(std::string* why, const std::string& text) {
  if (why) *why = text;
}

// A port that another program holds, named with the programs that hold it where they can be seen.
std::string in_use(const std::string& path) {
  const std::string holders = device_holders(path);
  return path + ": in use by another program" +
         (holders.empty() ? "" : " (held by " + holders + ")");
}

}  // namespace

std::shared_ptr<PosixSerialPort> PosixSerialPort::open(const std::string& path, std::string* why) {
  struct stat expected {};
  DeviceCheck check = check_serial_device(path, &expected);
  if (check != DeviceCheck::ok) {
    set_reason(why, path + ": " + describe(check));
    return nullptr;
  }
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    // EBUSY: another program opened the line for its exclusive use.
    set_reason(why, errno == EBUSY ? in_use(path) : path + ": " + std::strerror(errno));
    return nullptr;
  }
  struct stat st {};
  // The device checked must be the device opened, and it must be a terminal line.
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || st.st_rdev != expected.st_rdev ||
      !::isatty(fd)) {
    ::close(fd);
    set_reason(why, path + ": changed while opening, or not a terminal");
    return nullptr;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    set_reason(why, in_use(path));
    return nullptr;
  }
  ::ioctl(fd, TIOCEXCL);
  int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake < 0) {
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    set_reason(why, std::string("eventfd: ") + std::strerror(errno));
    return nullptr;
  }
  return std::shared_ptr<PosixSerialPort>(new PosixSerialPort(fd, wake));
}

PosixSerialPort::~PosixSerialPort() {
  ::ioctl(fd_, TIOCNXCL);
  ::close(fd_);
  ::close(wake_fd_);
}

bool PosixSerialPort::configure() {
  termios t{};
  if (::tcgetattr(fd_, &t) != 0) return false;
  ::cfmakeraw(&t);
  t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_iflag &= ~(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  ::cfsetispeed(&t, B115200);
  ::cfsetospeed(&t, B115200);
  bool applied = ::tcsetattr(fd_, TCSANOW, &t) == 0;
  // Hold DTR and RTS inactive; a pseudo-terminal has no modem lines and answers ENOTTY.
  int lines = TIOCM_DTR | TIOCM_RTS;
  ::ioctl(fd_, TIOCMBIC, &lines);
  ::tcflush(fd_, TCIOFLUSH);
  return applied;
}

long PosixSerialPort::read(void* buffer, size_t capacity) {
  if (closed_.load()) return -1;
  for (;;) {
    ssize_t n = ::read(fd_, buffer, capacity);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    note_error(errno);
    return -1;
  }
}

bool PosixSerialPort::wait_for(short events, int timeout_ms) {
  timeout_ms = std::max(timeout_ms, 0);
  Clock& clk = clock();
  int64_t start = clk.now_ms();
  pollfd fds[2] = {{fd_, events, 0}, {wake_fd_, POLLIN, 0}};
  int r = ::poll(fds, 2, timeout_ms);
  if (r < 0 && errno != EINTR) return false;
  // A wait that timed out has lasted its whole time, also on the clock in use. On the real clock
  // that is already so; a test clock, on which the real wait took no time, is moved on by the
  // rest, so that a line that never becomes ready still reaches the stall limit.
  if (r == 0) {
    int64_t rest = timeout_ms - (clk.now_ms() - start);
    if (rest > 0) clk.sleep_ms(rest);
  }
  if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {  // the device is gone
    gone_ = true;
    return false;
  }
  return !closed_.load();
}

void PosixSerialPort::note_error(int error) {
  if (error == EIO || error == ENXIO || error == ENODEV) gone_ = true;
}

std::string PosixSerialPort::failure() const {
  return gone_.load() ? "device gone" : std::string();
}

bool PosixSerialPort::write_all(const void* data, size_t length) {
  const auto* p = static_cast<const unsigned char*>(data);
  Clock& clk = clock();
  int64_t last_progress = clk.now_ms();
  while (length > 0) {
    ssize_t n;
    {
      std::lock_guard lock(io_mutex_);
      if (closed_.load()) return false;
      n = ::write(fd_, p, length);
    }
    if (n > 0) {
      p += n;
      length -= static_cast<size_t>(n);
      last_progress = clk.now_ms();
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      note_error(errno);
      return false;
    }
    int64_t left = kStallLimitMs - (clk.now_ms() - last_progress);
    if (left <= 0) return false;
    if (!wait_for(POLLOUT, static_cast<int>(left))) return false;
  }
  return drain();
}

// Waits until the output queue is empty, so that a purge after the write can never discard a byte
// that was reported as written.
bool PosixSerialPort::drain() {
  Clock& clk = clock();
  int64_t last_progress = clk.now_ms();
  int previous = -1;
  for (;;) {
    int queued = 0;
    if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return !closed_.load();
    if (previous < 0 || queued < previous) last_progress = clk.now_ms();
    previous = queued;
    int64_t left = kStallLimitMs - (clk.now_ms() - last_progress);
    if (left <= 0) return false;
    // About the time the queued bytes take at 115200 bit/s (ten bits a byte), at least 1 ms.
    int64_t expected = std::max<int64_t>(1, queued / 12);
    if (!wait_for(0, static_cast<int>(std::min(expected, left)))) return false;
  }
}

void PosixSerialPort::purge(PurgeSide side) {
  ::tcflush(fd_, side == PurgeSide::receive ? TCIFLUSH : TCOFLUSH);
}

void PosixSerialPort::close() {
  std::lock_guard lock(io_mutex_);
  if (closed_.exchange(true)) return;
  ::tcflush(fd_, TCOFLUSH);
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wake_fd_, &one, sizeof one);
}

}  // namespace platform
