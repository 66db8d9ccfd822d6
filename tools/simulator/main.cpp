// quillmark-sim: simulated modules on pseudo-terminals, registered as COM ports of a bench folder.
//
//   quillmark-sim [-C BENCH] [--ports DIR] [--store DIR] [--first N] [--count K]
//                 [--fault COM<n>:<fault>]...
//   quillmark-sim --help | --version
//
// Changes into the bench folder BENCH when it is named, then creates K modules (default 6) as
// links in DIR (default ports, in the bench folder): COM<N>..COM<N+K-1> with
// --first, else the K lowest numbers that the bench leaves free (told on standard error). Prints
// one line "COM<n> <device>" per module and then "ready", and serves until interrupted; the links
// are removed on exit. A link of the ports folder that leads to an existing device (another
// simulator's, or a port of the bench) is never taken over: with --first the simulator then ends
// with an error; a dangling link is replaced. Files the modules store are written to
// <store>/COM<n>/<name>; without --store they are not kept (told on standard error).
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "devices/port_numbers.h"
#include "platform/bench_folder.h"
#include "tools/simulator/pty_module_server.h"

#ifndef QUILL_VERSION
#error "QUILL_VERSION comes from the project version of CMakeLists.txt"
#endif

namespace {

constexpr unsigned kLastCom = 999999;

simulator::PtyModuleServer* running = nullptr;

void on_signal(int) {
  if (running) running->stop();
}

constexpr const char* kUsage =
    "Usage: quillmark-sim [-C BENCH] [--ports DIR] [--store DIR] [--first N] [--count K]\n"
    "                     [--fault COM<n>:<fault>]...\n";

constexpr const char* kHelp =
    "Simulated cellular modules on pseudo-terminals, registered as COM ports of a bench\n"
    "folder, for trying the tool without modules. Prints \"COM<n> <device>\" per module, then\n"
    "\"ready\", and serves until Ctrl-C or SIGTERM, which remove its links again.\n"
    "\n"
    "Options:\n"
    "  -C, --bench=BENCH the bench folder (default: the folder it is started in); DIR of\n"
    "                    --ports and --store is read in it when relative\n"
    "      --ports DIR   the bench's ports folder (default: ports)\n"
    "      --store DIR   keep the files the modules receive as DIR/COM<n>/<name>; without\n"
    "                    it they are not kept\n"
    "      --count K     the number of modules (default 6)\n"
    "      --first N     the COM number of the first module; the others follow it. Without\n"
    "                    it the modules take the K lowest numbers that no port of the bench\n"
    "                    uses or keeps (an on-board serial port may hold COM1)\n"
    "      --fault COM<n>:<fault>\n"
    "                    make module COM<n> misbehave; may be given more than once\n"
    "  -h, --help        show this help and exit\n"
    "      --version     show the version and exit\n"
    "\n"
    "Faults:\n"
    "  silent               answers nothing at all\n"
    "  deaf                 takes no byte at all: the line fills up\n"
    "  delay=<ms>           sends every reply this long after its command\n"
    "  split                sends every reply in two parts, split inside its token\n"
    "  error-packet=<k>     answers ERROR to packet k of the file (1 = the first)\n"
    "  count-offset=<d>     reports the stored size plus d\n"
    "  count-text=<text>    reports <text> as the byte count\n"
    "  count-no-crlf        sends no line end after the byte count\n"
    "  refuse=<command>     answers ERROR to <command>, e.g. refuse=AT+CBAINIT\n"
    "  stall-after=<bytes>  stops taking bytes after that many bytes of the file\n"
    "  pull-after=<bytes>   is pulled out after that many bytes of the file\n"
    "  silent-identity      answers nothing to AT+CGSN and AT+CGMR (refuse=AT+CGSN answers\n"
    "                       ERROR)\n"
    "\n"
    "Examples:\n"
    "  quillmark-sim --store store --count 2\n"
    "      two modules in the ports folder of the current folder (the bench)\n"
    "  quillmark-sim -C ~/quillmark --store store --count 2\n"
    "      the same on the bench of the window started from the desktop's menu\n"
    "  quillmark-sim --store store --first 7 --count 3 --fault COM8:error-packet=2\n"
    "      COM7 to COM9, of which COM8 refuses the second packet\n"
    "\n"
    "Exit status: 0 ended by Ctrl-C or SIGTERM; 1 a module could not be created;\n"
    "2 bad arguments.\n";

int usage_error(const std::string& message) {
  std::fprintf(stderr, "quillmark-sim: %s\n%sTry 'quillmark-sim --help'.\n", message.c_str(),
               kUsage);
  return 2;
}

// A whole decimal number from 1 to kLastCom.
bool parse_number(const std::string& text, unsigned* number) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *number = static_cast<unsigned>(std::strtoul(text.c_str(), nullptr, 10));
  return *number >= 1 && *number <= kLastCom;
}

