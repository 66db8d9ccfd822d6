#pragma once

#include "engine/module_slot.h"

namespace engine {

// One run of one module, on its own thread: loads the update file, waits the settling time, opens
// the AT port, shakes hands, transfers and verifies the file (retried once), closes the port and
// reports the outcome. Works on the run snapshot of the slot. Returns the result code.
int DownloadWorker(ModuleSlot* slot);

// From the settling wait to the closing of the port. Returns the result code.
int prepare_and_download(ModuleSlot& slot);

}  // namespace engine
