// quillmark-sim: simulated modules on pseudo-terminals, registered as COM ports of a bench folder.
//
//   quillmark-sim [--ports DIR] [--store DIR] [--first N] [--count K] [--fault COM<n>:<fault>]...
//   quillmark-sim --version
//
// Creates K modules COM<N>..COM<N+K-1> (default COM1..COM6) as links in DIR (default ./ports),
// prints one line "COM<n> <device>" per module and then "ready", and serves until interrupted;
// the links are removed on exit. A link of the ports folder that leads to an existing device
// (another simulator's, or a port of the bench) is never taken over: the simulator then ends with
// an error; a dangling link is replaced. Files the modules store are written to
// <store>/COM<n>/<name>. Faults: silent, deaf, delay=<ms>, split, error-packet=<k>,
// count-offset=<d>, count-text=<text>, count-no-crlf, refuse=<command>, stall-after=<bytes>,
// pull-after=<bytes>.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

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

int usage() {
  std::fprintf(stderr,
               "usage: quillmark-sim [--ports DIR] [--store DIR] [--first N] [--count K] "
               "[--fault COM<n>:<fault>]...\n"
               "       quillmark-sim --version\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("quillmark-sim %s\n", QUILL_VERSION);
    return 0;
  }
  std::string ports = "ports", store;
  unsigned first = 1, count = 6;
  std::map<unsigned, simulator::Faults> faults;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (i + 1 >= argc) return usage();
    std::string value = argv[++i];
    if (arg == "--ports") {
      ports = value;
    } else if (arg == "--store") {
      store = value;
    } else if (arg == "--first") {
      first = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
    } else if (arg == "--count") {
      count = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
    } else if (arg == "--fault") {
      size_t colon = value.find(':');
      if (value.rfind("COM", 0) != 0 || colon == std::string::npos || colon == 3 ||
          value.find_first_not_of("0123456789", 3) != colon)
        return usage();
      unsigned com = static_cast<unsigned>(std::strtoul(value.c_str() + 3, nullptr, 10));
      if (!faults[com].parse(value.substr(colon + 1))) {
        std::fprintf(stderr, "quillmark-sim: unknown fault %s\n", value.c_str());
        return 2;
      }
    } else {
      return usage();
    }
  }
  if (first == 0 || count == 0 || first > kLastCom || count > kLastCom - first + 1) return usage();
  // A fault for a module that is not simulated would be lost without a word.
  for (const auto& [com, fault] : faults) {
    if (com < first || com - first >= count) {
      std::fprintf(stderr,
                   "quillmark-sim: --fault COM%u: COM%u is not simulated (COM%u to COM%u)\n", com,
                   com, first, first + count - 1);
      return 2;
    }
  }

  simulator::PtyModuleServer server(ports, store);
  // Ready to be stopped before "ready" is announced: a stop that follows at once still removes the
  // links.
  running = &server;
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  for (unsigned com = first; com < first + count; ++com) {
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