// The `count` lowest numbers that are free in the ports folder and that the numbering does not
// keep for a socket of the bench (its port may come back). Fewer when the numbers run out.
std::vector<unsigned> lowest_free_numbers(const std::string& ports, unsigned count) {
  std::set<unsigned> kept;
  for (const devices::NumberEntry& entry : devices::read_numbers(ports)) kept.insert(entry.number);
  std::vector<unsigned> numbers;
  for (unsigned com = 1; com <= kLastCom && numbers.size() < count; ++com)
    if (!kept.count(com) && simulator::com_link_free(ports, com)) numbers.push_back(com);
  return numbers;
}

std::string list(const std::vector<unsigned>& numbers) {
  std::string text;
  for (unsigned com : numbers) text += (text.empty() ? "COM" : ", COM") + std::to_string(com);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  std::string ports = "ports", store;
  unsigned first = 0, count = 6;
  std::map<unsigned, simulator::Faults> faults;
  platform::BenchRequest bench;
  const std::vector<std::string> args = platform::program_arguments(argc, argv);
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string error;
    if (platform::read_bench_option(args, &i, &bench, &error)) {
      if (!error.empty()) return usage_error(error);
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      std::printf("%s%s", kUsage, kHelp);
      return 0;
    }
    if (arg == "--version") {
      std::printf("quillmark-sim %s\n", QUILL_VERSION);
      return 0;
    }
    if (arg != "--ports" && arg != "--store" && arg != "--first" && arg != "--count" &&
        arg != "--fault")
      return usage_error("unknown option '" + arg + "'");
    if (i + 1 >= args.size()) return usage_error("option '" + arg + "' requires an argument");
    const std::string value = args[++i];
    if (arg == "--ports") {
      ports = value;
    } else if (arg == "--store") {
      store = value;
    } else if (arg == "--first") {
      if (!parse_number(value, &first))
        return usage_error("--first " + value + ": not 1 to 999999");
    } else if (arg == "--count") {
      if (!parse_number(value, &count))
        return usage_error("--count " + value + ": not 1 to 999999");
    } else {
      const size_t colon = value.find(':');
      unsigned com = 0;
      if (value.rfind("COM", 0) != 0 || colon == std::string::npos ||
          !parse_number(value.substr(3, colon - 3), &com))
        return usage_error("--fault " + value + ": not COM<n>:<fault>");
      if (!faults[com].parse(value.substr(colon + 1))) {
        std::fprintf(stderr, "quillmark-sim: unknown fault %s\n", value.c_str());
        return 2;
      }
    }
  }
  if (first != 0 && count > kLastCom - first + 1)
    return usage_error("COM" + std::to_string(first) + " and " + std::to_string(count - 1) +
                       " more go beyond COM999999");
  if (std::string why; !platform::enter_bench(bench, &why)) {
    std::fprintf(stderr, "quillmark-sim: %s\n", why.c_str());
    return 2;
  }

  std::vector<unsigned> numbers;
  if (first != 0) {
    for (unsigned com = first; com < first + count; ++com) numbers.push_back(com);
  } else {
    numbers = lowest_free_numbers(ports, count);
    if (numbers.size() < count) {
      std::fprintf(stderr, "quillmark-sim: %s: not %u free COM numbers\n", ports.c_str(), count);
      return 1;
    }
  }
  // A fault for a module that is not simulated would be lost without a word.
  for (const auto& [com, fault] : faults) {
    if (std::find(numbers.begin(), numbers.end(), com) == numbers.end()) {
      std::fprintf(stderr, "quillmark-sim: --fault COM%u: COM%u is not simulated (%s)\n", com, com,
                   list(numbers).c_str());
      return 2;
    }
  }
  if (first == 0) std::fprintf(stderr, "quillmark-sim: simulating %s\n", list(numbers).c_str());
  if (store.empty())
    std::fprintf(stderr, "quillmark-sim: no --store: the files received are not kept\n");

  simulator::PtyModuleServer server(ports, store);
  // Ready to be stopped before "ready" is announced: a stop that follows at once still removes the
  // links.
  running = &server;
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  for (unsigned com : numbers) {
    std::string why;
    if (!server.add(com, faults[com], &why)) {
      std::fprintf(stderr, "quillmark-sim: COM%u: %s\n", com, why.c_str());
      running = nullptr;
      return 1;
    }
    std::printf("COM%u %s\n", com, server.device(com).c_str());
  }
  std::printf("ready\n");
  std::fflush(stdout);
  server.run();
  running = nullptr;
  return 0;
}
