#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

std::string system_error(const std::string& path, int error) {
  return path + ": " + std::strerror(error);
}

// Opens the folder of the lock files, creating it when missing. Only a real folder of the user
// that no other user may enter is accepted: anyone who can change its entries could take the lock
// file's name first, or replace it.
int open_private_folder(const std::string& dir, std::string& why) {
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    why = system_error(dir, errno);
    return -1;
  }
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) {
    why = system_error(dir, errno);
    return -1;
  }
  if (S_ISLNK(st.st_mode)) {
    why = dir + ": is a symbolic link, not a folder";
    return -1;
  }
  if (!S_ISDIR(st.st_mode)) {
    why = dir + ": is not a folder";
    return -1;
  }
  if (st.st_uid != ::geteuid()) {
    why = dir + ": belongs to user " + std::to_string(st.st_uid) + ", not to user " +
          std::to_string(::geteuid());
    return -1;
  }
  if (st.st_mode & (S_IRWXG | S_IRWXO)) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    why = dir + ": other users have access to the folder (mode " + mode + ", must be 0700)";
    return -1;
  }
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    why = system_error(dir, errno);
    return -1;
  }
  // The folder opened must be the folder checked.
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino) {
    ::close(fd);
    why = dir + ": changed while it was checked";
    return -1;
  }
  return fd;
}

// The process id that the holder wrote into the lock file; 0 when there is none (yet).
pid_t read_holder(int fd) {
  char text[24] = {};
  ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  if (n <= 0) return 0;
  long pid = 0;
  for (ssize_t i = 0; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
    pid = pid * 10 + (text[i] - '0');
    if (pid > INT_MAX) return 0;
  }
  return static_cast<pid_t>(pid);
}

}  // namespace

std::string InstanceLock::default_directory() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) return runtime;
  return "/tmp/quillmark-" + std::to_string(::getuid());
}

std::unique_ptr<InstanceLock> InstanceLock::acquire(const std::string& name,
                                                    const std::string& directory,
                                                    Refusal* refusal) {
  Refusal ignored;
  Refusal& out = refusal ? *refusal : ignored;
  out = Refusal{};
  std::string dir = directory.empty() ? default_directory() : directory;
  std::string file = name + "." + std::to_string(::getuid()) + ".lock";
  std::string path = dir + "/" + file;

  int dir_fd = open_private_folder(dir, out.reason);
  if (dir_fd < 0) return nullptr;
  int fd =
      ::openat(dir_fd, file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  int open_error = errno;
  ::close(dir_fd);
  if (fd < 0) {
    out.reason = system_error(path, open_error);
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    out.reason = path + ": is not a regular file";
    return nullptr;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int lock_error = errno;
    if (lock_error == EWOULDBLOCK) {
      out.held = true;
      out.holder = read_holder(fd);
    } else {
      out.reason = system_error(path, lock_error);
    }
    ::close(fd);
    return nullptr;
  }
  // Only the holder writes, so the id read by a refused process is the holder's, or nothing while
  // it is being written. A lock whose id cannot be written still works.
  std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) == 0) {
    [[maybe_unused]] ssize_t n = ::pwrite(fd, pid.data(), pid.size(), 0);
  }
  return std::unique_ptr<InstanceLock>(new InstanceLock(fd, path));
}

InstanceLock::~InstanceLock() {
  // No id is left behind to be shown for a holder that has gone.
  [[maybe_unused]] int cleared = ::ftruncate(fd_, 0);
  ::close(fd_);
}

}  // namespace platform
