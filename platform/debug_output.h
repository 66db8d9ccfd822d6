#pragma once

#include <functional>
#include <string_view>

namespace platform {

// The debugger output channel: diagnostic text that is never shown to the operator. It goes to
// standard error unless a sink is installed (tests capture it; the terminal runner sends it to a
// file so that it does not disturb its display). Safe to call from any thread.
void debug_output(std::string_view text);

using DebugSink = std::function<void(std::string_view)>;

// Installs `sink` (an empty function restores standard error).
void set_debug_sink(DebugSink sink);

}  // namespace platform
