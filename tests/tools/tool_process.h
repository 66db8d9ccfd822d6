#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// A program of the tool started by a test.
struct Process {
  pid_t pid = -1;
  int output = -1;  // read end of its standard output (and standard error, when asked for)
};

// Starts argv[0] in `dir` with XDG_RUNTIME_DIR set to `runtime_dir`, so that each test has a
// single-instance lock of its own.
Process spawn(const std::vector<std::string>& argv, const std::filesystem::path& dir,
              const std::string& runtime_dir, bool with_errors = false);

// Everything the process writes, up to its end; closes the descriptor.
std::string read_all(int fd);

// The exit status, -1 for a process ended by a signal.
int wait_exit(pid_t pid);

// Reads a process's output up to and including `text` (all of it when `text` never comes).
std::string read_until(int fd, const std::string& text);

// Reads a simulator's output up to its "ready" line.
std::string wait_ready(int fd);

}  // namespace testing_support
