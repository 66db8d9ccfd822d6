#include "platform/instance_lock.h"

#include "platform/win/wide_text.h"

namespace platform {

std::string InstanceLock::default_directory() {
  return {};
}

std::unique_ptr<InstanceLock> InstanceLock::acquire(const std::string& name, const std::string&,
                                                    Refusal* refusal) {
  Refusal ignored;
  Refusal& out = refusal ? *refusal : ignored;
  out = Refusal{};
  out.lock = "single-instance lock";
  // Owned from its creation; another process that creates it finds that it already existed.
  HANDLE mutex = ::CreateMutexW(nullptr, TRUE, win::widen(name).c_str());
  const DWORD error = ::GetLastError();
  if (!mutex) {
    out.reason = "mutex " + name + ": " + win::error_text(error);
    return nullptr;
  }
  if (error == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(mutex);
    out.held = true;
    return nullptr;
  }
  return std::unique_ptr<InstanceLock>(new InstanceLock(mutex, name));
}

InstanceLock::~InstanceLock() {
  HANDLE mutex = static_cast<HANDLE>(mutex_);
  ::ReleaseMutex(mutex);
  ::CloseHandle(mutex);
}

}  // namespace platform
