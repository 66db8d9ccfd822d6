#include "platform/lock_file.h"

#ifndef _WIN32
#include <sys/file.h>
#endif
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/executable_dir.h"

namespace platform {

namespace {
// A program's name longer than this is not a name this tool wrote.
constexpr size_t kMaxProgramName = 255;
}  // namespace

std::string describe_holder(const LockRefusal& refusal) {
  if (refusal.holder <= 0) return {};
  std::string text = "process " + std::to_string(refusal.holder);
  return refusal.program.empty() ? text : text + " " + refusal.program;
}

std::string holder_record() {
  return std::to_string(::getpid()) + " " + executable_name() + "\n";
}

LockHolder read_holder_record(std::string_view text) {
  const size_t end = text.find('\n');
  if (end == std::string_view::npos) return {};
  text = text.substr(0, end);
  long pid = 0;
  size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    pid = pid * 10 + (text[i] - '0');
    if (pid > INT_MAX) return {};
  }
  if (i == 0 || pid == 0 || (i < text.size() && text[i] != ' ')) return {};
  LockHolder holder;
  holder.pid = static_cast<pid_t>(pid);
  if (i == text.size()) return holder;  // a record without the program
  std::string_view program = text.substr(i + 1);
  if (program.empty() || program.size() > kMaxProgramName) return holder;
  for (char c : program)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return holder;
  holder.program = std::string(program);
  return holder;
}

#ifndef _WIN32

LockHolder read_lock_file_holder(int fd) {
  char text[kMaxProgramName + 32];
  ssize_t n = ::pread(fd, text, sizeof text, 0);
  return n > 0 ? read_holder_record(std::string_view(text, static_cast<size_t>(n))) : LockHolder{};
}

bool take_lock_file(int fd, const std::string& path, LockRefusal& out) {
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (error == EWOULDBLOCK) {
      out.held = true;
      const LockHolder holder = read_lock_file_holder(fd);
      out.holder = holder.pid;
      out.program = holder.program;
    } else {
      out.reason = path + ": " + std::strerror(error);
    }
    ::close(fd);
    return false;
  }
  // Only the holder writes, so the record read by a refused process is the holder's, or nothing
  // while it is being written. A lock whose record cannot be written still works.
  const std::string record = holder_record();
  if (::ftruncate(fd, 0) == 0) {
    [[maybe_unused]] ssize_t n = ::pwrite(fd, record.data(), record.size(), 0);
  }
  return true;
}

void release_lock_file(int fd) {
  [[maybe_unused]] int cleared = ::ftruncate(fd, 0);
  ::close(fd);
}

#endif

}  // namespace platform
