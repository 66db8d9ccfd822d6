#include "platform/files.h"

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

bool fail(FileError* error, int code) {
  if (error) {
    error->missing = code == ENOENT || code == ENOTDIR;
    error->exists = code == EEXIST;
    error->link = false;
    error->text = std::strerror(code);
  }
  return false;
}

// A refused link is named as such; ELOOP alone may also mean too many links on the way.
bool refused_link(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

int fd_of(intptr_t handle) {
  return static_cast<int>(handle);
}

}  // namespace

File File::open(const std::string& path, FileAccess access, FileError* error, FileLinks links) {
  int flags = O_CLOEXEC | O_NOCTTY | (links == FileLinks::refuse ? O_NOFOLLOW : 0);
  mode_t mode = 0644;
  switch (access) {
    case FileAccess::read:
      // Non-blocking, so that opening a FIFO never waits for a writer.
      flags |= O_RDONLY | O_NONBLOCK;
      break;
    case FileAccess::append:
      flags |= O_WRONLY | O_APPEND | O_CREAT;
      break;
    case FileAccess::read_append:
      flags |= O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK;
      break;
    case FileAccess::create_new:
      flags |= O_WRONLY | O_CREAT | O_EXCL;
      mode = 0666;
      break;
  }
  int fd = ::open(path.c_str(), flags, mode);
  if (fd < 0) {
    const int code = errno;
    fail(error, code);
    if (code == ELOOP && links == FileLinks::refuse && error && refused_link(path)) {
      error->link = true;
      error->text = "is a symbolic link";
    }
    return File();
  }
  return File(fd, (flags & O_APPEND) != 0);
}

bool File::is_open() const {
  return handle_ >= 0;
}

bool File::status(FileStatus* status, FileError* error) const {
  struct stat st {};
  if (::fstat(fd_of(handle_), &st) != 0) return fail(error, errno);
  status->regular = S_ISREG(st.st_mode);
  status->directory = S_ISDIR(st.st_mode);
  status->size = st.st_size;
  status->modified_ns = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  status->permissions = st.st_mode & 07777;
  return true;
}

long File::read(void* buffer, size_t capacity, FileError* error) {
  for (;;) {
    ssize_t n = ::read(fd_of(handle_), buffer, capacity);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(error, errno);
    return static_cast<long>(n);
  }
}

bool File::read_byte_at(int64_t offset, char* byte) const {
  return read_at(offset, byte, 1);
}

bool File::read_at(int64_t offset, void* buffer, size_t size) const {
  auto* at = static_cast<char*>(buffer);
  while (size > 0) {
    const ssize_t n = ::pread(fd_of(handle_), at, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
    offset += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool File::write_all(std::string_view data, FileError* error) {
  while (!data.empty()) {
    ssize_t n = ::write(fd_of(handle_), data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail(error, n == 0 ? ENOSPC : errno);
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool File::truncate(int64_t size, FileError* error) {
  return ::ftruncate(fd_of(handle_), size) == 0 || fail(error, errno);
}

bool File::set_permissions(uint32_t permissions, FileError* error) {
  return ::fchmod(fd_of(handle_), permissions) == 0 || fail(error, errno);
}

bool File::lock(FileError* error) {
  while (::flock(fd_of(handle_), LOCK_EX) != 0)
    if (errno != EINTR) return fail(error, errno);
  return true;
}

bool File::lock_shared(FileError* error) {
  while (::flock(fd_of(handle_), LOCK_SH) != 0)
    if (errno != EINTR) return fail(error, errno);
  return true;
}

void File::unlock() {
  ::flock(fd_of(handle_), LOCK_UN);
}

bool File::flush_to_disk(FileError* error) {
  return ::fsync(fd_of(handle_)) == 0 || fail(error, errno);
}

bool File::close(FileError* error) {
  if (handle_ < 0) return true;
  int fd = fd_of(handle_);
  handle_ = -1;
  return ::close(fd) == 0 || fail(error, errno);
}

bool replace_file(const std::string& replacement, const std::string& target, FileError* error) {
  if (::rename(replacement.c_str(), target.c_str()) != 0) return fail(error, errno);
  // The rename is durable only once the folder itself is on disk.
  size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  return true;
}

bool rename_file_new(const std::string& from, const std::string& to, FileError* error) {
  // One step where the file system can; else a hard link, which never replaces a name that is
  // taken, and the old name goes once the new one is there (a crash between the two leaves both
  // names to the same file, never a file lost).
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno != EINVAL && errno != ENOSYS) return fail(error, errno);
    if (::link(from.c_str(), to.c_str()) != 0) return fail(error, errno);
    if (::unlink(from.c_str()) != 0) {
      const int code = errno;
      ::unlink(to.c_str());
      return fail(error, code);
    }
  }
  // The folder's new entries on the disk.
  const size_t slash = to.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : to.substr(0, slash + 1);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  return true;
}

bool remove_file(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

std::string write_target(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

long process_id() {
  return static_cast<long>(::getpid());
}

}  // namespace platform
