#include "platform/bench_lock.h"

#include "platform/win/lock_range.h"
#include "platform/win/wide_text.h"

namespace platform {

namespace {

HANDLE open_lock_file(const std::string& path, DWORD access, DWORD disposition) {
  return ::CreateFileW(win::widen(path).c_str(), access,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool lock_violation(DWORD error) {
  return error == ERROR_LOCK_VIOLATION || error == ERROR_SHARING_VIOLATION;
}

void read_holder(HANDLE file, LockRefusal& out) {
  char text[300];
  DWORD got = 0;
  OVERLAPPED ov = win::at_offset(0);
  LockHolder holder;
  if (::ReadFile(file, text, sizeof text, &got, &ov) && got > 0)
    holder = read_holder_record(std::string_view(text, got));
  out.held = true;
  out.holder = holder.pid;
  out.program = holder.program;
}

// Whether another process holds the lock file that this user may read but not write; when it
// does, `out` names the holder.
bool held_by_another(const std::string& path, LockRefusal& out) {
  win::Handle file(open_lock_file(path, GENERIC_READ, OPEN_EXISTING));
  if (!file.valid()) return false;
  OVERLAPPED ov = win::at_offset(win::kLockOffset);
  if (::LockFileEx(file.get(), LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov)) {
    ::UnlockFileEx(file.get(), 0, 1, 0, &ov);
    return false;
  }
  if (!lock_violation(::GetLastError())) return false;
  read_holder(file.get(), out);
  return true;
}

// Replaces the file's content with `text`.
void rewrite(HANDLE file, const std::string& text) {
  LARGE_INTEGER start{};
  if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) || !::SetEndOfFile(file)) return;
  DWORD put = 0;
  ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &put, nullptr);
}

}  // namespace

std::unique_ptr<BenchLock> BenchLock::acquire(const std::string& bench_dir, LockRefusal* refusal) {
  LockRefusal ignored;
  LockRefusal& out = refusal ? *refusal : ignored;
  out = LockRefusal{};
  out.lock = "bench lock";
  const std::string path = bench_lock_path(bench_dir);
  win::Handle file(open_lock_file(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS));
  if (!file.valid()) {
    const DWORD error = ::GetLastError();
    if (!held_by_another(path, out)) out.reason = path + ": " + win::error_text(error);
    return nullptr;
  }
  if (::GetFileType(file.get()) != FILE_TYPE_DISK) {
    out.reason = path + ": is not a regular file";
    return nullptr;
  }
  OVERLAPPED ov = win::at_offset(win::kLockOffset);
  if (!::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                    &ov)) {
    const DWORD error = ::GetLastError();
    if (lock_violation(error))
      read_holder(file.get(), out);
    else
      out.reason = path + ": " + win::error_text(error);
    return nullptr;
  }
  // Only the holder writes; a lock whose record cannot be written still works.
  rewrite(file.get(), holder_record());
  return std::unique_ptr<BenchLock>(new BenchLock(file.release(), path));
}

BenchLock::~BenchLock() {
  HANDLE file = static_cast<HANDLE>(file_);
  rewrite(file, {});  // no record is left behind for a holder that has gone
  OVERLAPPED ov = win::at_offset(win::kLockOffset);
  ::UnlockFileEx(file, 0, 1, 0, &ov);
  ::CloseHandle(file);
}

}  // namespace platform
