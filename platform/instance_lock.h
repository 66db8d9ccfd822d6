#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "platform/lock_file.h"

namespace platform {

// A named lock that one process of a user holds at a time: the single-instance guard of the tool.
// It is released when the holder ends, however it ends.
//
// On Linux it is an flock on the file <folder>/<name>.<uid>.lock. The holder writes its process id
// and program into the file, so that a process that is refused can say which process holds the
// lock. The folder must be a real folder (not a symbolic link) of the user that no other user may
// enter; a missing folder is created with mode 0700. Anything else is refused with the reason,
// since a folder that others can change would let them lock the tool out or point the lock file
// elsewhere.
//
// On Windows it is the named mutex <name> of the user's session, owned by the holder from its
// creation; the folder plays no part, and a refused process cannot tell the holder (holder 0).
//
// The folder depends on the environment (a cron job, su or sudo see another one), so the programs
// that run modules also hold the lock of their bench folder (BenchLock).
class InstanceLock {
 public:
  using Refusal = LockRefusal;

  // Takes the lock `name` in `directory` (default_directory() when empty, with its missing parent
  // folders made for the user alone). Null when it is not taken; `refusal` then tells whether it
  // is held by another process or could not be created.
  static std::unique_ptr<InstanceLock> acquire(const std::string& name,
                                               const std::string& directory = {},
                                               Refusal* refusal = nullptr);

  // $XDG_RUNTIME_DIR when it is set; else a folder in the user's home, which no other user can
  // make first: $XDG_STATE_HOME/quillmark, or ~/.local/state/quillmark. Empty on Windows.
  static std::string default_directory();

  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // The lock file; on Windows the mutex's name.
  const std::string& path() const { return path_; }

 private:
#ifdef _WIN32
  InstanceLock(void* mutex, std::string name) : mutex_(mutex), path_(std::move(name)) {}
  void* mutex_;
#else
  InstanceLock(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  int fd_;
#endif
  std::string path_;
};

}  // namespace platform
