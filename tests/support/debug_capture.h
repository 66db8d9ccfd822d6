#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/debug_output.h"

namespace testing_support {

// Collects what is written to the debugger output channel while it lives.
class DebugCapture {
 public:
  DebugCapture() {
    platform::set_debug_sink([this](std::string_view text) {
      std::lock_guard lock(mutex_);
      writes_.emplace_back(text);
    });
  }
  ~DebugCapture() { platform::set_debug_sink({}); }

  // Every separate write, in order.
  std::vector<std::string> writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
  }
  // How many writes equal `text`.
  int count(const std::string& text) const {
    int n = 0;
    for (const std::string& w : writes()) n += w == text;
    return n;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> writes_;
};

}  // namespace testing_support
