#pragma once

#include "engine/module_slot.h"

namespace engine {

// Accepts a run of the slot: takes the run snapshot (update file, module file name, AT port,
// settling time) from the slot's settings, sets `runEnabled` 1, `upgraded` 0 and `busy` 1, and
// starts a DownloadWorker thread. The previous worker's thread, which has returned, is joined
// first. False, with nothing changed, while the previous worker is still in progress or when no
// thread can be started.
bool start_run(ModuleSlot& slot);

enum class StartOutcome {
  started,        // the worker runs
  running,        // the slot's worker is still inside its run: nothing was touched
  port_open,      // the slot's AT port is open: nothing but `upgraded` was touched
  port_failed,    // the trial opening failed: "OpenATPort Failed!" and a FAIL result were sent;
                  // the slot's thread records it (no result code, the cause with the reason)
  thread_failed,  // no worker thread could be started
};

// START for a module whose port list shows a port, in START's order: `upgraded` 0; nothing more
// while the AT port is open; `busy` 1; status line and bar cleared; the AT port opened on trial (a
// port that does not open fails the module with "OpenATPort Failed!" and a FAIL result) and closed
// again; `resultOk` 1; the run started.
// A slot whose worker is still inside its run is never opened, closed or reset, nor one whose
// thread still records a failed START. A worker that has sent its end (`busy` 0) but not yet
// returned is about to return: it is joined first.
StartOutcome start_module(ModuleSlot& slot);

// True while the slot's worker is inside its run: started and not yet past its last notification.
// A worker that has sent its end (`busy` 0) but not yet returned is not: it only returns.
inline bool run_under_way(const ModuleSlot& slot) {
  return worker_in_progress(slot) && slot.busy.load() != 0;
}

// True while a START would start nothing on the slot: its worker is inside its run, or the record
// of a failed START is still being written (it may still tell the window that it could not be
// written, so it is not waited for).
inline bool start_blocked(const ModuleSlot& slot) {
  return run_under_way(slot) || (worker_in_progress(slot) && slot.recordOnly.load());
}

// Asks the run to stop at its next check; a settling wait under way ends at once.
void request_stop(ModuleSlot& slot);

// Waits until the slot's worker thread, if any, has ended.
void join_worker(ModuleSlot& slot);

// The close rule's test: true while the worker of any of the six slots is running (`active`), or
// has been started and has not yet sent its end (`busy`), which covers the moment between START
// and the worker's first step.
bool any_run_in_progress();

// Whether ALL START takes the slot: it is idle and its AT port list shows a port.
inline bool all_start_takes(const ModuleSlot& slot, bool port_shown) {
  return slot.busy.load() == 0 && port_shown;
}

// Step one of a settings load for each of the six slots. A slot whose worker has not returned
// keeps its run whole (port, file image, thread, run snapshot, flags). Every other slot has its
// finished thread joined, its port closed and its file image released, and its flags reset:
// `resultOk` 0, `upgraded` 1, `busy` 0, `active` 0. Gives the number of slots left running.
int reinitialise_slots();

}  // namespace engine
