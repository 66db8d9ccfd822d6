#pragma once

#include <string>
#include <string_view>

#include "engine/module_slot.h"

namespace engine {

enum class Direction { sent, received };

// The folder of the AT traffic logs, with its final slash: the bench folder (the working
// directory), beside the settings file. Computed once, on first use, and unchanged while workers
// run.
const std::string& at_log_directory();

// Fixes the folder before its first use (tests give each process its own). False when the folder
// was already in use.
bool set_at_log_directory(std::string directory);

// "<AtLog directory>AtLog_<module number>.ini".
std::string at_log_path(const ModuleSlot& slot);

// Appends one record for a block sent or received: date, time, direction prefix, the text without
// one final carriage return, and "\r\n". An empty text writes nothing; a log that cannot be opened
// drops the record silently.
void write_at_log(const ModuleSlot& slot, Direction direction, std::string_view text);

}  // namespace engine
