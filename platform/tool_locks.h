#pragma once

#include <memory>
#include <string>

#include "platform/bench_lock.h"
#include "platform/instance_lock.h"

namespace platform {

// The locks that a program that runs modules (the window, quillmark-run) holds for its whole
// life: the lock of its bench folder, whoever and wherever it runs, and the user's single-instance
// lock "ZEBL". The bench lock is taken first, so that a second program on a bench is told which
// process holds it, also on Windows, where the single-instance mutex cannot tell.
struct ToolLocks {
  std::unique_ptr<BenchLock> bench;
  std::unique_ptr<InstanceLock> user;
};

// Takes both locks for the bench folder `bench_dir`. False when either is not taken; `refusal`
// then says which lock, and why (refusal.lock).
bool take_tool_locks(const std::string& bench_dir, ToolLocks* locks, LockRefusal* refusal);

}  // namespace platform
