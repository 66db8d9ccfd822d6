#include "dialog/window_options.h"

namespace dialog {

bool parse_window_options(const std::vector<std::string>& args, WindowOptions* options,
                          std::string* error) {
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (platform::read_bench_option(args, &i, &options->bench, error)) {
      if (!error->empty()) return false;
    } else if (arg == "--default-bench") {
      options->bench.default_bench = true;
    } else if (arg == "-h" || arg == "--help") {
      options->help = true;
    } else if (arg == "--version") {
      options->version = true;
    } else if (arg == "--debug" || arg.rfind("--debug=", 0) == 0) {
      options->debug_file =
          arg == "--debug" ? (i + 1 < args.size() ? args[++i] : "") : arg.substr(8);
      if (options->debug_file.empty()) {
        *error = "option '--debug' requires an argument";
        return false;
      }
    } else if (!arg.empty() && arg[0] == '-') {
      *error = "unknown option '" + arg + "'";
      return false;
    } else {
      *error = "'" + arg + "' is not an option: name a bench folder with --bench " + arg;
      return false;
    }
  }
  return true;
}

}  // namespace dialog
