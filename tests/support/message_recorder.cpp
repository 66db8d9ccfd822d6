#include "tests/support/message_recorder.h"

namespace testing_support {

void MessageRecorder::send_message(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  Message m{msg, wParam, lParam, {}};
  if (msg >= engine::WM_SLOT_STATUS && msg < engine::WM_SLOT_STATUS + engine::kModuleCount)
    m.text = reinterpret_cast<const char*>(wParam);
  std::lock_guard lock(mutex_);
  messages_.push_back(std::move(m));
}

std::vector<MessageRecorder::Message> MessageRecorder::messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

void MessageRecorder::clear() {
  std::lock_guard lock(mutex_);
  messages_.clear();
}

std::vector<std::string> MessageRecorder::statuses(int index) const {
  std::vector<std::string> out;
  for (const Message& m : messages())
    if (m.msg == engine::WM_SLOT_STATUS + static_cast<uint32_t>(index)) out.push_back(m.text);
  return out;
}

}  // namespace testing_support
