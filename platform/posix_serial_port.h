#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "platform/serial_port.h"

namespace platform {

// A serial device on a POSIX system, opened for exclusive use: TIOCEXCL while open (cleared
// before the close, since on a pseudo-terminal it would outlive the descriptor) and an advisory
// lock, so that two instances of the tool never share a port.
class PosixSerialPort final : public SerialPort {
 public:
  // Opens the device at `path` after checking that it is an acceptable serial device. Gives null
  // and the reason in `why` on failure.
  static std::shared_ptr<PosixSerialPort> open(const std::string& path, std::string* why = nullptr);

  ~PosixSerialPort() override;
  PosixSerialPort(const PosixSerialPort&) = delete;
  PosixSerialPort& operator=(const PosixSerialPort&) = delete;

  bool configure() override;
  long read(void* buffer, size_t capacity) override;
  bool write_all(const void* data, size_t length) override;
  void purge(PurgeSide side) override;
  void close() override;
  std::string failure() const override;
  bool is_closed() const override { return closed_.load(); }

  int descriptor() const { return fd_; }

  // A line that takes no byte for this long, on platform::clock(), makes a write give up.
  static constexpr int kStallLimitMs = 1000;

 private:
  PosixSerialPort(int fd, int wake_fd) : fd_(fd), wake_fd_(wake_fd) {}
  // Waits up to `timeout_ms` for `events` on the device; a wait that times out has taken its whole
  // time on platform::clock(). False when the port was closed meanwhile or the device failed.
  bool wait_for(short events, int timeout_ms);
  // Notes a failed operation's errno: EIO, ENXIO and ENODEV mean the device is gone.
  void note_error(int error);
  bool drain();

  const int fd_;
  const int wake_fd_;    // eventfd that close() signals
  std::mutex io_mutex_;  // orders each write against close(): nothing is written once closed
  std::atomic<bool> closed_{false};
  std::atomic<bool> gone_{false};  // the device hung up or vanished
};

}  // namespace platform
