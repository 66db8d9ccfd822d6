#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/run_recorder.h"

namespace testing_support {

// Installs a record sink that keeps every record it is given, and the thread that gave it, for as
// long as it lives; then none is installed.
class RecordingSink {
 public:
  explicit RecordingSink(bool keeps = true) {
    engine::set_record_sink(
        [this, keeps](const engine::ModuleSlot&, const engine::RunRecord& r, std::string* why) {
          std::lock_guard lock(mutex_);
          records_.push_back(r);
          thread_ = std::this_thread::get_id();
          if (!keeps) *why = "refused";
          return keeps;
        });
  }
  ~RecordingSink() { engine::set_record_sink({}); }
  RecordingSink(const RecordingSink&) = delete;
  RecordingSink& operator=(const RecordingSink&) = delete;

  std::vector<engine::RunRecord> records() const {
    std::lock_guard lock(mutex_);
    return records_;
  }
  std::thread::id thread() const {
    std::lock_guard lock(mutex_);
    return thread_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<engine::RunRecord> records_;
  std::thread::id thread_;
};

}  // namespace testing_support
