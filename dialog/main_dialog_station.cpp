// The main dialog as a production station: today's totals beside ALL START, and the option to
// start a module when its port is plugged in.
#include <algorithm>
#include <ctime>

#include "config/settings.h"
#include "devices/port_census.h"
#include "devices/port_facts.h"
#include "dialog/control_table.h"
#include "dialog/main_dialog.h"
#include "engine/day_totals.h"
#include "engine/port_notices.h"
#include "engine/run_control.h"
#include "engine/run_record.h"
#include "platform/clock.h"

namespace dialog {

namespace {

bool offered(int32_t com) {
  const auto& ports = devices::AtPortCandidates;
  return com > 0 &&
         std::find(ports.begin(), ports.end(), static_cast<uint32_t>(com)) != ports.end();
}

// Milliseconds from the local time `now` to one second past the next local midnight.
int ms_to_midnight(const std::tm& now) {
  const int seconds_left = 24 * 3600 - (now.tm_hour * 3600 + now.tm_min * 60 + now.tm_sec) + 1;
  return std::clamp(seconds_left * 1000, 1000, 86400000);
}

}  // namespace

// Before any run: the record's port facts, today's totals from the runs file, the stored option.
void MainDialog::init_station() {
  engine::set_port_facts_provider(devices::port_facts);
  std::string why;
  if (!engine::day_totals().count_file(engine::runs_file_path(), &why))
    engine::debug_trace("day totals not counted: %s\r\n", why.c_str());
  show_day_totals();
  plug_in_on_ = config::load_start_on_plug_in();
  face_.set_checked(kPlugInStartId, plug_in_on_);
  show_waiting_modules();
}

void MainDialog::show_day_totals() {
  const engine::DayTotals::Counts counts = engine::day_totals().counts();
  face_.set_text(kDayTotalsId, "Today: " + std::to_string(counts.passed) + " PASS, " +
                                   std::to_string(counts.failed) + " FAIL");
  // The counts start again at local midnight even when no run ends then.
  face_.start_timer(Timer::midnight, ms_to_midnight(platform::clock().local_time()));
}

void MainDialog::OnPlugInOptionToggled(bool on) {
  config::save_start_on_plug_in(on);
  plug_in_on_ = on;
  show_waiting_modules();
}

// An idle module whose configured port is absent waits for its module while the option is on.
void MainDialog::show_waiting_modules() {
  if (!plug_in_on_) return;
  const auto& slots = engine::slots();
  for (int k = 0; k < engine::kModuleCount; ++k) {
    const engine::ModuleSlot& slot = slots[k];
    if (slot.atPort > 0 && slot.busy.load() == 0 && !engine::worker_in_progress(slot) &&
        !offered(slot.atPort)) {
      OnSlotStatus(k,
                   ("Waiting for a module on COM" + std::to_string(slot.atPort) + "...").c_str());
    }
  }
}

void MainDialog::plug_in_arrival(int32_t com) {
  if (!plug_in_on_ || com <= 0) return;
  const auto& slots = engine::slots();
  std::array<int32_t, engine::kModuleCount> at_ports{};
  std::array<bool, engine::kModuleCount> idle{};
  for (int k = 0; k < engine::kModuleCount; ++k) {
    at_ports[k] = slots[k].atPort;
    idle[k] = slots[k].busy.load() == 0 && !engine::worker_in_progress(slots[k]) &&
              button_caption(k) == kStart && !settings_unlocked_ && panels_enabled_;
  }
  const std::string serial = engine::port_facts(com).serial;
  if (const std::optional<int> k =
          plug_in_.on_arrival(com, serial, platform::clock().now_ms(), at_ports, idle)) {
    start_or_pause(*k);  // as START: the list shows the module's port after the refill
  }
}

void MainDialog::plug_in_removal(int32_t com) {
  plug_in_.on_removal(com, platform::clock().now_ms());
  show_waiting_modules();
}

void MainDialog::plug_in_run_started(int k) {
  const int32_t com = engine::slots()[k].atPort;
  plug_in_.on_run_started(k, com);
  run_serials_[static_cast<size_t>(k)] = engine::port_facts(com).serial;
}

void MainDialog::plug_in_run_finished(int k, bool passed) {
  plug_in_.on_run_finished(k, passed, run_serials_[static_cast<size_t>(k)]);
  show_day_totals();
}

}  // namespace dialog
