#include "engine/run_control.h"

#include <system_error>

#include "engine/download_worker.h"
#include "engine/file_image.h"

namespace engine {

bool start_run(ModuleSlot& slot) {
  if (worker_in_progress(slot)) return false;
  join_worker(slot);

  slot.run.filePath = slot.filePath;
  slot.run.fileName = module_file_name(slot.filePath, nullptr);
  slot.run.atPort = slot.atPort;
  slot.run.sleepTime = slot.sleepTime;

  const int32_t upgraded = slot.upgraded.load();
  const int32_t busy = slot.busy.load();
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

void join_worker(ModuleSlot& slot) {
  if (slot.hThread.joinable()) slot.hThread.join();
}

}  // namespace engine
