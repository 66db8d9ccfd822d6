// The main dialog as a production station: today's totals beside ALL START, the option to start a
// module when its port is plugged in, the bench folder it works on, and the records that wait for
// the line's database.

#include "config/settings.h"
#include "devices/port_census.h"
#include "devices/port_facts.h"
#include "dialog/control_table.h"
#include "dialog/main_dialog.h"
#include "engine/port_notices.h"
#include "engine/run_control.h"
#include "platform/bench_folder.h"
#include "platform/clock.h"
#include "platform/executable_dir.h"
#include "station/day_totals.h"
#include "station/line_records.h"
#include "station/run_record.h"

namespace dialog {

namespace {

bool port_absent(const engine::ModuleSlot& slot) {
  return slot.atPort > 0 && !devices::in_census(slot.atPort);
}

std::string waiting_text(const engine::ModuleSlot& slot) {
  return "Waiting for a module on COM" + std::to_string(slot.atPort) + "...";
}

}  // namespace

// Before any run: the bench folder, the record's port facts, today's totals from the runs file, the
// shipping of the records to the line's database, the stored options.
void MainDialog::init_station() {
  show_bench_folder();
  engine::set_port_facts_provider(devices::port_facts);
  std::string why;
  if (!station::start_recording(&why))
    engine::debug_trace("day totals not counted: %s\r\n", why.c_str());
  if (!station::start_shipping(config::load_line_record_settings(), &why))
    engine::debug_trace("line records not shipped: %s\r\n", why.c_str());
  show_day_totals();
  plug_in_on_ = config::load_start_on_plug_in();
  plug_in_.set_rearm_ms(config::load_rearm_seconds() * 1000);
  face_.set_checked(kPlugInStartId, plug_in_on_);
  show_waiting_modules();
}

// The folder the window works on is told when it is not the one the program was started in (the
// desktop's menu starts it on the default bench, or --bench named one): the operator sees where
// the settings, the logs and the records go. Started in the bench folder, the window says nothing.
void MainDialog::show_bench_folder() {
  std::string bench = platform::working_directory();
  const bool elsewhere = !bench.empty() && bench != platform::start_directory();
  if (elsewhere) {
    // Without its final separator, unless that is all of a root ("/", "C:\").
    if (bench.size() > 1 && bench[bench.size() - 2] != ':') bench.pop_back();
    face_.set_text(kBenchFolderId, "Bench: " + bench);
    face_.set_tooltip(kBenchFolderId, bench);
  }
  face_.show_control(kBenchFolderId, elsewhere);
}

// Passes and module failures, and the other runs (stopped, an update file that could not be read, a
// port that did not open) apart, when there are any. The counts are looked at again every second:
// a record is written by its run's own thread, also after the result was shown (the record of a
// START whose port did not open), and the counts start again at local midnight when no run ends.
void MainDialog::show_day_totals() {
  const station::DayTotals::Counts counts = station::day_totals().counts();
  std::string text = "Today: " + std::to_string(counts.passed) + " PASS, " +
                     std::to_string(counts.failed) + " FAIL";
  if (counts.other > 0) text += ", " + std::to_string(counts.other) + " other";
  if (text != totals_shown_) face_.set_text(kDayTotalsId, text);
  totals_shown_ = std::move(text);
  show_line_records();
  face_.start_timer(Timer::totals, 1000);
}

// While records wait for the line's database, how many, and on hover why (the last failure). A
// database that is set but not used (refused, or a build that cannot ship) is said once, for the
// program's life, with the reason on hover. Nothing is shown while every record is there. The
// control takes the place of the plug-in option, which is shown only while the settings are
// unlocked: then it makes way.
void MainDialog::show_line_records() {
  const station::ShippingStatus status = station::shipping_status();
  std::string text, tip;
  if (!status.reason.empty()) {
    text = "database not used";
    tip = status.reason;
  } else if (status.on && status.waiting > 0) {
    text = "records waiting: " + std::to_string(status.waiting);
    tip = status.last_failure.empty() ? "being sent to the line's database"
                                      : "not sent: " + status.last_failure;
  }
  const bool visible = !text.empty() && !settings_unlocked_;
  if (text == records_shown_ && tip == records_tip_ && visible == records_visible_) return;
  face_.set_text(kRecordsId, text);
  face_.set_tooltip(kRecordsId, tip);
  face_.show_control(kRecordsId, visible);
  records_visible_ = visible;
  records_shown_ = std::move(text);
  records_tip_ = std::move(tip);
}

void MainDialog::OnPlugInOptionToggled(bool on) {
  config::save_start_on_plug_in(on);
  plug_in_on_ = on;
  show_waiting_modules();
}

// While the option is on, a module whose configured port is absent and that has no run under way
// waits for its module and shows no result: a module swapped in quickly could be taken for the one
// that passed.
void MainDialog::show_waiting_modules() {
  if (!plug_in_on_) return;
  const auto& slots = engine::slots();
  for (int k = 0; k < engine::kModuleCount; ++k) {
    if (!plug_in_.running(k) && port_absent(slots[k])) show_plug_in_wait(k, waiting_text(slots[k]));
  }
}

void MainDialog::show_plug_in_wait(int k, const std::string& why) {
  face_.show_control(kPanelIds[static_cast<size_t>(k)].result_picture, false);
  OnSlotProgress(k, 0, 100);
  OnSlotStatus(k, why.c_str());
}

void MainDialog::plug_in_arrival(int32_t com) {
  if (!plug_in_on_ || com <= 0) return;
  const auto& slots = engine::slots();
  station::PlugInStart::Modules modules;
  for (int k = 0; k < engine::kModuleCount; ++k) {
    station::PlugInStart::Module& m = modules[static_cast<size_t>(k)];
    m.at_port = slots[k].atPort;
    m.idle = !engine::start_blocked(slots[k]) && slots[k].busy.load() == 0 &&
             button_caption(k) == kStart && !settings_unlocked_ && panels_enabled_;
    if (devices::in_census(m.at_port)) m.serial = engine::port_facts(m.at_port).serial;
  }
  const station::PlugInStart::Verdict verdict =
      plug_in_.on_arrival(com, engine::port_facts(com).serial, platform::clock().now_ms(), modules);
  if (verdict.start) {
    start_or_pause(*verdict.start);  // as START: the list shows the module's port after the refill
  } else if (verdict.waiting) {
    show_plug_in_wait(*verdict.waiting, verdict.why);
  }
}

void MainDialog::plug_in_removal(int32_t com) {
  plug_in_.on_removal(com, platform::clock().now_ms());
  if (!plug_in_on_) return;
  const auto& slots = engine::slots();
  for (int k = 0; k < engine::kModuleCount; ++k) {
    if (slots[k].atPort == com && !plug_in_.running(k) && port_absent(slots[k]))
      show_plug_in_wait(k, waiting_text(slots[k]));
  }
}

void MainDialog::plug_in_run_started(int k) {
  const int32_t com = engine::slots()[k].atPort;
  plug_in_.on_run_started(k, com, engine::port_facts(com).serial);
}

// A run whose module went away before its result came (it restarts after its update) leaves no
// result standing either.
void MainDialog::plug_in_run_finished(int k, bool passed) {
  const bool had_run = plug_in_.on_run_finished(k, passed, platform::clock().local_time());
  show_day_totals();
  const engine::ModuleSlot& slot = engine::slots()[k];
  if (plug_in_on_ && had_run && port_absent(slot)) show_plug_in_wait(k, waiting_text(slot));
}

}  // namespace dialog
