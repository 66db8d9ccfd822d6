#pragma once

#include "engine/module_slot.h"

namespace engine {

// Accepts a run of the slot: takes the run snapshot (update file, module file name, AT port,
// settling time) from the slot's settings, sets `runEnabled` 1, `upgraded` 0 and `busy` 1, and
// starts a DownloadWorker thread. The previous worker's thread, which has returned, is joined
// first. False, with nothing changed, while the previous worker is still in progress or when no
// thread can be started.
bool start_run(ModuleSlot& slot);

enum class StartOutcome { started, port_failed, thread_failed };

// START for a module whose port list shows a port: clears the status line and the bar, opens the
// AT port on trial (a port that does not open fails the module with "OpenATPort Failed!"), closes
// it again and starts the run. Expects the slot idle.
StartOutcome start_module(ModuleSlot& slot);

// Asks the run to stop at its next check.
inline void request_stop(ModuleSlot& slot) {
  slot.runEnabled = 0;
}

// Waits until the slot's worker thread, if any, has ended.
void join_worker(ModuleSlot& slot);

}  // namespace engine
