#pragma once

#include <string>
#include <vector>

#include "platform/bench_folder.h"

namespace runner {

// Exit codes of quillmark-run.
constexpr int kExitPassed = 0;       // every module passed
constexpr int kExitFailed = 1;       // a module failed
constexpr int kExitBadInput = 2;     // bad arguments, settings, update file or debug file
constexpr int kExitAlreadyOpen = 3;  // another instance holds the bench
constexpr int kExitInterrupted = 130;

// The command line, read as GNU programs read theirs.
struct Options {
  bool help = false;
  bool version = false;
  bool json = false;
  bool watch = false;            // start each module when its port arrives, until interrupted
  std::string debug_file;        // empty: no diagnostic output; "-": standard error
  std::vector<int> modules;      // slot indices 0..5 named on the command line, in order
  platform::BenchRequest bench;  // --bench, -C: the bench folder, when not the working directory
};

// Reads the arguments (the program's name first). False, with the message (without
// "quillmark-run: ") in `error`, for an argument the runner does not take.
bool parse_options(const std::vector<std::string>& args, Options* options, std::string* error);

// The text of --help.
std::string help_text();

// "quillmark-run <version>".
std::string version_text();

}  // namespace runner
