#pragma once

#include <cstddef>
#include <string>

namespace platform {

enum class PurgeSide { receive, transmit };

// One open serial port, shared by its owners (the slot and any operation in progress). close()
// marks it closed and wakes every wait at once; the device itself is released by the last owner,
// so a descriptor can never be reused under an operation that is still running.
class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Applies the fixed line settings (115200 8N1, raw, no flow control, reads that never block).
  // False when the device refused them.
  virtual bool configure() = 0;

  // Copies up to `capacity` bytes that are waiting, without waiting for more. Gives the count
  // (0 when nothing is waiting), or -1 when the port is closed or the device failed.
  virtual long read(void* buffer, size_t capacity) = 0;

  // Writes every byte and waits until they have left the output queue. Gives up when the line
  // makes no progress for one second, when the port is closed meanwhile or when the device fails.
  // True only when every byte went out.
  virtual bool write_all(const void* data, size_t length) = 0;

  // Discards what is waiting in one direction.
  virtual void purge(PurgeSide side) = 0;

  // Marks the port closed: output still queued is discarded, waits end at once, later operations
  // fail. Safe from any thread, also while another thread reads or writes.
  virtual void close() = 0;
  virtual bool is_closed() const = 0;

  // Why an operation failed on the device itself, once it has: "device gone" when the device
  // hung up or vanished (unplugged, its terminal closed). Empty otherwise. It changes no result.
  virtual std::string failure() const { return {}; }
};

}  // namespace platform
