#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "platform/serial_port.h"

namespace platform {

// A COM port of Windows, \\.\COM<n>, opened for exclusive use and overlapped input and output.
// Every read and write has an event of its own; close() sets the port's close event, which every
// wait of the port also waits for, and cancels what is pending, so that a worker inside an
// operation returns at once. The handle is closed by the last owner.
class WinSerialPort final : public SerialPort {
 public:
  // Opens COM<n>. Gives null and the reason in `why` on failure.
  static std::shared_ptr<WinSerialPort> open(unsigned n, std::string* why = nullptr);

  // "\\.\COM<n>": the device namespace makes every number work, also 10 and above.
  static std::string device_name(unsigned n);

  ~WinSerialPort() override;
  WinSerialPort(const WinSerialPort&) = delete;
  WinSerialPort& operator=(const WinSerialPort&) = delete;

  bool configure() override;
  long read(void* buffer, size_t capacity) override;
  bool write_all(const void* data, size_t length) override;
  void purge(PurgeSide side) override;
  void close() override;
  std::string failure() const override;
  bool is_closed() const override { return closed_.load(); }

  // A line that takes no byte for this long, on platform::clock(), makes a write give up.
  static constexpr int kStallLimitMs = 1000;

 private:
  WinSerialPort(void* handle, void* close_event) : handle_(handle), close_event_(close_event) {}
  // Clears the port's error state; gives the bytes waiting in each direction.
  bool clear_errors(unsigned long* in_queue, unsigned long* out_queue);
  // Waits up to `timeout_ms` for the close event; a wait that times out has taken its whole time
  // on platform::clock(). False when the port was closed meanwhile.
  bool pause(int64_t timeout_ms);
  // Notes a failed operation's error: the errors of a device that has gone away.
  void note_error(unsigned long error);
  bool drain();

  void* const handle_;
  void* const close_event_;  // manual reset, set by close()
  std::mutex io_mutex_;  // orders each write's start against close(): nothing starts once closed
  std::atomic<bool> closed_{false};
  std::atomic<bool> gone_{false};
};

}  // namespace platform
