// quillmark-ports: shows the COM ports of the bench folder (the folder it is started in, or the one
// -C names), maps a device to a number of the operator's choice, tells what stands in the way of
// the ports and writes the udev rule that keeps the modem daemon off the modules.
#include <poll.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "devices/hardware_ports.h"
#include "devices/port_namespace.h"
#include "devices/port_numbers.h"
#include "devices/port_watcher.h"
#include "platform/bench_folder.h"
#include "platform/com_ports.h"
#include "tools/ports/bench_listing.h"
#include "tools/ports/doctor.h"
#include "tools/ports/udev_rule.h"

#ifndef QUILL_VERSION
#error "QUILL_VERSION comes from the project version of CMakeLists.txt"
#endif

namespace {

const char* const kUsage =
    "usage: quillmark-ports [-C BENCH] [list]  the COM ports of the bench folder\n"
    "       quillmark-ports map <device> <n>   make <device> COM<n> (e.g. map /dev/ttyUSB2 7)\n"
    "       quillmark-ports unmap <n>          remove COM<n> and free its number\n"
    "       quillmark-ports watch              show ports as they arrive and go away\n"
    "       quillmark-ports doctor             what stands in the way of the ports, and remedies\n"
    "       quillmark-ports udev-rule          a udev rule: ModemManager leaves the modules\n"
    "       quillmark-ports --version          show the version\n"
    "Run it in the bench folder, or name the folder with -C BENCH (--bench BENCH): the numbers\n"
    "live in its ports/ folder.\n";

std::optional<unsigned> parse_number(std::string text) {
  if (text.size() > 3 && (text.compare(0, 3, "COM") == 0 || text.compare(0, 3, "com") == 0))
    text.erase(0, 3);
  return devices::com_link_number("COM" + text);
}

// A bare kernel name ("ttyUSB0") stands for its device node.
std::string device_path(const std::string& text) {
  return text.find('/') == std::string::npos ? "/dev/" + text : text;
}

int list() {
  int error = 0;
  std::optional<ports_tool::Bench> bench = ports_tool::read_bench(&error);
  if (bench && !bench->numbered)
    std::fprintf(stderr, "quillmark-ports: cannot number the ports: %s\n",
                 bench->numbering_failure.c_str());
  if (!bench) {
    std::fprintf(stderr, "quillmark-ports: %s: %s\n", platform::ports_directory().c_str(),
                 std::strerror(error));
    return 1;
  }
  std::printf("%-8s %-8s %-24s %s\n", "PORT", "STATE", "DEVICE", "DESCRIPTION");
  for (const ports_tool::BenchPort& line : bench->ports) {
    std::string port = "COM" + std::to_string(line.number);
    std::printf("%-8s %-8s %-24s %s\n", port.c_str(), ports_tool::state_name(line.state),
                line.device.empty() ? "-" : line.device.c_str(), line.text.c_str());
  }
  return 0;
}

int watch() {
  devices::PortWatcher watcher;
  list();
  std::fflush(stdout);
  for (;;) {
    pollfd p{watcher.fd(), POLLIN, 0};
    if (::poll(&p, 1, -1) < 0) continue;
    for (const devices::PortNotice& notice : watcher.take_notices())
      std::printf("%s %s\n", notice.event == devices::DBT_DEVICEARRIVAL ? "arrived" : "removed",
                  notice.port_name.c_str());
    std::fflush(stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // The bench option may stand anywhere; the rest is the subcommand and its arguments.
  const std::vector<std::string> line = platform::program_arguments(argc, argv);
  platform::BenchRequest bench;
  std::vector<std::string> args;
  for (size_t i = 1; i < line.size(); ++i) {
    std::string why;
    if (!platform::read_bench_option(line, &i, &bench, &why)) {
      args.push_back(line[i]);
    } else if (!why.empty()) {
      std::fprintf(stderr, "quillmark-ports: %s\n%s", why.c_str(), kUsage);
      return 2;
    }
  }
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (args.size() == 1 && args[0] == "--version") {
    std::printf("quillmark-ports %s\n", QUILL_VERSION);
    return 0;
  }
  if (std::string why; !platform::enter_bench(bench, &why)) {
    std::fprintf(stderr, "quillmark-ports: %s\n", why.c_str());
    return 2;
  }
  if (args.empty() || (args[0] == "list" && args.size() == 1)) return list();
  if (args[0] == "watch" && args.size() == 1) return watch();
  if (args[0] == "doctor" && args.size() == 1)
    return ports_tool::doctor(ports_tool::seams_from_environment());
  if (args[0] == "udev-rule" && args.size() == 1) return ports_tool::print_udev_rule();
  std::string why;
  if (args[0] == "map" && args.size() == 3) {
    std::optional<unsigned> n = parse_number(args[2]);
    if (!n) {
      std::fprintf(stderr, "quillmark-ports: %s is not a COM number\n", args[2].c_str());
      return 2;
    }
    if (!devices::map_device(platform::ports_directory(), device_path(args[1]), *n,
                             devices::find_hardware_ports(), &why)) {
      std::fprintf(stderr, "quillmark-ports: %s\n", why.c_str());
      return 1;
    }
    return list();
  }
  if (args[0] == "unmap" && args.size() == 2) {
    std::optional<unsigned> n = parse_number(args[1]);
    if (!n || !devices::unmap_number(platform::ports_directory(), *n, &why)) {
      std::fprintf(stderr, "quillmark-ports: %s\n", n ? why.c_str() : "not a COM number");
      return 1;
    }
    return list();
  }
  std::fputs(kUsage, stderr);
  return 2;
}
