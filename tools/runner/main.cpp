// quillmark-run: updates the modules of the bench folder it runs in, without a window.
//
//   quillmark-run [--debug FILE] [MODULE]...
//
// Reads ZEBL.ini of the working directory as the window does and runs every module that has an AT
// port, or the modules named (1 to 6), side by side. Shows a progress bar and the status line of
// each module, then PASS or FAIL with the result code. Exits 0 only when every module passed;
// 1 when any failed; 2 for bad arguments or no module to run; 3 when the tool is already open.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/settings.h"
#include "devices/bench_ports.h"
#include "engine/module_slot.h"
#include "engine/run_control.h"
#include "engine/run_host.h"
#include "platform/debug_output.h"
#include "platform/instance_lock.h"
#include "tools/runner/call_queue.h"
#include "tools/runner/terminal_view.h"

namespace {

std::atomic<bool> interrupted{false};

void on_interrupt(int) {
  interrupted = true;
}

int usage() {
  std::fprintf(stderr, "usage: quillmark-run [--debug FILE] [MODULE]...   (MODULE: 1 to 6)\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string debug_file;
  std::vector<int> named;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--debug" && i + 1 < argc) {
      debug_file = argv[++i];
    } else if (arg.size() == 1 && arg[0] >= '1' && arg[0] <= '6') {
      named.push_back(arg[0] - '1');
    } else {
      return usage();
    }
  }

  platform::InstanceLock::Refusal refusal;
  auto lock = platform::InstanceLock::acquire("ZEBL", {}, &refusal);
  if (!lock && refusal.held) {
    if (refusal.holder > 0)
      std::fprintf(stderr, "Tool has been opened! (process %d)\n",
                   static_cast<int>(refusal.holder));
    else
      std::fprintf(stderr, "Tool has been opened!\n");
    return 3;
  }
  if (!lock) {
    std::fprintf(stderr, "quillmark-run: cannot take the single-instance lock: %s\n",
                 refusal.reason.c_str());
    return 2;
  }

  // The diagnostic lines go to a file, or nowhere: they would break the display.
  std::shared_ptr<std::ofstream> debug;
  if (debug_file.empty()) {
    platform::set_debug_sink([](std::string_view) {});
  } else if (debug_file != "-") {  // "-" keeps standard error
    debug = std::make_shared<std::ofstream>(debug_file, std::ios::app | std::ios::binary);
    platform::set_debug_sink([debug](std::string_view text) {
      debug->write(text.data(), static_cast<std::streamsize>(text.size()));
      debug->flush();
    });
  }

  config::LoadFilePath();
  config::load_settings();
  auto& slots = engine::slots();
  std::vector<int> modules;
  for (int k = 0; k < engine::kModuleCount; ++k) {
    bool wanted = named.empty() ? slots[k].atPort != 0
                                : std::find(named.begin(), named.end(), k) != named.end();
    if (wanted) modules.push_back(k);
  }
  for (int k : modules) {
    if (slots[k].atPort == 0) {
      std::fprintf(stderr, "Module%d has no AT port in ZEBL.ini\n", k + 1);
      return 2;
    }
  }
  if (modules.empty()) {
    std::fprintf(stderr, "No module has an AT port in ZEBL.ini.\n");
    return 2;
  }
  // The ports of a new bench get their links, and a stale link is never opened.
  devices::prepare_bench_ports();
  std::printf("Update file: %s\n", slots[modules.front()].filePath.c_str());
  std::fflush(stdout);

  runner::CallQueue loop;
  runner::TerminalView view(modules, stdout, ::isatty(STDOUT_FILENO) == 1);
  engine::RunHost host(view, [&loop](std::function<void()> call) { loop.post(std::move(call)); });

  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  std::vector<bool> started(engine::kModuleCount, false);
  for (int k : modules) {
    started[k] = engine::start_module(slots[k]) == engine::StartOutcome::started;
    if (!started[k]) view.send_message(engine::WM_SLOT_FINISHED + static_cast<uint32_t>(k), 0, 100);
  }

  bool stopping = false;
  while (!view.all_finished()) {
    loop.run_for(std::chrono::milliseconds(100));
    if (interrupted && !stopping) {
      stopping = true;  // as PAUSE: each run ends at its next check
      for (int k : modules) engine::request_stop(slots[k]);
    }
    view.draw();
  }
  view.draw();
  host.shut_down();

  bool all_passed = true;
  for (int k : modules) {
    bool passed = started[k] && view.result_ok(k) == 1 && slots[k].exitCode == engine::DL_OK;
    all_passed = all_passed && passed;
    if (passed)
      std::printf("Module%d COM%d PASS\n", k + 1, slots[k].atPort);
    else if (!started[k])
      std::printf("Module%d COM%d FAIL (the port could not be opened)\n", k + 1, slots[k].atPort);
    else
      std::printf("Module%d COM%d FAIL (errcode %d)\n", k + 1, slots[k].atPort,
                  slots[k].exitCode.load());
  }
  return all_passed ? 0 : 1;
}
