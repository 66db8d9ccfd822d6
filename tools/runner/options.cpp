#include "tools/runner/options.h"

#include <algorithm>
#include <cctype>

#ifndef QUILL_VERSION
#error "QUILL_VERSION comes from the project version of CMakeLists.txt"
#endif

namespace runner {

namespace {

bool is_com_name(const std::string& arg) {
  if (arg.size() < 4) return false;
  std::string head = arg.substr(0, 3);
  std::transform(head.begin(), head.end(), head.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return head == "com" && std::all_of(arg.begin() + 3, arg.end(),
                                      [](unsigned char c) { return std::isdigit(c) != 0; });
}

bool take_module(const std::string& arg, Options* options, std::string* error) {
  if (arg.size() == 1 && arg[0] >= '1' && arg[0] <= '6') {
    int index = arg[0] - '1';
    if (std::find(options->modules.begin(), options->modules.end(), index) ==
        options->modules.end())
      options->modules.push_back(index);
    return true;
  }
  if (is_com_name(arg))
    *error = "'" + arg +
             "' is a port, not a module: name modules by their number, 1 to 6; each module's AT "
             "port (its COM number) is set in ZEBL.ini or in the window";
  else
    *error = "'" + arg + "' is not a module: modules are numbered 1 to 6";
  return false;
}

}  // namespace

bool parse_options(const std::vector<std::string>& args, Options* options, std::string* error) {
  bool options_ended = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_ended || arg.empty() || arg[0] != '-' || arg == "-") {
      if (!take_module(arg, options, error)) return false;
    } else if (platform::read_bench_option(args, &i, &options->bench, error)) {
      if (!error->empty()) return false;
    } else if (arg == "--") {
      options_ended = true;
    } else if (arg == "-h" || arg == "--help") {
      options->help = true;
    } else if (arg == "--version") {
      options->version = true;
    } else if (arg == "--json") {
      options->json = true;
    } else if (arg == "--watch") {
      options->watch = true;
    } else if (arg == "--debug") {
      if (i + 1 >= args.size()) {
        *error = "option '--debug' requires an argument";
        return false;
      }
      options->debug_file = args[++i];
    } else if (arg.rfind("--debug=", 0) == 0) {
      options->debug_file = arg.substr(8);
      if (options->debug_file.empty()) {
        *error = "option '--debug' requires an argument";
        return false;
      }
    } else {
      *error = "unknown option '" + arg + "'";
      return false;
    }
  }
  if (options->watch && options->json) {
    *error = "--watch prints a line per result; it does not combine with --json";
    return false;
  }
  return true;
}

std::string help_text() {
  return "Usage: quillmark-run [OPTION]... [MODULE]...\n"
         "Writes the update file of ZEBL.ini into the modules of the bench folder, side by\n"
         "side, and tells for each module whether it passed. The bench folder is the folder\n"
         "it is started in, or DIR of --bench: it holds ZEBL.ini, ports/, the AT traffic logs\n"
         "and runs.csv.\n"
         "\n"
         "MODULE is a module number, 1 to 6; without one, every module that has an AT port in\n"
         "ZEBL.ini runs. A module's AT port (its COM number) is set in ZEBL.ini or in the window.\n"
         "\n"
         "Options:\n"
         "  -C, --bench=DIR   work on the bench folder DIR, as if started there (a relative\n"
         "                    --debug FILE too)\n"
         "      --debug=FILE  append the diagnostic lines, time-stamped, to FILE ('-' for\n"
         "                    standard error)\n"
         "      --json        print one JSON document with the results at the end, and nothing\n"
         "                    else on standard output\n"
         "      --watch       keep running: start each module when its AT port is plugged in\n"
         "                    (again only after it was away for 3 s), print a line per result;\n"
         "                    Ctrl-C waits for the runs under way, a second Ctrl-C stops them\n"
         "  -h, --help        show this help and exit\n"
         "      --version     show the version and exit\n"
         "      --            end of the options\n"
         "\n"
         "On a terminal each module has a progress row that is redrawn in place; elsewhere each\n"
         "event is one time-stamped line. Ctrl-C stops every module. Every run is added to\n"
         "runs.csv in the bench folder (a record that cannot be written is told, and does\n"
         "not change the exit status); the summary ends with today's passes and failures.\n"
         "\n"
         "Exit status:\n"
         "    0  every module passed\n"
         "    1  a module failed\n"
         "    2  bad arguments, a bench folder that does not exist, no usable ZEBL.ini, no\n"
         "       usable update file, or a debug file that cannot be opened\n"
         "    3  the tool is already open on this computer\n"
         "  130  stopped by Ctrl-C (with --watch: by a second Ctrl-C)\n";
}

std::string version_text() {
  return std::string("quillmark-run ") + QUILL_VERSION + "\n";
}

}  // namespace runner
