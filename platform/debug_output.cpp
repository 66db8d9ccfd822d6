#include "platform/debug_output.h"

#include <mutex>

namespace platform {

namespace {
std::mutex sink_mutex;
DebugSink sink;
}  // namespace

void debug_output(std::string_view text) {
  std::lock_guard lock(sink_mutex);
  if (sink) sink(text);
}

void set_debug_sink(DebugSink s) {
  std::lock_guard lock(sink_mutex);
  sink = std::move(s);
}

}  // namespace platform
