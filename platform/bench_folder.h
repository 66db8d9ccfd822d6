#pragma once

// The bench folder a program works on. A bench folder holds everything of one bench (ZEBL.ini,
// ports/, the AT traffic logs, runs.csv); a program works on the folder it is started in, or on
// the one its command line names, into which it changes before it does anything else, so that
// every relative path (settings, ports, logs, records, a relative update file) is read as if it
// had been started there.

#include <string>
#include <vector>

namespace platform {

// The bench a command line asks for: the folders of "--bench DIR" and "-C DIR", in their order
// (each relative to the one before, as make and git take theirs), or the user's default bench
// ("--default-bench", which only the window takes: its menu entries start it so).
struct BenchRequest {
  std::vector<std::string> folders;
  bool default_bench = false;
};

// The program's arguments as UTF-8, its name first: argv as it is (on Windows the console
// programs' wmain has made it UTF-8), or, when argv is null (a Windows program started through
// WinMain), read from the wide command line.
std::vector<std::string> program_arguments(int argc, char** argv);

// Reads args[*i] as a bench option: "--bench DIR", "--bench=DIR", "-C DIR" or "-CDIR". Gives true
// when it is one, having added its folder to `request` and moved *i onto a folder given as the
// next argument; `error` then says what is wrong with it (empty when nothing is). Gives false,
// changing nothing, for any other argument.
bool read_bench_option(const std::vector<std::string>& args, size_t* i, BenchRequest* request,
                       std::string* error);

// Changes into the bench `request` names; nothing to do when it names none. False, with the
// reason ("bench folder /x: No such file or directory", "bench folder /x: not a folder"), when a
// folder does not exist, is not a folder or cannot be entered: a program never works on another
// folder instead. The folder the program was started in is remembered (start_directory).
bool enter_bench(const BenchRequest& request, std::string* error);

// Makes `folder` the working directory; false, with the reason as enter_bench gives it, when it
// cannot. Paths are UTF-8.
bool change_to_folder(const std::string& folder, std::string* error);

// The user's default bench folder, made when it is missing: ~/quillmark on Linux, the quillmark
// folder in the user's Documents on Windows. Empty, with the reason, when there is none.
std::string default_bench_folder(std::string* error);

// The working directory the program was started in, with its final separator: the one it had when
// it entered its bench; its working directory now when it entered none.
std::string start_directory();

// Sets what start_directory gives (empty: the working directory again). enter_bench sets it; a
// test sets its own.
void set_start_directory(const std::string& folder);

}  // namespace platform
