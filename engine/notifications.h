#pragma once

#include <cstdint>

#include "engine/module_slot.h"

namespace engine {

// Window message numbers; 1024 is the first user message number of the window system. A native
// Windows window that includes <windows.h> first uses that header's WM_USER, the same number.
#ifndef WM_USER
constexpr uint32_t WM_USER = 1024;
#endif
constexpr uint32_t WM_SLOT_PROGRESS = WM_USER + 100;  // + slot: bytes done, total bytes
constexpr uint32_t WM_PANELS_ENABLE = 1134;
constexpr uint32_t WM_PANELS_DISABLE = 1135;
constexpr uint32_t WM_PORTS_CHANGED = 1136;
constexpr uint32_t WM_SLOT_FINISHED = 1144;  // + slot: 0, 100
constexpr uint32_t WM_SLOT_STATUS = 1225;    // + slot: pointer to a NUL-terminated text, 0
constexpr uint32_t WM_SLOT_RESULT = 1234;    // slot index, resultOk

// The main window as the engine knows it: one synchronous call. Called on the window thread it
// handles the message at once; called from a worker it returns when the window thread has handled
// it. A text passed by pointer is valid only during the call.
class MainWindow {
 public:
  virtual ~MainWindow() = default;
  virtual void send_message(uint32_t msg, uintptr_t wParam, intptr_t lParam) = 0;
};

// The target of every notification, set once before any worker exists (null: nothing is sent).
void set_main_window(MainWindow* window);
MainWindow* main_window();

// Sends a message to the main window, if there is one.
void send_to_main_window(uint32_t msg, uintptr_t wParam, intptr_t lParam);

// The senders of the slot notifications. Nothing is sent for an index outside 0..5, nor for a
// null text.
void report_status(const ModuleSlot& slot, const char* text);
void report_progress(const ModuleSlot& slot, int64_t done, int64_t total);
void report_finished(const ModuleSlot& slot);

void set_active(ModuleSlot* slot, int32_t value);
int is_active(const ModuleSlot* slot);

// Frees the slot's file image, if it holds one.
void release_file_image(ModuleSlot& slot);

// A diagnostic line to the debugger output channel: formatted printf-style into 200 bytes, then
// written as "\r\n" and the text, two separate writes. (mingw-w64 formats as the C standard does
// and checks the formats by the same rules.)
#ifdef __MINGW32__
void debug_trace(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
#else
void debug_trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
#endif

}  // namespace engine
