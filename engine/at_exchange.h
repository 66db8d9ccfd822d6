#pragma once

#include "engine/module_slot.h"
#include "engine/serial_link.h"

namespace engine {

// Each exchange sends one command and polls the replies for a token, one read per poll, the buffer
// cleared before each read: a token split over two reads is not seen. 1 when the token was seen
// (the buffer then holds that poll's reply), 0 otherwise.

// Checks the port, then: 20 ms, the command, 300 ms, up to 50 polls for "OK", 50 ms after each
// miss.
int send_at_command_with_response(ModuleSlot& slot, const char* command, int length,
                                  ReplyBuffer& reply);

// 20 ms, the command, up to 10 polls for "OK", 50 ms after each miss.
int send_at_command_quick(ModuleSlot& slot, const char* command, int length, ReplyBuffer& reply);

// 20 ms, the command, up to 50 polls for "DOWNLOAD", 50 ms after each miss.
int send_at_command_wait_download(ModuleSlot& slot, const char* command, int length,
                                  ReplyBuffer& reply);

// Opens every run: up to 30 "AT" until the module answers, then up to 10 "ATE0". 0 when the module
// answered, else DL_PAUSED, DL_AT_FAILED or DL_ATE0_FAILED with its status line.
int at_handshake(ModuleSlot& slot);

}  // namespace engine
