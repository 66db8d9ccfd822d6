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

bool port_absent(const engine::ModuleSlot& slot) {
  return slot.atPort > 0 && !devices::in_census(slot.atPort);
}

std::string waiting_text(const engine::ModuleSlot& slot) {
  return "Waiting for a module on COM" + std::to_string(slot.atPort) + "...";
}

}  // namespace

// The two controls sit in the row above the strip, which the hidden option lists leave free.
void COR_VEXDlg::create_station_controls() {
  day_totals_label_ = new QLabel(this);
  day_totals_label_->setObjectName(QStringLiteral("day_totals_label"));
  day_totals_label_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  day_totals_label_->setGeometry(dialog_rect_to_pixels(QRect(337, 283, 150, 10), base_units_));

  plug_in_check_ = new QCheckBox(QStringLiteral("Start when a module is plugged in"), this);
  plug_in_check_->setObjectName(QStringLiteral("plug_in_start_check"));
  plug_in_check_->setGeometry(dialog_rect_to_pixels(QRect(23, 283, 200, 10), base_units_));
  plug_in_check_->setVisible(false);
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
  plug_in_.set_rearm_ms(config::load_rearm_seconds() * 1000);
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

// While the option is on, a module whose configured port is absent and that has no run under way
// waits for its module and shows no result: a module swapped in quickly could be taken for the one
// that passed.
void COR_VEXDlg::show_waiting_modules() {
  if (!plug_in_on_) return;
  const auto& slots = engine::slots();
  for (int k = 0; k < engine::kModuleCount; ++k) {
    if (!plug_in_.running(k) && port_absent(slots[k])) show_plug_in_wait(k, waiting_text(slots[k]));
  }
}

void COR_VEXDlg::show_plug_in_wait(int k, const std::string& why) {
  result_pictures_[k]->setVisible(false);
  OnSlotProgress(k, 0, 100);
  OnSlotStatus(k, why.c_str());
}

void COR_VEXDlg::plug_in_arrival(int32_t com) {
  if (!plug_in_on_ || com <= 0) return;
  const auto& slots = engine::slots();
  engine::PlugInStart::Modules modules;
  for (int k = 0; k < engine::kModuleCount; ++k) {
    engine::PlugInStart::Module& m = modules[static_cast<size_t>(k)];
    m.at_port = slots[k].atPort;
    m.idle = slots[k].busy.load() == 0 && !engine::worker_in_progress(slots[k]) &&
             start_buttons_[k]->text() == kStart && start_buttons_[k]->isEnabled();
    if (devices::in_census(m.at_port)) m.serial = engine::port_facts(m.at_port).serial;
  }
  const engine::PlugInStart::Verdict verdict =
      plug_in_.on_arrival(com, engine::port_facts(com).serial, platform::clock().now_ms(), modules);
  if (verdict.start) {
    start_or_pause(*verdict.start);  // as START: the list shows the module's port after the refill
  } else if (verdict.waiting) {
    show_plug_in_wait(*verdict.waiting, verdict.why);
  }
}

void COR_VEXDlg::plug_in_removal(int32_t com) {
  plug_in_.on_removal(com, platform::clock().now_ms());
  if (!plug_in_on_) return;
  const auto& slots = engine::slots();
  for (int k = 0; k < engine::kModuleCount; ++k) {
    if (slots[k].atPort == com && !plug_in_.running(k) && port_absent(slots[k]))
      show_plug_in_wait(k, waiting_text(slots[k]));
  }
}

void COR_VEXDlg::plug_in_run_started(int k) {
  const int32_t com = engine::slots()[k].atPort;
  plug_in_.on_run_started(k, com, engine::port_facts(com).serial);
}

// A run whose module went away before its result came (it restarts after its update) leaves no
// result standing either.
void COR_VEXDlg::plug_in_run_finished(int k, bool passed) {
  const bool had_run = plug_in_.on_run_finished(k, passed, platform::clock().local_time());
  show_day_totals();
  const engine::ModuleSlot& slot = engine::slots()[k];
  if (plug_in_on_ && had_run && port_absent(slot)) show_plug_in_wait(k, waiting_text(slot));
}

}  // namespace ui
