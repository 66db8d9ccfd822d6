#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "engine/notifications.h"

namespace testing_support {

// A main window that records every message; status texts are copied while the call lasts.
class MessageRecorder final : public engine::MainWindow {
 public:
  struct Message {
    uint32_t msg;
    uintptr_t wParam;
    intptr_t lParam;
    std::string text;  // the status text of WM_SLOT_STATUS messages
  };

  MessageRecorder() { engine::set_main_window(this); }
  ~MessageRecorder() override { engine::set_main_window(nullptr); }

  void send_message(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;

  std::vector<Message> messages() const;
  void clear();
  // The status texts sent for slot `index`, in order.
  std::vector<std::string> statuses(int index) const;

 private:
  mutable std::mutex mutex_;
  std::vector<Message> messages_;
};

}  // namespace testing_support
