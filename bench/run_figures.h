#pragma once

// Figures shared by the benchmarks that time whole runs: the protocol's floor for a run, and the
// process's own CPU time and peak resident memory (also in the Windows programs of the benchmarks).
#ifdef _WIN32
#include <windows.h>
// windows.h first: psapi.h needs its types.
#include <psapi.h>
#else
#include <sys/resource.h>
#include <time.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "engine/download_sequence.h"

namespace bench {

// The floor of one successful run with a settling time of 0: every wait the protocol mandates,
// plus one 50 ms poll interval for each AT and AT+CFSWFILE exchange.
inline int64_t floor_ms(int64_t size) {
  const int64_t exchange = 20 + 300;  // a command with the full reply wait, answered at once
  int64_t ms = (20 + 50) + exchange;  // AT, ATE0
  ms += exchange;                     // AT+CFSINIT
  for (int64_t left = size; left > 0; left -= engine::kPacketSize) {
    int64_t packet = std::min<int64_t>(left, engine::kPacketSize);
    int64_t pieces = (packet + engine::kPieceSize - 1) / engine::kPieceSize;
    ms += (20 + 50) + 200 + pieces * 120;  // AT+CFSWFILE, the prompt's pause, the pieces
  }
  ms += 4 * exchange;  // byte count query, AT+CFSTERM, AT+CBAINIT, AT+CBAPPS
  return ms;
}

#ifdef _WIN32
inline double filetime_seconds(const FILETIME& time) {
  return static_cast<double>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                             time.dwLowDateTime) /
         1e7;
}

// Peak working set of this process, in KiB; -1 when unknown.
inline long peak_rss_kib() {
  PROCESS_MEMORY_COUNTERS counters{};
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) return -1;
  return static_cast<long>(counters.PeakWorkingSetSize / 1024);
}

// CPU time of this process so far (user and kernel), in seconds.
inline double cpu_seconds() {
  FILETIME created, ended, kernel, user;
  if (!::GetProcessTimes(::GetCurrentProcess(), &created, &ended, &kernel, &user)) return 0;
  return filetime_seconds(kernel) + filetime_seconds(user);
}

// CPU time of the calling thread so far (user and kernel), in seconds.
inline double thread_cpu_seconds() {
  FILETIME created, ended, kernel, user;
  if (!::GetThreadTimes(::GetCurrentThread(), &created, &ended, &kernel, &user)) return 0;
  return filetime_seconds(kernel) + filetime_seconds(user);
}
#else
// Peak resident memory of this process (VmHWM), in KiB; -1 when unknown.
inline long peak_rss_kib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

// CPU time of this process so far (user and system), in seconds.
inline double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU time of the calling thread so far, in seconds.
inline double thread_cpu_seconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}
#endif

}  // namespace bench
