#include "ui/cor_vexdlg.h"

#include <QComboBox>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTime>
#include <algorithm>
#include <vector>

#include "config/settings.h"
#include "devices/bench_ports.h"
#include "devices/port_census.h"
#include "devices/port_watcher.h"
#include "engine/module_slot.h"
#include "engine/run_control.h"
#include "engine/serial_link.h"
#include "resources/result_bitmaps.h"
#include "ui/call_mailbox.h"
#include "ui/control_table.h"
#include "ui/cor_vexdlg_common.h"
#include "ui/message_box.h"
#include "ui/port_list_box.h"
#include "ui/progress_percent.h"
#include "ui/template_frames.h"
#include "ui_cor_vexdlg.h"
#include "widgets/progress_bar_ctrl.h"
#include "widgets/skin_btn.h"

namespace ui {

namespace {

// A status text is shown on one line: the line end that closes a text is not shown, and a line
// break inside one shows as a blank.
QString status_line_text(const char* text) {
  QString line = QString::fromUtf8(text);
  while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r'))) line.chop(1);
  line.replace(QLatin1String("\r\n"), QLatin1String(" "));
  line.replace(QLatin1Char('\r'), QLatin1Char(' '));
  line.replace(QLatin1Char('\n'), QLatin1Char(' '));
  return line;
}

bool is_enter(const QKeyEvent* event) {
  return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

}  // namespace

COR_VEXDlg::COR_VEXDlg(QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::COR_VEXDlg>()),
      m_hIcon(resources::application_icon()) {
  QFont font(QString::fromLatin1(kDialogFontFamily));
  font.setFamilies(
      {QString::fromLatin1(kDialogFontFamily), QString::fromLatin1(kDialogFontSubstitute)});
  font.setPointSize(kDialogFontPoints);
  setFont(font);
  ui_->setupUi(this);
  base_units_ = base_units_of(this->font());
  map_template_geometry();
  draw_frames_as_template(this);
  create_station_controls();

  // A caption with the system menu and the minimise box; no maximise box and no sizing border.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);

  for (int k = 0; k < engine::kModuleCount; ++k) {
    status_lines_[k] = findChild<QLabel*>(object_name(ControlRole::status_line, k));
    at_lists_[k] = findChild<QComboBox*>(object_name(ControlRole::at_port_list, k));
    diag_lists_[k] = findChild<QComboBox*>(object_name(ControlRole::diag_port_list, k));
    progress_bars_[k] =
        findChild<widgets::CProgressBarCtrl*>(object_name(ControlRole::progress_bar, k));
    result_pictures_[k] =
        findChild<widgets::CSkinBtn*>(object_name(ControlRole::result_picture, k));
    start_buttons_[k] = findChild<QPushButton*>(object_name(ControlRole::start_button, k));

    connect(start_buttons_[k], &QPushButton::clicked, this, [this, k] { start_or_pause(k); });
    // `activated` comes from the operator only; the program's own selections never emit it.
    for (const int kind : {kAtList, kDiagList}) {
      auto* list = static_cast<PortListBox*>(port_list(k, kind));
      connect(list, &QComboBox::activated, this, [this, k, kind] { choose_port(k, kind); });
      connect(list, &PortListBox::dropping_down, this,
              [this, k, kind] { fill_port_list(k, kind); });
    }
  }
  connect(ui_->all_start_button, &QPushButton::clicked, this, &COR_VEXDlg::all_start);
  connect_strip();

  // ALL START is the only default button.
  for (QPushButton* button : findChildren<QPushButton*>()) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  ui_->all_start_button->setAutoDefault(true);
  ui_->all_start_button->setDefault(true);

  all_start_timer_.setSingleShot(true);
  all_start_timer_.setTimerType(Qt::PreciseTimer);
  connect(&all_start_timer_, &QTimer::timeout, this, &COR_VEXDlg::all_start_step);

  OnInitDialog();
  // The first port list has the focus, not a push button.
  at_lists_[0]->setFocus(Qt::OtherFocusReason);
}

COR_VEXDlg::~COR_VEXDlg() {
  all_start_timer_.stop();
  midnight_timer_.stop();
  delete port_notifier_;
  port_watcher_.reset();
  host_.reset();  // ends every run before any control goes
}

// The template gives every geometry in dialog units of the dialog font.
void COR_VEXDlg::map_template_geometry() {
  auto map = [this](const ControlEntry& entry) {
    if (QWidget* control = findChild<QWidget*>(object_name(entry)))
      control->setGeometry(dialog_rect_to_pixels(control->geometry(), base_units_));
  };
  for (const ControlEntry& entry : control_table()) map(entry);
  for (const ControlEntry& entry : station_controls()) map(entry);
  setFixedSize(dialog_size_to_pixels(QSize(511, 322), base_units_));
}

bool COR_VEXDlg::OnInitDialog() {
  setWindowIcon(m_hIcon);

  ui_->file_path_edit->setText(QString::fromStdString(config::LoadFilePath()));
  config::load_settings();

  auto& slots = engine::slots();
  {
    const QSignalBlocker block_upgrade(ui_->upgrade_type_list);
    const QSignalBlocker block_type(ui_->type_list);
    ui_->upgrade_type_list->setCurrentIndex(slots[0].onlyUpgradeScript);
    ui_->type_list->setCurrentIndex(slots[0].selectType);
  }

  // The census, after the bench's ports are numbered; a stale link is never opened from here on.
  devices::prepare_bench_ports();
  for (int k = 0; k < engine::kModuleCount; ++k) {
    fill_port_list(k, kAtList);
    fill_port_list(k, kDiagList);
  }
  select_configured_ports();
  init_station();

  // From here on the workers can report. Their calls reach this thread through the application's
  // mailbox, which outlives the dialog.
  host_ = std::make_unique<engine::RunHost>(
      *this, [mailbox = &CallMailbox::of_application()](std::function<void()> call) {
        mailbox->post(std::move(call));
      });

  for (int k = 0; k < engine::kModuleCount; ++k) {
    const int fail = resources::kFailBitmapIds[static_cast<size_t>(k)];
    result_pictures_[k]->SetBitmaps(fail, fail, fail);
  }
  watch_ports();
  return true;
}

QComboBox* COR_VEXDlg::port_list(int k, int kind) const {
  if (!valid_module(k)) return nullptr;
  if (kind == kAtList) return at_lists_[k];
  if (kind == kDiagList) return diag_lists_[k];
  return nullptr;
}

int COR_VEXDlg::select_port_in_list(int k, int kind, uint32_t n) {
  QComboBox* list = port_list(k, kind);
  if (!list) return -1;
  const int index = list->findText(port_entry_text(n), Qt::MatchExactly);
  if (index < 0) return -1;
  list->setCurrentIndex(index);
  return index;
}

void COR_VEXDlg::fill_port_list(int k, int kind) {
  QComboBox* list = port_list(k, kind);
  if (!list) return;
  const std::vector<uint32_t>& source =
      kind == kAtList ? devices::AtPortCandidates : devices::DiagPortCandidates;
  QStringList entries;
  for (uint32_t n : source) {
    if (n != 0) entries << port_entry_text(n);
  }
  entries.sort();  // sorted as text: COM10 comes before COM3

  const QSignalBlocker block(list);
  list->clear();
  list->addItems(entries);
  // The module's own port, not the old position: after ports came or went the same position may
  // hold another port. (Adding to an empty list selects its first entry: that is undone here.)
  const engine::ModuleSlot& slot = engine::slots()[k];
  const int32_t configured = kind == kAtList ? slot.atPort : slot.diagPort;
  list->setCurrentIndex(-1);
  if (configured > 0) select_port_in_list(k, kind, static_cast<uint32_t>(configured));
}

void COR_VEXDlg::select_configured_ports() {
  const auto& slots = engine::slots();
  for (int k = 0; k < engine::kModuleCount; ++k) {
    const auto at = static_cast<uint32_t>(slots[k].atPort);
    const auto diag = static_cast<uint32_t>(slots[k].diagPort);
    const auto& ats = devices::AtPortCandidates;
    const auto& diags = devices::DiagPortCandidates;
    if (slots[k].atPort > 0 && std::find(ats.begin(), ats.end(), at) != ats.end())
      select_port_in_list(k, kAtList, at);
    if (slots[k].diagPort > 0 && std::find(diags.begin(), diags.end(), diag) != diags.end())
      select_port_in_list(k, kDiagList, diag);
  }
}

void COR_VEXDlg::send_message(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  if (msg >= engine::WM_SLOT_STATUS && msg < engine::WM_SLOT_STATUS + engine::kModuleCount) {
    OnSlotStatus(static_cast<int>(msg - engine::WM_SLOT_STATUS),
                 reinterpret_cast<const char*>(wParam));
  } else if (msg >= engine::WM_SLOT_PROGRESS &&
             msg < engine::WM_SLOT_PROGRESS + engine::kModuleCount) {
    OnSlotProgress(static_cast<int>(msg - engine::WM_SLOT_PROGRESS), wParam, lParam);
  } else if (msg >= engine::WM_SLOT_FINISHED &&
             msg < engine::WM_SLOT_FINISHED + engine::kModuleCount) {
    OnSlotFinished(static_cast<int>(msg - engine::WM_SLOT_FINISHED));
  } else if (msg == engine::WM_SLOT_RESULT) {
    if (wParam < static_cast<uintptr_t>(engine::kModuleCount)) {
      show_result_picture(static_cast<int>(wParam), lParam != 0 ? 1 : 0);
      plug_in_run_finished(static_cast<int>(wParam), lParam != 0);
    }
  } else if (msg == engine::WM_PANELS_ENABLE) {
    OnPanelsEnable(true);
  } else if (msg == engine::WM_PANELS_DISABLE) {
    OnPanelsEnable(false);
  } else if (msg == engine::WM_PORTS_CHANGED) {
    OnPortsChanged();
  }
}

void COR_VEXDlg::OnSlotStatus(int k, const char* text) {
  if (!valid_module(k) || !text) return;
  const QString line = status_line_text(text);
  status_lines_[k]->setText(line);
  // The status line keeps the last text; its tooltip lists every line of the run, so that the cause
  // behind a code is one hover away.
  if (line.isEmpty()) return;
  run_lines_[k] << QTime::currentTime().toString(QStringLiteral("HH:mm:ss  ")) + line;
  status_lines_[k]->setToolTip(QStringLiteral("<p style='white-space:pre'>%1</p>")
                                   .arg(run_lines_[k].join(QLatin1Char('\n')).toHtmlEscaped())
                                   .replace(QLatin1Char('\n'), QLatin1String("<br>")));
}

void COR_VEXDlg::begin_run_lines(int k) {
  run_lines_[k].clear();
  status_lines_[k]->setToolTip(QString());
}

void COR_VEXDlg::OnSlotProgress(int k, uintptr_t done, intptr_t total) {
  if (!valid_module(k)) return;
  if (const auto percent = progress_percent(done, total)) progress_bars_[k]->SetPos(*percent);
}

void COR_VEXDlg::OnSlotFinished(int k) {
  if (!valid_module(k)) return;
  at_lists_[k]->setEnabled(true);
  diag_lists_[k]->setEnabled(true);
  start_buttons_[k]->setText(kStart);
  start_buttons_[k]->setEnabled(!settings_unlocked_);
}

void COR_VEXDlg::update_start_button(int k) {
  start_buttons_[k]->setEnabled(!settings_unlocked_ || start_buttons_[k]->text() != kStart);
}

void COR_VEXDlg::OnPanelsEnable(bool enable) {
  panels_enabled_ = enable;
  for (int k = 0; k < engine::kModuleCount; ++k) {
    at_lists_[k]->setEnabled(enable);
    diag_lists_[k]->setEnabled(enable);
    if (enable) {
      update_start_button(k);
    } else {
      start_buttons_[k]->setEnabled(false);
    }
  }
  ui_->upgrade_type_list->setEnabled(enable);
  ui_->type_list->setEnabled(enable);
  update_all_start_button();
}

void COR_VEXDlg::OnPortsChanged() {
  auto& slots = engine::slots();
  for (int k = 0; k < engine::kModuleCount; ++k) {
    if (slots[k].atPort == 0) {
      slots[k].resultOk = 0;
      const QSignalBlocker block(at_lists_[k]);
      at_lists_[k]->clear();
    }
    if (slots[k].diagPort == 0) {
      slots[k].resultOk = 0;
      const QSignalBlocker block(diag_lists_[k]);
      diag_lists_[k]->clear();
    }
  }
}

void COR_VEXDlg::show_result_picture(int k, int ok) {
  if (!valid_module(k)) return;
  const size_t i = static_cast<size_t>(k);
  const int id = ok != 0 ? resources::kPassBitmapIds[i] : resources::kFailBitmapIds[i];
  result_pictures_[k]->setVisible(true);
  result_pictures_[k]->SetBitmaps(id, id, id);
  result_pictures_[k]->RefreshSkin();
}

void COR_VEXDlg::start_or_pause(int k) {
  if (!valid_module(k) || closed_) return;
  engine::ModuleSlot& slot = engine::slots()[k];
  QPushButton* button = start_buttons_[k];
  if (button->text() != kStart) {
    // The caption stays "PAUSE": the worker's end sets it back.
    engine::request_stop(slot);
    return;
  }
  // While the settings are unlocked no run starts, whatever asks (All Check, plug-in start).
  if (settings_unlocked_) return;

  if (at_lists_[k]->currentText().isEmpty()) {
    // A slot whose worker is still inside its run is never touched.
    if (engine::run_under_way(slot)) return;
    result_pictures_[k]->setVisible(false);
    slot.upgraded = 0;
    if (slot.hAT.is_open()) return;
    OnSlotStatus(k, "");
    OnSlotProgress(k, 0, 100);
    slot.busy = 0;
    message_box(this, QStringLiteral("请设置 <Module %1> 的串口!").arg(k + 1),
                QStringLiteral("warning!"));
    return;
  }

  // The result picture is hidden only when the start goes ahead: a START that meets a worker
  // between its end message and its return starts nothing and leaves the result shown.
  if (!engine::run_under_way(slot)) {
    result_pictures_[k]->setVisible(false);
    begin_run_lines(k);
  }
  switch (engine::start_module(slot)) {
    case engine::StartOutcome::started:
      button->setText(kPause);
      plug_in_run_started(k);
      Q_EMIT run_started(k);
      break;
    case engine::StartOutcome::thread_failed: {
      // No worker will ever end this run: the panel goes back to idle at once.
      button->setText(kStart);
      const QByteArray line =
          QStringLiteral("create download thread(%1) failed!").arg(k + 1).toUtf8();
      OnSlotStatus(k, line.constData());
      break;
    }
    case engine::StartOutcome::port_failed:  // the FAIL picture came with the result message
    case engine::StartOutcome::running:
    case engine::StartOutcome::port_open:
      break;
  }
}

void COR_VEXDlg::all_start() {
  if (all_start_running() || closed_ || settings_unlocked_) return;
  auto& slots = engine::slots();
  for (int k = 0; k < engine::kModuleCount; ++k) {
    result_pictures_[k]->setVisible(false);
    slots[k].upgraded = 0;
  }
  all_start_next_ = 0;
  update_all_start_button();
  all_start_step();
}

// One module of ALL START: the next module, from the one after the last started, that is idle and
// shows a port is started, and the timer takes the sequence on 500 ms later. Between two starts
// the window handles its events as usual.
void COR_VEXDlg::all_start_step() {
  auto& slots = engine::slots();
  while (all_start_next_ >= 0 && all_start_next_ < engine::kModuleCount) {
    const int k = all_start_next_++;
    if (engine::all_start_takes(slots[k], !at_lists_[k]->currentText().isEmpty())) {
      start_or_pause(k);
      all_start_timer_.start(500);
      return;
    }
  }
  all_start_next_ = -1;
  update_all_start_button();
}

void COR_VEXDlg::update_all_start_button() {
  ui_->all_start_button->setEnabled(panels_enabled_ && !all_start_running() && !settings_unlocked_);
}

void COR_VEXDlg::reject() {
  OnClose();
}

// The window system marks the keyboard's repeats, but not always: a repeat arrives as a release and
// a press of the same moment, and when the two are read apart the press looks fresh. A press at the
// very moment of the last release is therefore a repeat too; a person's next press never is.
void COR_VEXDlg::keyReleaseEvent(QKeyEvent* event) {
  if (is_enter(event) && event->timestamp() != 0) enter_released_at_ = event->timestamp();
  QDialog::keyReleaseEvent(event);
}

void COR_VEXDlg::keyPressEvent(QKeyEvent* event) {
  if (is_enter(event) && (event->isAutoRepeat() ||
                          (event->timestamp() != 0 && event->timestamp() == enter_released_at_))) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void COR_VEXDlg::OnClose() {
  if (closed_) return;
  auto& slots = engine::slots();
  if (engine::any_run_in_progress()) {
    engine::debug_trace("OnClose: Disable!\r\n");
    message_box(nullptr, QStringLiteral("download is doing,can't be closed!"),
                QStringLiteral("warning"));
    return;
  }
  engine::debug_trace("OnClose: OK!\r\n");
  closed_ = true;
  all_start_timer_.stop();
  if (port_notifier_) port_notifier_->setEnabled(false);
  all_start_next_ = -1;
  if (host_) host_->shut_down();
  for (engine::ModuleSlot& slot : slots) engine::close_at_port(slot);
  for (engine::ModuleSlot& slot : slots) engine::release_file_image(slot);
  QDialog::reject();
}

}  // namespace ui
