#include "platform/win/console.h"

#include <windows.h>

#include <cstdlib>

#include "platform/win/wide_text.h"

namespace platform::win {

Utf8Arguments::Utf8Arguments(int argc, wchar_t** wide_argv) {
  for (int i = 0; i < argc; ++i) texts_.push_back(narrow(wide_argv[i]));
  for (std::string& text : texts_) pointers_.push_back(text.data());
  pointers_.push_back(nullptr);
}

namespace {

UINT console_code_page = 0;

void give_back_console_code_page() {
  ::SetConsoleOutputCP(console_code_page);
}

}  // namespace

void print_utf8_on_console() {
  DWORD mode = 0;
  if (!::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) &&
      !::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode))
    return;
  console_code_page = ::GetConsoleOutputCP();
  if (console_code_page == CP_UTF8 || !::SetConsoleOutputCP(CP_UTF8)) return;
  std::atexit(give_back_console_code_page);
}

int run_with_utf8_arguments(int argc, wchar_t** wide_argv, int (*run)(int argc, char** argv)) {
  print_utf8_on_console();
  Utf8Arguments args(argc, wide_argv);
  return run(args.argc(), args.argv());
}

}  // namespace platform::win
