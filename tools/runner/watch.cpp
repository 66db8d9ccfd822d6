#include "tools/runner/watch.h"

#include <array>
#include <string>

#include "config/settings.h"
#include "devices/port_census.h"
#include "devices/port_watcher.h"
#include "engine/module_slot.h"
#include "engine/port_notices.h"
#include "engine/run_control.h"
#include "platform/clock.h"
#include "station/plug_in_start.h"
#include "station/run_record.h"
#include "tools/runner/bench_checks.h"
#include "tools/runner/options.h"
#include "tools/runner/summary.h"

namespace runner {

namespace {

std::string waiting_text(int k) {
  return "Waiting for a module on COM" + std::to_string(engine::slots()[k].atPort) + "...";
}

}  // namespace

int watch_modules(const std::vector<int>& modules, TerminalView& view, CallQueue& loop,
                  std::atomic<bool>& interrupted, const std::function<void()>& tick) {
  auto& slots = engine::slots();
  std::array<int32_t, engine::kModuleCount> at_ports{};
  for (int k : modules) at_ports[k] = slots[k].atPort;
  std::array<bool, engine::kModuleCount> running{};
  station::PlugInStart plug_in(config::load_rearm_seconds() * 1000);
  devices::PortWatcher watcher;
  bool any_failed = false;
  bool draining = false;  // the first interrupt: nothing new starts
  bool stopped = false;   // the second: the runs under way are stopped

  view.note("Watching: a module starts when its port arrives. Ctrl-C ends the watch.");
  devices::GetDevicePorts();
  for (int k : modules) view.waiting(k, waiting_text(k));

  auto start = [&](int k) {
    view.started(k);
    const std::string serial = engine::port_facts(slots[k].atPort).serial;
    if (engine::start_module(slots[k]) == engine::StartOutcome::started) {
      running[k] = true;
      plug_in.on_run_started(k, slots[k].atPort, serial);
      return;
    }
    const std::string why = slots[k].hAT.open_failure();
    if (std::string remedy = port_open_failure(static_cast<unsigned>(slots[k].atPort), why);
        !remedy.empty())
      view.note("Module" + std::to_string(k + 1) + ": " + remedy);
    view.note(result_line(k + 1, slots[k].atPort, false, {}, engine::failed_start_cause(why)));
    any_failed = true;
  };

  while (true) {
    loop.run_for(std::chrono::milliseconds(100));
    for (const devices::PortNotice& notice : watcher.take_notices()) {
      const int64_t now = platform::clock().now_ms();
      if (notice.event == devices::DBT_DEVICEREMOVECOMPLETE) {
        devices::GetDevicePorts();
        const std::optional<int32_t> d = engine::removal_port_number(notice.port_name);
        if (!d) continue;
        plug_in.on_removal(*d, now);
        // A module that is gone shows no result: the next one could be taken for it.
        for (int k : modules)
          if (at_ports[k] == *d && !running[k]) view.waiting(k, waiting_text(k));
        continue;
      }
      if (notice.event != devices::DBT_DEVICEARRIVAL || draining) continue;
      const int32_t com = engine::arrival_port_number(notice.port_name);
      devices::GetDevicePorts();
      station::PlugInStart::Modules present;
      for (int k : modules) {
        station::PlugInStart::Module& m = present[k];
        m.at_port = at_ports[k];
        m.idle = !running[k] && slots[k].busy.load() == 0 && !engine::worker_in_progress(slots[k]);
        if (devices::in_census(m.at_port)) m.serial = engine::port_facts(m.at_port).serial;
      }
      const station::PlugInStart::Verdict verdict =
          plug_in.on_arrival(com, engine::port_facts(com).serial, now, present);
      if (verdict.start) start(*verdict.start);
      if (verdict.waiting) view.waiting(*verdict.waiting, verdict.why);
    }
    for (int k : modules) {
      if (!running[k] || !view.finished(k)) continue;
      running[k] = false;
      const bool passed = view.result_ok(k) == 1 && slots[k].exitCode == engine::DL_OK;
      plug_in.on_run_finished(k, passed, platform::clock().local_time());
      any_failed = any_failed || !passed;
      // The record's cause: the worker left it before it sent the result.
      const engine::RunOutcome outcome = slots[k].notes.outcome();
      view.note(result_line(k + 1, slots[k].atPort, passed, slots[k].exitCode.load(), outcome.cause,
                            outcome.record.identity));
      // Gone before its result came (it restarts after its update): no result stays on its row.
      if (!devices::in_census(at_ports[k])) view.waiting(k, waiting_text(k));
    }
    if (interrupted.exchange(false)) {
      if (!draining) {
        draining = true;
        view.note(
            "Interrupted: no new runs; waiting for the runs under way (Ctrl-C again stops "
            "them).");
      } else if (!stopped) {
        stopped = true;
        view.note("Interrupted again: stopping the modules...");
        for (int k : modules) engine::request_stop(slots[k]);
      }
    }
    tick();
    bool any_running = false;
    for (int k : modules) any_running = any_running || running[k];
    if (draining && !any_running) break;
  }
  return stopped ? kExitInterrupted : any_failed ? kExitFailed : kExitPassed;
}

}  // namespace runner
