#include "platform/debug_output.h"

#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace platform {

namespace {
std::mutex sink_mutex;
DebugSink sink;

void write_stderr(std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text.remove_prefix(static_cast<size_t>(n));
  }
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
