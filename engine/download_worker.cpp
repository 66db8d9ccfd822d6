#include "engine/download_worker.h"

#include <cstdio>
#include <string>

#include "engine/at_exchange.h"
#include "engine/download_sequence.h"
#include "engine/file_image.h"
#include "engine/module_identity.h"
#include "engine/notifications.h"
#include "engine/run_recorder.h"
#include "engine/serial_link.h"
#include "platform/clock.h"

namespace engine {

namespace {

// Loads the image of the run's file into the slot. 0, or DL_FILE_READ with its status lines.
int load_file_image(ModuleSlot& slot) {
  char line[260];
  std::string why;
  if (module_file_name(slot.run.filePath, &why).empty()) {
    debug_trace("file name refused: %s", why.c_str());
    report_status(slot, "invalid file name!");
    std::snprintf(line, sizeof line, "device%d errcode=%d, invalid file name!", slot.number(),
                  DL_FILE_READ);
    report_status(slot, line);
    return DL_FILE_READ;
  }
  int32_t size = 0;
  slot.fileData = file_read(slot.run.filePath, &size);
  if (!slot.fileData) {
    debug_trace("file can't read");
    report_status(slot, "read file error!");
    debug_trace("file_read ERROR!");
    std::snprintf(line, sizeof line, "device%d errcode=%d, read file error!", slot.number(),
                  DL_FILE_READ);
    report_status(slot, line);
    return DL_FILE_READ;
  }
  slot.fileSize = size;
  debug_trace("file_read OK!");
  return DL_OK;
}

}  // namespace

int prepare_and_download(ModuleSlot& slot) {
  report_status(slot, "Prepare to download, please wait...");
  // A stop request ends the settling wait at once; the port is then never opened.
  if (platform::sleep_ms_unless(slot.run.sleepTime, slot.stopRequest) ||
      slot.runEnabled.load() == 0) {
    report_status(slot, "Download Pause!");
    return DL_PAUSED;
  }
  open_at_port(slot, slot.run.atPort);
  int result = at_handshake(slot);
  if (result <= 0 && slot.run.identify) slot.notes.note_identity(ask_identity(slot));
  if (result <= 0) {
    result = download_file(slot);
    if (result > 0) {
      slot.notes.begin_retry();
      result = download_file(slot);  // one retry, from AT+CFSINIT
    }
  }
  close_at_port(slot);
  return result;
}

int DownloadWorker(ModuleSlot* slot_pointer) {
  ModuleSlot& slot = *slot_pointer;
  RunRecorder record(slot);
  set_active(&slot, 1);
  release_file_image(slot);
  int result = load_file_image(slot);
  if (result == DL_OK) {
    result = prepare_and_download(slot);
    if (result == DL_OK) {
      report_status(slot, "download success!\r\n");
      debug_trace("download success!\r\n");
      report_progress(slot, 0, 100);
      report_progress(slot, 0, 100);
    } else {
      report_status(slot, "download error!\r\n");
      debug_trace("download error!\r\n");
      char line[260];
      std::snprintf(line, sizeof line, "device%d errcode=%d", slot.number(), result);
      report_status(slot, line);
    }
  }

  // The window relies on this order: the run recorded and counted before its result is sent, not
  // active before the result and end notifications, and not busy only after the last of them.
  close_at_port(slot);
  record.finish(result);
  set_active(&slot, 0);
  const int32_t ok = result == DL_OK ? 1 : 0;
  slot.resultOk = ok;
  if (ok) slot.upgraded = 1;
  send_to_main_window(WM_SLOT_RESULT, static_cast<uintptr_t>(slot.index), ok);
  report_finished(slot);
  slot.busy = 0;
  return result;
}

}  // namespace engine
