// The main dialog as a production station: today's totals beside ALL START, and the option to
// start a module when its port is plugged in.
#include <QCheckBox>
#include <QDateTime>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

#include "config/settings.h"
#include "devices/port_census.h"
#include "devices/port_facts.h"
#include "engine/day_totals.h"
#include "engine/port_notices.h"
#include "engine/run_record.h"
#include "platform/clock.h"
#include "ui/cor_vexdlg.h"
#include "ui/cor_vexdlg_common.h"
#include "ui_cor_vexdlg.h"

namespace ui {

namespace {

bool offered(int32_t com) {
  const auto& ports = devices::AtPortCandidates;
  return com > 0 &&
         std::find(ports.begin(), ports.end(), static_cast<uint32_t>(com)) != ports.end();
}

}  // namespace

// The two controls are the template's (between the lowest frames and the strip, clear of both);
// the map of template geometry has placed them.
void COR_VEXDlg::create_station_controls() {
  day_totals_label_ = ui_->day_totals_label;
  plug_in_check_ = ui_->plug_in_start_check;
  connect(plug_in_check_, &QCheckBox::toggled, this, [this](bool on) {
    config::save_start_on_plug_in(on);
    plug_in_on_ = on;
    show_waiting_modules();
  });

  midnight_timer_.setSingleShot(true);
  connect(&midnight_timer_, &QTimer::timeout, this, &COR_VEXDlg::show_day_totals);
}

// Before any run: the record's port facts, today's totals from the runs file, the stored option.
void COR_VEXDlg::init_station() {
  engine::set_port_facts_provider(devices::port_facts);
  std::string why;
  if (!engine::day_totals().count_file(engine::runs_file_path(), &why))
    engine::debug_trace("day totals not counted: %s\r\n", why.c_str());
  show_day_totals();
  plug_in_on_ = config::load_start_on_plug_in();
  {
    const QSignalBlocker block(plug_in_check_);
    plug_in_check_->setChecked(plug_in_on_);
  }
  show_waiting_modules();
}

void COR_VEXDlg::show_day_totals() {
  const engine::DayTotals::Counts counts = engine::day_totals().counts();
  day_totals_label_->setText(
      QStringLiteral("Today: %1 PASS, %2 FAIL").arg(counts.passed).arg(counts.failed));
  // The counts start again at local midnight even when no run ends then.
  const QDateTime now = QDateTime::currentDateTime();
  const QDateTime midnight(now.date().addDays(1), QTime(0, 0, 1));
  midnight_timer_.start(
      static_cast<int>(std::clamp<qint64>(now.msecsTo(midnight), 1000, 86400000)));
}

// An idle module whose configured port is absent waits for its module while the option is on.
void COR_VEXDlg::show_waiting_modules() {
  if (!plug_in_on_) return;
  const auto& slots = engine::slots();
  for (int k = 0; k < engine::kModuleCount; ++k) {
    const engine::ModuleSlot& slot = slots[k];
    if (slot.atPort > 0 && slot.busy.load() == 0 && !engine::worker_in_progress(slot) &&
        !offered(slot.atPort)) {
      OnSlotStatus(
          k,
          QStringLiteral("Waiting for a module on COM%1...").arg(slot.atPort).toUtf8().constData());
    }
  }
}

void COR_VEXDlg::plug_in_arrival(int32_t com) {
  if (!plug_in_on_ || com <= 0) return;
  const auto& slots = engine::slots();
  std::array<int32_t, engine::kModuleCount> at_ports{};
  std::array<bool, engine::kModuleCount> idle{};
  for (int k = 0; k < engine::kModuleCount; ++k) {
    at_ports[k] = slots[k].atPort;
    idle[k] = slots[k].busy.load() == 0 && !engine::worker_in_progress(slots[k]) &&
              start_buttons_[k]->text() == kStart && start_buttons_[k]->isEnabled();
  }
  const std::string serial = engine::port_facts(com).serial;
  if (const std::optional<int> k =
          plug_in_.on_arrival(com, serial, platform::clock().now_ms(), at_ports, idle)) {
    start_or_pause(*k);  // as START: the list shows the module's port after the refill
  }
}

void COR_VEXDlg::plug_in_removal(int32_t com) {
  plug_in_.on_removal(com, platform::clock().now_ms());
  show_waiting_modules();
}

void COR_VEXDlg::plug_in_run_started(int k) {
  const int32_t com = engine::slots()[k].atPort;
  plug_in_.on_run_started(k, com);
  run_serials_[k] = engine::port_facts(com).serial;
}

void COR_VEXDlg::plug_in_run_finished(int k, bool passed) {
  plug_in_.on_run_finished(k, passed, run_serials_[k]);
  show_day_totals();
}

}  // namespace ui
