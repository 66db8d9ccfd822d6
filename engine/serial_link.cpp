#include "engine/serial_link.h"

#include <cstring>
#include <string>

#include "engine/at_log.h"
#include "engine/notifications.h"
#include "platform/com_ports.h"

namespace engine {

std::string_view reply_text(const ReplyBuffer& buffer) {
  return {buffer.data(), strnlen(buffer.data(), kReadSize)};
}

int OpenATPort(ModuleSlot& slot) {
  return open_at_port(slot, slot.atPort);
}

int open_at_port(ModuleSlot& slot, int32_t at_port) {
  if (slot.hAT.is_open()) return 1;
  if (at_port <= 0) {
    slot.hAT.note_open_failure("no AT port is set");
    return 0;
  }
  std::string why;
  auto port = platform::open_com_port(static_cast<unsigned>(at_port), &why);
  if (!port) {
    debug_trace("OpenATPort: %s", why.c_str());
    slot.hAT.note_open_failure(why);  // for the record, the runner and the window
    return 0;
  }
  slot.hAT.reset(std::move(port));
  configure_port(slot);
  return 1;
}

int configure_port(ModuleSlot& slot) {
  auto port = slot.hAT.get();
  if (!port) return 0;
  port->configure();
  port->purge(platform::PurgeSide::receive);
  port->purge(platform::PurgeSide::transmit);
  at_log_directory();
  return 1;
}

int close_at_port(ModuleSlot& slot) {
  auto port = slot.hAT.take();
  if (!port) return 0;
  port->close();
  return 1;
}

int purge_port(ModuleSlot& slot, int mode) {
  auto port = slot.hAT.get();
  if (!port) return 0;
  if (mode == 0) port->purge(platform::PurgeSide::receive);
  if (mode == 1) port->purge(platform::PurgeSide::transmit);
  return 1;
}

int clear_port_errors(ModuleSlot& slot) {
  return slot.hAT.is_open() ? 1 : 0;
}

int read_port(ModuleSlot& slot, ReplyBuffer& buffer) {
  auto port = slot.hAT.get();
  if (!port) return -1;
  long n = port->read(buffer.data(), kReadSize);
  if (n <= 0) return 0;
  write_at_log(slot, Direction::received, {buffer.data(), strnlen(buffer.data(), size_t(n))});
  return static_cast<int>(n);
}

int write_port(ModuleSlot& slot, const void* data, int length) {
  auto port = slot.hAT.get();
  if (!port) return -1;
  if (length <= 0) return 0;
  const char* bytes = static_cast<const char*>(data);
  write_at_log(slot, Direction::sent, {bytes, strnlen(bytes, static_cast<size_t>(length))});
  return port->write_all(data, static_cast<size_t>(length)) ? length : 0;
}

}  // namespace engine
