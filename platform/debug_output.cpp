#include "platform/debug_output.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include <cerrno>
#endif

#include <mutex>

namespace platform {

namespace {
std::mutex sink_mutex;
DebugSink sink;

void write_stderr(std::string_view text) {
#ifdef _WIN32
  HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  while (!text.empty()) {
    DWORD put = 0;
    if (!::WriteFile(err, text.data(), static_cast<DWORD>(text.size()), &put, nullptr) || put == 0)
      return;
    text.remove_prefix(put);
  }
#else
  while (!text.empty()) {
    ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text.remove_prefix(static_cast<size_t>(n));
  }
#endif
}
}  // namespace

void debug_output(std::string_view text) {
  std::lock_guard lock(sink_mutex);
  if (sink)
    sink(text);
  else
    write_stderr(text);
}

void set_debug_sink(DebugSink s) {
  std::lock_guard lock(sink_mutex);
  sink = std::move(s);
}

}  // namespace platform
