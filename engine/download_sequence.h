#pragma once

#include "engine/module_slot.h"

namespace engine {

constexpr int kPacketSize = 10240;  // bytes announced by one AT+CFSWFILE
constexpr int kPieceSize = 1024;    // bytes of one write within a packet

// Writes the slot's file image into the module's file system under `run.fileName`, checks the
// stored byte count and activates the file. Expects the port open, the handshake done and the
// image loaded. 0, or DL_PACKET_ERROR, DL_CFSINIT_FAILED, DL_CFSWFILE_FAILED, DL_BYTE_COUNT_FAILED,
// DL_CFSTERM_FAILED, DL_PAUSED, DL_CBAINIT_FAILED or DL_CBAPPS_FAILED.
int download_file(ModuleSlot& slot);

}  // namespace engine
