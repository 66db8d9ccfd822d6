#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace testing_support {

// A program of the tool started by a test.
struct Process {
  pid_t pid = -1;
  int output = -1;  // read end of its standard output (and standard error, when asked for)
};

// In a forked child: changes to `dir`, gives it a lock folder of its own and runs argv[0].
[[noreturn]] void exec_in(const std::vector<std::string>& argv, const std::filesystem::path& dir,
                          const std::string& runtime_dir);

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

// A bench folder for the programs of the tool, with a lock folder of its own.
class ToolBench : public ::testing::Test {
 protected:
  // ZEBL.ini for `modules` modules on COM1.. with the settling time `sleep_ms`, and an update file
  // of `size` bytes.
  void write_settings(int modules, int sleep_ms = 0, size_t size = 1500);
  // Starts the simulator with `extra` options and waits until it is ready.
  Process start_simulator(const std::vector<std::string>& extra = {});
  // Ends a simulator, which must exit with 0.
  void stop(Process& p);

  TempDir bench;
  TempDir runtime;
};

}  // namespace testing_support
