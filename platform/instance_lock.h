#pragma once

#include <memory>
#include <string>

namespace platform {

// A named lock that one process of a user holds at a time: the single-instance guard of the tool.
// It is released when the holder ends, however it ends.
class InstanceLock {
 public:
  // Takes the lock `name`, kept as a lock file in `directory` (default: $XDG_RUNTIME_DIR, else
  // /tmp). Null when another process holds it.
  static std::unique_ptr<InstanceLock> acquire(const std::string& name,
                                               const std::string& directory = {});
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

 private:
  explicit InstanceLock(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace platform
