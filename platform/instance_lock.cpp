#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {

std::unique_ptr<InstanceLock> InstanceLock::acquire(const std::string& name,
                                                    const std::string& directory) {
  std::string dir = directory;
  if (dir.empty()) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    dir = runtime && *runtime ? runtime : "/tmp";
  }
  // The user id keeps the lock files of different users apart in a shared folder.
  std::string path = dir + "/" + name + "." + std::to_string(::getuid()) + ".lock";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return nullptr;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
}

InstanceLock::~InstanceLock() {
  ::close(fd_);
}

}  // namespace platform
