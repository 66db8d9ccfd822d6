#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/executable_dir.h"

namespace platform {

namespace {

std::string system_error(const std::string& path, int error) {
  return path + ": " + std::strerror(error);
}

std::string ownership_text(const std::string& dir, uid_t owner) {
  return dir + ": belongs to user " + std::to_string(owner) + ", not to user " +
         std::to_string(::geteuid());
}

// Makes the folder `dir` for the user alone (mode 0700), but only inside a folder of the user's:
// a folder made by root in somebody's home (su, sudo -E) would lock that user out later.
bool make_private_folder(const std::string& dir, std::string& why) {
  struct stat st {};
  if (::lstat(dir.c_str(), &st) == 0) return true;  // judged by the caller
  const size_t slash = dir.find_last_of('/');
  const std::string parent = slash == 0 ? "/" : dir.substr(0, slash);
  if (slash == std::string::npos || ::stat(parent.c_str(), &st) != 0) return true;  // told later
  if (st.st_uid != ::geteuid()) {
    why = ownership_text(parent, st.st_uid) + "; a folder for the lock is not made there";
    return false;
  }
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    why = system_error(dir, errno);
    return false;
  }
  return true;
}

// Makes the missing folders above `dir` (absolute), each for the user alone.
bool make_parent_folders(const std::string& dir, std::string& why) {
  for (size_t slash = dir.find('/', 1); slash != std::string::npos;
       slash = dir.find('/', slash + 1)) {
    const std::string folder = dir.substr(0, slash);
    struct stat st {};
    if (::lstat(folder.c_str(), &st) == 0) continue;
    if (errno != ENOENT) {
      why = system_error(folder, errno);
      return false;
    }
    if (!make_private_folder(folder, why)) return false;
  }
  return true;
}

// Opens the folder of the lock files, creating it when missing. Only a real folder of the user
// that no other user may enter is accepted: anyone who can change its entries could take the lock
// file's name first, or replace it.
int open_private_folder(const std::string& dir, std::string& why) {
  if (!make_private_folder(dir, why)) return -1;
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
    why = ownership_text(dir, st.st_uid);
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

// An absolute path from the environment; relative ones are not used.
std::string absolute_from_environment(const char* name) {
  const char* value = std::getenv(name);
  return value && value[0] == '/' ? std::string(value) : std::string();
}

}  // namespace

std::string InstanceLock::default_directory() {
  if (std::string runtime = absolute_from_environment("XDG_RUNTIME_DIR"); !runtime.empty())
    return runtime;
  if (std::string state = absolute_from_environment("XDG_STATE_HOME"); !state.empty())
    return state + "/quillmark";
  const std::string home = home_directory();
  return home.empty() ? std::string() : home + "/.local/state/quillmark";
}

std::unique_ptr<InstanceLock> InstanceLock::acquire(const std::string& name,
                                                    const std::string& directory,
                                                    Refusal* refusal) {
  Refusal ignored;
  Refusal& out = refusal ? *refusal : ignored;
  out = Refusal{};
  out.lock = "single-instance lock";
  std::string dir = directory.empty() ? default_directory() : directory;
  if (dir.empty()) {
    out.reason = "no folder for the lock: neither XDG_RUNTIME_DIR nor the user's home is known";
    return nullptr;
  }
  std::string file = name + "." + std::to_string(::getuid()) + ".lock";
  std::string path = dir + "/" + file;

  // The default folder in the home may need its parents (~/.local/state) too.
  if (directory.empty() && !make_parent_folders(dir, out.reason)) return nullptr;
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
  if (!take_lock_file(fd, path, out)) return nullptr;
  return std::unique_ptr<InstanceLock>(new InstanceLock(fd, path));
}

InstanceLock::~InstanceLock() {
  release_lock_file(fd_);
}

}  // namespace platform
