#include "platform/bench_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

constexpr int kOpenFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;

bool regular_file(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// Whether another process holds the lock file that this user may read but not write; when it
// does, `out` names the holder. A shared lock conflicts with the holder's and needs no writing.
bool held_by_another(const std::string& path, LockRefusal& out) {
  int fd = ::open(path.c_str(), O_RDONLY | kOpenFlags);
  if (fd < 0) return false;
  bool held = regular_file(fd) && ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  if (held) {
    const LockHolder holder = read_lock_file_holder(fd);
    out.held = true;
    out.holder = holder.pid;
    out.program = holder.program;
  }
  ::close(fd);
  return held;
}

}  // namespace

std::unique_ptr<BenchLock> BenchLock::acquire(const std::string& bench_dir, LockRefusal* refusal) {
  LockRefusal ignored;
  LockRefusal& out = refusal ? *refusal : ignored;
  out = LockRefusal{};
  out.lock = "bench lock";
  const std::string path = bench_lock_path(bench_dir);
  // Readable by the others of the bench, as the umask allows, so that they can see who holds it.
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | kOpenFlags, 0666);
  if (fd < 0) {
    const int error = errno;
    if (!held_by_another(path, out)) out.reason = path + ": " + std::strerror(error);
    return nullptr;
  }
  if (!regular_file(fd)) {
    ::close(fd);
    out.reason = path + ": is not a regular file";
    return nullptr;
  }
  if (!take_lock_file(fd, path, out)) return nullptr;
  return std::unique_ptr<BenchLock>(new BenchLock(fd, path));
}

BenchLock::~BenchLock() {
  release_lock_file(fd_);
}

}  // namespace platform
