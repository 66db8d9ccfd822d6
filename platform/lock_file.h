#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace platform {

// The process that holds a lock, as it wrote itself into the lock file: "<pid> <program>\n".
struct LockHolder {
  pid_t pid = 0;        // 0 when the holder has not (yet) written itself into the file
  std::string program;  // the file name of its executable; empty when unknown
};

// Why a lock was not taken: another process holds it, or it could not be taken at all.
struct LockRefusal {
  std::string lock;     // which lock: "bench lock" or "single-instance lock"
  bool held = false;    // true: another process holds the lock
  pid_t holder = 0;     // when held: the process that holds it; 0 when it has not said yet
  std::string program;  // when held: that process's program, when it said
  std::string reason;   // when not held: the path and the system's error text
};

// "process <pid> <program>", "process <pid>" without a program, or "" for a holder that has not
// said who it is.
std::string describe_holder(const LockRefusal& refusal);

// What this process writes into a lock file it holds.
std::string holder_record();

// The holder a lock file's text names. Only a whole record counts (one that ends in a line end):
// a record being written names nobody. The program's name is taken only when it is printable.
LockHolder read_holder_record(std::string_view text);

#ifndef _WIN32
// Takes the lock of the lock file open as `fd` (at `path`) for this process and writes this
// process's record into it. When it is held or cannot be taken, closes `fd`, fills `out` and gives
// false.
bool take_lock_file(int fd, const std::string& path, LockRefusal& out);

// Empties the lock file, so that no record of a holder that has gone is shown, and closes it.
void release_lock_file(int fd);

// The holder that the lock file open as `fd` names.
LockHolder read_lock_file_holder(int fd);
#endif

}  // namespace platform
