#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "platform/lock_file.h"

namespace platform {

// The lock of a bench folder: the file ZEBL.lock beside ZEBL.ini, locked by the one program that
// runs the bench's modules. Unlike the per-user InstanceLock it does not depend on who runs the
// program or in which environment (a desktop session, cron, su, sudo): two programs on one bench
// would share its ports and its records.
//
// The holder writes its process id and program into the file; a process that is refused tells
// them. The file stays when the holder ends and is emptied; a file left by a process that died is
// simply taken again, since the system released its lock. A user who may read the file but not
// write it is still told who holds it; one who cannot open or create it is refused with the
// reason, never let through without the lock.
//
// On Linux it is an flock on the file; on Windows a LockFileEx lock on one byte far beyond the
// record, so that others can still read the record.
class BenchLock {
 public:
  static constexpr const char* kFileName = "ZEBL.lock";

  // Takes the lock of the bench folder `bench_dir`. Null when it is not taken; `refusal` then
  // tells whether another process holds it (and which) or why it could not be taken.
  static std::unique_ptr<BenchLock> acquire(const std::string& bench_dir,
                                            LockRefusal* refusal = nullptr);

  ~BenchLock();
  BenchLock(const BenchLock&) = delete;
  BenchLock& operator=(const BenchLock&) = delete;

  // The lock file.
  const std::string& path() const { return path_; }

 private:
#ifdef _WIN32
  BenchLock(void* file, std::string path) : file_(file), path_(std::move(path)) {}
  void* file_;
#else
  BenchLock(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  int fd_;
#endif
  std::string path_;
};

// The lock file of the bench folder `bench_dir` (the working directory when empty).
inline std::string bench_lock_path(const std::string& bench_dir) {
  if (bench_dir.empty()) return BenchLock::kFileName;
  const bool separated =
      std::string_view(kPathSeparators).find(bench_dir.back()) != std::string_view::npos;
  return bench_dir + (separated ? "" : "/") + BenchLock::kFileName;
}

}  // namespace platform
