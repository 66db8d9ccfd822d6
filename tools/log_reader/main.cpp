// quillmark-log: prints the AT traffic logs AtLog_<n>.ini of a bench folder readably, one line per
// block sent to or received from a module.
//
//   quillmark-log [-C BENCH] [--module N] [--tail K] [--raw]
//
// --dir BENCH is the bench option's older name.
//
// Exit status: 0 the logs were printed, 1 no log found or a log that cannot be read, 2 bad
// arguments.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "platform/bench_folder.h"
#include "platform/executable_dir.h"
#include "platform/files.h"
#include "tools/log_reader/log_view.h"

#ifndef QUILL_VERSION
#error "QUILL_VERSION comes from the project version of CMakeLists.txt"
#endif

#ifdef _WIN32
#include "platform/win/console.h"
#endif

namespace {

const char* const kUsage =
    "Usage: quillmark-log [-C BENCH] [--module N] [--tail K] [--raw]\n"
    "Prints the AT traffic logs AtLog_1.ini to AtLog_6.ini of a bench folder, one line per\n"
    "block sent to or received from a module: its date and time stamps, \"sent\" or\n"
    "\"received\", and its text.\n"
    "\n"
    "Options:\n"
    "  -C, --bench=BENCH the bench folder (default: the folder it is started in); --dir\n"
    "                    BENCH is the same\n"
    "      --module N    only the log of module N, 1 to 6 (default: every log there is,\n"
    "                    each under a heading)\n"
    "      --tail K      only the last K records of each log\n"
    "      --raw         every block in full, without data summaries\n"
    "  -h, --help        show this help and exit\n"
    "      --version     show the version and exit\n"
    "\n"
    "Control characters are shown as \\r, \\n, \\t, \\0 or \\xHH, a backslash as \\\\. The pieces\n"
    "of the update file written after the module's DOWNLOAD prompt, and blocks that are mostly\n"
    "binary, are summarised; consecutive ones share a line: \"data, 10 blocks, 10240 bytes\".\n"
    "\n"
    "Exit status: 0 printed, 1 no log found or a log that cannot be read, 2 bad arguments.\n";

struct Options {
  platform::BenchRequest bench;
  std::optional<int> module;
  log_reader::ViewOptions view;
  bool help = false;
  bool version = false;
};

int bad_usage(const std::string& why) {
  std::fprintf(stderr, "quillmark-log: %s\n%s", why.c_str(), kUsage);
  return 2;
}

bool all_digits(const std::string& s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// Parses the arguments; an empty text, or why they are wrong.
std::string parse(const std::vector<std::string>& args, Options* o) {
  for (size_t i = 1; i < args.size(); ++i) {
    std::string arg = args[i];
    std::string error;
    if (platform::read_bench_option(args, &i, &o->bench, &error)) {
      if (!error.empty()) return error;
      continue;
    }
    std::string value;
    bool takes_value = false;
    for (const char* name : {"--dir", "--module", "--tail"}) {
      std::string n = name;
      if (arg == n) {
        if (i + 1 >= args.size()) return "option '" + n + "' requires an argument";
        value = args[++i];
      } else if (arg.starts_with(n + "=")) {
        value = arg.substr(n.size() + 1);
      } else {
        continue;
      }
      arg = n;
      takes_value = true;
      break;
    }
    if (takes_value && arg == "--dir") {
      if (value.empty()) return "option '--dir' requires a folder";
      o->bench.folders.push_back(value);
    } else if (takes_value && arg == "--module") {
      if (value.size() != 1 || value[0] < '1' || value[0] > '6')
        return "'" + value + "' is not a module: modules are numbered 1 to 6";
      o->module = value[0] - '0';
    } else if (takes_value && arg == "--tail") {
      if (!all_digits(value) || value.size() > 18)
        return "'" + value + "' is not a number of records";
      o->view.tail = std::stoull(value);
    } else if (arg == "--raw") {
      o->view.raw = true;
    } else if (arg == "-h" || arg == "--help") {
      o->help = true;
    } else if (arg == "--version") {
      o->version = true;
    } else {
      return "unknown argument '" + arg + "'";
    }
  }
  return "";
}

// Whether the log at `path` is missing (rather than present, or there but unreadable).
bool missing(const std::string& path) {
  platform::FileError error;
  return !platform::File::open(path, platform::FileAccess::read, &error).is_open() && error.missing;
}

int run(int argc, char** argv) {
  Options options;
  if (std::string why = parse(platform::program_arguments(argc, argv), &options); !why.empty())
    return bad_usage(why);
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options.version) {
    std::printf("quillmark-log %s\n", QUILL_VERSION);
    return 0;
  }
  if (std::string why; !platform::enter_bench(options.bench, &why)) {
    std::fprintf(stderr, "quillmark-log: %s\n", why.c_str());
    return 2;
  }
  std::ios::sync_with_stdio(false);

  int status = 0;
  int found = 0;
  for (int n = 1; n <= 6; ++n) {
    if (options.module && *options.module != n) continue;
    std::string name = "AtLog_" + std::to_string(n) + ".ini";
    if (!options.module && missing(name)) continue;
    ++found;
    if (!options.module) std::cout << (found > 1 ? "\n" : "") << "== " << name << " ==\n";
    std::string error;
    if (!log_reader::print_log(name, options.view, std::cout, &error)) {
      std::cout.flush();
      std::fprintf(stderr, "quillmark-log: %s: %s\n", name.c_str(), error.c_str());
      status = 1;
    }
  }
  std::cout.flush();
  if (found == 0) {
    std::fprintf(stderr, "quillmark-log: no AT traffic log (AtLog_1.ini to AtLog_6.ini) in %s\n",
                 options.bench.folders.empty() ? "the working directory"
                                               : platform::working_directory().c_str());
    return 1;
  }
  return status;
}

}  // namespace

#ifdef _WIN32
// The arguments arrive in UTF-16, so that a bench folder named in any language is found; inside
// they are UTF-8, as is what is printed.
int wmain(int argc, wchar_t** wide_argv) {
  return platform::win::run_with_utf8_arguments(argc, wide_argv, run);
}
#else
int main(int argc, char** argv) {
  return run(argc, argv);
}
#endif
