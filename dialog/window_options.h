#pragma once

// The window's command line, the same for the window on every system.
#include <string>
#include <vector>

#include "platform/bench_folder.h"

namespace dialog {

struct WindowOptions {
  bool help = false;
  bool version = false;
  std::string debug_file;
  platform::BenchRequest bench;
};

// Reads the command line (UTF-8, the program's name first); false, with the message, for anything
// the window does not take.
bool parse_window_options(const std::vector<std::string>& args, WindowOptions* options,
                          std::string* error);

}  // namespace dialog
