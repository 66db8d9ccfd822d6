#include "engine/run_control.h"

#include <system_error>

#include "engine/download_worker.h"
#include "engine/file_image.h"
#include "engine/notifications.h"
#include "engine/run_recorder.h"
#include "engine/serial_link.h"

namespace engine {

namespace {

// The record of a START whose port did not open is written on the slot's own thread, joined like
// any worker: writing waits for the disk, and the window's thread never does.
void record_on_slot_thread(ModuleSlot& slot) {
  join_worker(slot);  // its routine has returned
  const FailedStart start = failed_start(slot);
  slot.recordOnly = true;
  slot.workerRunning = true;
  try {
    slot.hThread = std::thread([&slot, start] {
      record_failed_start(slot, start);
      slot.recordOnly = false;
      slot.workerRunning = false;
    });
  } catch (const std::system_error&) {
    slot.recordOnly = false;
    slot.workerRunning = false;
    record_failed_start(slot, start);  // no thread to be had: here, rather than not at all
  }
}

}  // namespace

bool start_run(ModuleSlot& slot) {
  if (worker_in_progress(slot)) return false;
  join_worker(slot);

  slot.run.filePath = slot.filePath;
  slot.run.fileName = module_file_name(slot.filePath, nullptr);
  slot.run.atPort = slot.atPort;
  slot.run.sleepTime = slot.sleepTime;
  slot.run.identify = slot.identify != 0;

  const int32_t upgraded = slot.upgraded.load();
  const int32_t busy = slot.busy.load();
  slot.stopRequest.clear();
  slot.hAT.clear_failure();
  slot.runEnabled = 1;
  slot.upgraded = 0;
  slot.busy = 1;
  slot.workerRunning = true;
  try {
    slot.hThread = std::thread([&slot] {
      slot.exitCode = DownloadWorker(&slot);
      slot.workerRunning = false;
    });
  } catch (const std::system_error&) {
    slot.workerRunning = false;
    slot.busy = busy;
    slot.upgraded = upgraded;
    return false;
  }
  return true;
}

StartOutcome start_module(ModuleSlot& slot) {
  if (start_blocked(slot)) return StartOutcome::running;
  join_worker(slot);  // a worker past its last notification only returns
  slot.upgraded = 0;
  if (slot.hAT.is_open()) return StartOutcome::port_open;
  slot.busy = 1;
  report_status(slot, "");
  report_progress(slot, 0, 100);
  if (OpenATPort(slot) != 1) {
    report_status(slot, "OpenATPort Failed!");
    debug_trace("OpenATPort ERROR!");
    slot.resultOk = 0;
    slot.busy = 0;
    send_to_main_window(WM_SLOT_RESULT, static_cast<uintptr_t>(slot.index), 0);
    close_at_port(slot);
    record_on_slot_thread(slot);
    return StartOutcome::port_failed;
  }
  slot.resultOk = 1;
  close_at_port(slot);
  if (!start_run(slot)) {
    debug_trace("create download thread(%d) failed!", slot.number());
    slot.busy = 0;  // no worker will ever clear it
    return StartOutcome::thread_failed;
  }
  return StartOutcome::started;
}

void request_stop(ModuleSlot& slot) {
  slot.runEnabled = 0;
  slot.stopRequest.raise();
}

void join_worker(ModuleSlot& slot) {
  if (slot.hThread.joinable()) slot.hThread.join();
}

bool any_run_in_progress() {
  for (const ModuleSlot& slot : slots()) {
    if (is_active(&slot) != 0 || run_under_way(slot)) return true;
  }
  return false;
}

int reinitialise_slots() {
  int running = 0;
  auto& table = slots();
  for (int k = 0; k < kModuleCount; ++k) {
    ModuleSlot& slot = table[k];
    if (slot.index != k) slot.index = k;
    if (worker_in_progress(slot)) {
      ++running;
      continue;
    }
    join_worker(slot);  // at once: its routine has returned
    close_at_port(slot);
    release_file_image(slot);
    slot.resultOk = 0;
    slot.upgraded = 1;
    slot.busy = 0;
    slot.active = 0;
  }
  return running;
}

}  // namespace engine
