#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "engine/module_slot.h"

namespace engine {

// At most this many bytes are read at a time.
constexpr size_t kReadSize = 260;

// A reply buffer: one read, and room for a terminating zero after a full read.
using ReplyBuffer = std::array<char, kReadSize + 1>;

inline void clear(ReplyBuffer& buffer) {
  buffer.fill(0);
}

// The reply text of one read into a cleared buffer: the bytes received up to the first NUL.
std::string_view reply_text(const ReplyBuffer& buffer);

// Opens the slot's AT port COM<atPort> and configures it. 1 when the port is open afterwards (also
// when it was open already or configuring failed), 0 when it could not be opened.
int OpenATPort(ModuleSlot& slot);

// As OpenATPort, with the port COM<at_port> instead of the slot's `atPort` (a run opens the port
// of its snapshot).
int open_at_port(ModuleSlot& slot, int32_t at_port);

// Applies the fixed line settings and discards both directions. 1, or 0 if the port is not open.
int configure_port(ModuleSlot& slot);

// 1 if a port was closed, 0 if none was open. Safe from another thread while the slot's worker
// reads or writes: its operation ends at once and fails.
int close_at_port(ModuleSlot& slot);

// Mode 0 discards the receive side, mode 1 the transmit side. 1, or 0 if the port is not open.
int purge_port(ModuleSlot& slot, int mode);

// No counterpart on this platform: 1, or 0 if the port is not open.
int clear_port_errors(ModuleSlot& slot);

// Reads what is waiting, at most kReadSize bytes, and logs it. The number of bytes read (0 when
// nothing was waiting or the read failed), or -1 if the port is not open.
int read_port(ModuleSlot& slot, ReplyBuffer& buffer);

// Logs and writes the block completely. The number of bytes written; 0 when the write failed, the
// line took nothing for one second or the port was closed meanwhile; -1 if the port is not open.
int write_port(ModuleSlot& slot, const void* data, int length);

}  // namespace engine
