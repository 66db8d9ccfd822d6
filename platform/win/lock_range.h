#pragma once

#include <windows.h>

namespace platform::win {

// The byte a file's lock covers: one far beyond any content. A Windows lock keeps other processes
// from the bytes it covers, and readers of a locked file (a refused program reading who holds the
// lock, a reader of the record) must never wait for its holder.
constexpr ULONGLONG kLockOffset = 0x7FFFFFFFFFFFFFFEULL;

// An OVERLAPPED that addresses `offset`, for LockFileEx and UnlockFileEx.
inline OVERLAPPED at_offset(ULONGLONG offset) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ov;
}

}  // namespace platform::win
