#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/serial_port.h"

namespace testing_support {

// An in-memory module behind a serial port, for tests on the virtual clock: whatever the engine
// writes goes to a responder, which queues replies that become readable after a delay of the
// clock in use. A read takes everything that has arrived by then, up to its size.
class ScriptedModule final : public platform::SerialPort {
 public:
  using Responder = std::function<void(ScriptedModule& module, std::string_view block)>;

  explicit ScriptedModule(Responder responder = {}) : responder_(std::move(responder)) {}

  // Queues `bytes` to become readable `delay_ms` after now.
  void reply(std::string bytes, int64_t delay_ms = 0);

  // Called by a responder: the block being written does not go out completely. The write gives up
  // after `stall_ms` of the clock (a line that stopped taking bytes) or at once (a device gone).
  void fail_this_write(int64_t stall_ms) { fail_write_ms_ = stall_ms; }
  // The device is gone: reads and writes fail from now on.
  void disconnect();

  // Every block written, in order.
  std::vector<std::string> written() const;
  int reads() const;
  bool configure_result = true;

  bool configure() override { return configure_result; }
  long read(void* buffer, size_t capacity) override;
  bool write_all(const void* data, size_t length) override;
  void purge(platform::PurgeSide side) override;
  void close() override;
  bool is_closed() const override;
  // "device gone" once disconnected, as a serial port whose device went away tells it.
  std::string failure() const override;

 private:
  struct Chunk {
    int64_t ready_at;
    std::string bytes;
  };
  mutable std::mutex mutex_;
  Responder responder_;
  std::deque<Chunk> pending_;
  std::vector<std::string> written_;
  int reads_ = 0;
  bool closed_ = false;
  bool gone_ = false;
  int64_t fail_write_ms_ = -1;
};

// A responder that answers every block with `answer`.
ScriptedModule::Responder answer_all(std::string answer);

}  // namespace testing_support
