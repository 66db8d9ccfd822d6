#include "platform/tool_locks.h"

namespace platform {

bool take_tool_locks(const std::string& bench_dir, ToolLocks* locks, LockRefusal* refusal) {
  ToolLocks taken;
  taken.bench = BenchLock::acquire(bench_dir, refusal);
  if (!taken.bench) return false;
  taken.user = InstanceLock::acquire("ZEBL", {}, refusal);
  if (!taken.user) return false;
  *locks = std::move(taken);
  return true;
}

}  // namespace platform
