// quillmark.exe: the window that writes one update file into up to six modules at once. It works
// on a bench folder (ZEBL.ini, ZEBL.cfg, the AT traffic logs, runs.csv): the one it is started in
// (a portable folder that holds the program and ZEBL.ini side by side, started by a double
// click), the one --bench names, or the user's default bench Documents\quillmark
// (--default-bench, as the Start menu's shortcut starts it).
//
//   quillmark [-C DIR | --default-bench] [--debug FILE] | --help | --version
//
// The command line is read before any window: --help, --version, a bad option and a bench folder
// that does not exist are answered on the standard output or error when they lead somewhere, else
// in the console the program was started from, else in a message box; no lock is taken for them.
//
// With QUILLMARK_BENCH_FIRST_PAINT set, the program writes "first-paint <ns>" on its standard
// output when the main dialog is first painted: the system time (GetSystemTimePreciseAsFileTime)
// in nanoseconds since 1970-01-01 UTC, which a benchmark compares with the wall-clock time it
// started the program at (CLOCK_REALTIME under Wine).
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "dialog/window_options.h"
#include "platform/bench_folder.h"
#include "platform/debug_file.h"
#include "platform/win/wide_text.h"
#include "ui_win/cor_vexapp.h"
#include "ui_win/message_box.h"

#ifndef QUILL_VERSION
#error "QUILL_VERSION comes from the project version of CMakeLists.txt"
#endif

namespace {

constexpr const char* kUsage = "Usage: quillmark [-C DIR | --default-bench] [--debug FILE]\n";

constexpr const char* kHelp =
    "Opens the window that writes the update file of ZEBL.ini into up to six modules,\n"
    "on a bench folder: the folder it is started in, unless an option names another.\n"
    "The bench folder holds ZEBL.ini, the AT traffic logs and runs.csv.\n"
    "\n"
    "Options:\n"
    "  -C, --bench=DIR   work on the bench folder DIR, as if started there\n"
    "      --default-bench\n"
    "                    work on your default bench folder, quillmark in your Documents,\n"
    "                    made when it is missing (the Start menu starts the window so)\n"
    "      --debug=FILE  append the diagnostic lines, time-stamped, to FILE ('-' for\n"
    "                    standard error); without it they are not written anywhere\n"
    "  -h, --help        show this help and exit\n"
    "      --version     show the version and exit\n"
    "\n"
    "Exit status:\n"
    "    0  the window was closed, or a second start was refused (\"Tool has been opened!\")\n"
    "    1  the bench lock or the single-instance lock cannot be taken\n"
    "    2  bad arguments, a bench folder that does not exist or cannot be made, or a\n"
    "       debug file that cannot be opened\n";

// Writes to a standard handle that leads somewhere (a console, a pipe, a file); false when it
// leads nowhere, as a program of the window subsystem's usually does.
bool write_to(DWORD which, const std::string& text) {
  HANDLE out = ::GetStdHandle(which);
  if (out == nullptr || out == INVALID_HANDLE_VALUE || ::GetFileType(out) == FILE_TYPE_UNKNOWN)
    return false;
  DWORD mode = 0;
  DWORD written = 0;
  if (::GetConsoleMode(out, &mode)) {
    const std::wstring wide = platform::win::widen(text);
    return ::WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
  }
  return ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// Tells the person who started the program: on the standard output (or error), else in the
// console it was started from, else in a message box.
void tell(const std::string& text, bool error) {
  const DWORD which = error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE;
  if (write_to(which, text)) return;
  if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
    HANDLE console =
        ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (console != INVALID_HANDLE_VALUE) {
      const std::wstring wide = platform::win::widen("\n" + text);
      DWORD written = 0;
      ::WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
      ::CloseHandle(console);
      ::FreeConsole();
      return;
    }
    ::FreeConsole();
  }
  ::MessageBoxW(nullptr, platform::win::widen(text).c_str(), ui_win::application_name().c_str(),
                MB_OK | (error ? MB_ICONSTOP : MB_ICONINFORMATION));
}

void write_first_paint_stamp() {
  FILETIME now{};
  ::GetSystemTimePreciseAsFileTime(&now);
  const unsigned long long ticks =
      (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  constexpr unsigned long long kUnixEpochTicks = 116444736000000000ULL;  // 100 ns since 1601
  char line[64];
  std::snprintf(line, sizeof line, "first-paint %llu\n", (ticks - kUnixEpochTicks) * 100ULL);
  write_to(STD_OUTPUT_HANDLE, line);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  dialog::WindowOptions options;
  std::string error;
  if (!dialog::parse_window_options(platform::program_arguments(0, nullptr), &options, &error)) {
    tell("quillmark: " + error + "\n" + kUsage + "Try 'quillmark --help'.\n", true);
    return 2;
  }
  if (options.help) {
    tell(std::string(kUsage) + kHelp, false);
    return 0;
  }
  if (options.version) {
    tell(std::string("quillmark ") + QUILL_VERSION + "\n", false);
    return 0;
  }
  // Everything relative (settings, logs, records, the debug file) is the bench's. Started from the
  // Start menu, nobody sees a console: the box tells it there.
  if (!platform::enter_bench(options.bench, &error)) {
    tell("quillmark: " + error + "\n", true);
    return 2;
  }
  std::unique_ptr<platform::DebugFile> debug;  // lives as long as the window
  if (!options.debug_file.empty() &&
      !(debug = platform::DebugFile::open(options.debug_file, &error))) {
    tell("quillmark: cannot open the debug file " + error + "\n", true);
    return 2;
  }

  ui_win::COR_VEXApp app;
  if (::GetEnvironmentVariableW(L"QUILLMARK_BENCH_FIRST_PAINT", nullptr, 0) > 0)
    app.on_first_paint = write_first_paint_stamp;
  return app.InitInstance();
}
