#pragma once

// What the console programs (the runner, the log reader) do alike on Windows: they take their
// arguments in UTF-16 (wmain) and keep them, as every text, in UTF-8, which they print.
#include <string>
#include <vector>

namespace platform::win {

// The arguments wmain() is given (split as for main()), as UTF-8 in a main()-style argv.
class Utf8Arguments {
 public:
  Utf8Arguments(int argc, wchar_t** wide_argv);
  Utf8Arguments(const Utf8Arguments&) = delete;
  Utf8Arguments& operator=(const Utf8Arguments&) = delete;

  int argc() const { return static_cast<int>(texts_.size()); }
  // Ends with a null pointer, as main()'s does.
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::string> texts_;
  std::vector<char*> pointers_;
};

// When standard output or error is a console, sets its output code page to UTF-8 for the run and
// gives the console's own back when the program exits (the console outlives the program).
void print_utf8_on_console();

// What a console program's wmain does: prints UTF-8 on the console and runs `run` with the
// arguments in UTF-8; gives run's exit code.
int run_with_utf8_arguments(int argc, wchar_t** wide_argv, int (*run)(int argc, char** argv));

}  // namespace platform::win
