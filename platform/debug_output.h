#pragma once

#include <functional>
#include <string_view>

namespace platform {

// The debugger output channel: diagnostic text that is never shown to the operator. It goes
// nowhere unless a sink is installed: the programs install one when asked (--debug FILE, see
// DebugFile), tests capture it. Safe to call from any thread.
void debug_output(std::string_view text);

using DebugSink = std::function<void(std::string_view)>;

// Installs `sink` (an empty function sends the channel nowhere again).
void set_debug_sink(DebugSink sink);

}  // namespace platform
