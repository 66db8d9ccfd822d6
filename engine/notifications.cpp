#include "engine/notifications.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "platform/debug_output.h"

namespace engine {

namespace {
std::atomic<MainWindow*> window{nullptr};

bool valid_index(const ModuleSlot& slot) {
  return slot.index >= 0 && slot.index < kModuleCount;
}
}  // namespace

void set_main_window(MainWindow* w) {
  window.store(w);
}

MainWindow* main_window() {
  return window.load();
}

void send_to_main_window(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  if (MainWindow* w = window.load()) w->send_message(msg, wParam, lParam);
}

void report_status(const ModuleSlot& slot, const char* text) {
  if (!text || !valid_index(slot)) return;
  slot.notes.note_status(text);  // the run's cause: the first line of an attempt that tells of one
  send_to_main_window(WM_SLOT_STATUS + slot.index, reinterpret_cast<uintptr_t>(text), 0);
}

void report_progress(const ModuleSlot& slot, int64_t done, int64_t total) {
  if (!valid_index(slot)) return;
  send_to_main_window(WM_SLOT_PROGRESS + slot.index, static_cast<uintptr_t>(done),
                      static_cast<intptr_t>(total));
}

void report_finished(const ModuleSlot& slot) {
  if (!valid_index(slot)) return;
  send_to_main_window(WM_SLOT_FINISHED + slot.index, 0, 100);
}

void set_active(ModuleSlot* slot, int32_t value) {
  if (slot) slot->active.store(value);
}

int is_active(const ModuleSlot* slot) {
  return slot ? slot->active.load() : 0;
}

void release_file_image(ModuleSlot& slot) {
  slot.fileData.reset();
  slot.fileSize = 0;
}

void debug_trace(const char* format, ...) {
  char line[200];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  platform::debug_output("\r\n");
  platform::debug_output(line);
}

}  // namespace engine
