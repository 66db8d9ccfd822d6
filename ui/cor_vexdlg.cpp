#include "ui/cor_vexdlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSocketNotifier>

#include "devices/port_watcher.h"
#include "dialog/control_table.h"
#include "engine/notifications.h"
#include "resources/result_bitmaps.h"
#include "ui/call_mailbox.h"
#include "ui/control_table.h"
#include "ui/login_dlg.h"
#include "ui/message_box.h"
#include "ui/port_list_box.h"
#include "ui/template_frames.h"
#include "ui_cor_vexdlg.h"
#include "widgets/progress_bar_ctrl.h"
#include "widgets/skin_btn.h"

namespace ui {

namespace {

QString text_of(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool is_enter(const QKeyEvent* event) {
  return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

}  // namespace

COR_VEXDlg::COR_VEXDlg(QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::COR_VEXDlg>()),
      m_hIcon(resources::application_icon()),
      behaviour_(*this) {
  QFont font(QString::fromLatin1(kDialogFontFamily));
  font.setFamilies(
      {QString::fromLatin1(kDialogFontFamily), QString::fromLatin1(kDialogFontSubstitute)});
  font.setPointSize(kDialogFontPoints);
  setFont(font);
  ui_->setupUi(this);
  base_units_ = base_units_of(this->font());
  map_template_geometry();
  draw_frames_as_template(this);

  // A caption with the system menu and the minimise box; no maximise box and no sizing border.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  connect_controls();

  // ALL START is the only default button.
  for (QPushButton* button : findChildren<QPushButton*>()) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  ui_->all_start_button->setAutoDefault(true);
  ui_->all_start_button->setDefault(true);

  all_start_timer_.setSingleShot(true);
  all_start_timer_.setTimerType(Qt::PreciseTimer);
  connect(&all_start_timer_, &QTimer::timeout, this,
          [this] { behaviour_.on_timer(dialog::Timer::all_start); });
  totals_timer_.setSingleShot(true);
  connect(&totals_timer_, &QTimer::timeout, this,
          [this] { behaviour_.on_timer(dialog::Timer::totals); });

  setWindowIcon(m_hIcon);
  behaviour_.OnInitDialog(this);
  watch_ports();
  // The first port list has the focus, not a push button.
  control<QComboBox>(dialog::kPanelIds[0].at_port_list)->setFocus(Qt::OtherFocusReason);
}

COR_VEXDlg::~COR_VEXDlg() {
  all_start_timer_.stop();
  totals_timer_.stop();
  delete port_notifier_;
  port_watcher_.reset();
}

// The template gives every geometry in dialog units of the dialog font.
void COR_VEXDlg::map_template_geometry() {
  auto map = [this](const ControlEntry& entry) {
    QWidget* control = findChild<QWidget*>(ui::object_name(entry));
    if (!control) return;
    control->setGeometry(dialog_rect_to_pixels(control->geometry(), base_units_));
    if (entry.id != kStaticId) controls_[entry.id] = control;
  };
  for (const ControlEntry& entry : control_table()) map(entry);
  for (const ControlEntry& entry : station_controls()) map(entry);
  setFixedSize(dialog_size_to_pixels(QSize(511, 322), base_units_));
}

template <typename Widget>
Widget* COR_VEXDlg::control(int id) const {
  const auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : qobject_cast<Widget*>(found->second);
}

void COR_VEXDlg::connect_controls() {
  for (int k = 0; k < 6; ++k) {
    const dialog::PanelIds& ids = dialog::kPanelIds[static_cast<size_t>(k)];
    connect(control<QPushButton>(ids.start_button), &QPushButton::clicked, this,
            [this, k] { behaviour_.start_or_pause(k); });
    // `activated` comes from the operator only; the program's own selections never emit it.
    for (const int kind : {kAtList, kDiagList}) {
      auto* list = control<PortListBox>(kind == kAtList ? ids.at_port_list : ids.diag_port_list);
      connect(list, &QComboBox::activated, this,
              [this, k, kind](int index) { behaviour_.choose_port(k, kind, index); });
      connect(list, &PortListBox::dropping_down, this,
              [this, k, kind] { behaviour_.fill_port_list(k, kind); });
    }
  }
  connect(ui_->all_start_button, &QPushButton::clicked, this, [this] { behaviour_.all_start(); });
  connect(ui_->upgrade_type_list, &QComboBox::activated, this,
          [this](int index) { behaviour_.OnSelchangeUpgradeType(index); });
  connect(ui_->type_list, &QComboBox::activated, this,
          [this](int index) { behaviour_.OnSelchangeType(index); });
  connect(ui_->all_check_button, &QPushButton::clicked, this,
          [this] { behaviour_.OnBnClickedAllCheck(); });
  connect(ui_->browse_button, &QPushButton::clicked, this,
          [this] { behaviour_.OnBnClickedBrowse(); });
  connect(ui_->login_button, &QPushButton::clicked, this,
          [this] { behaviour_.OnBnClickedLogin(); });
  connect(ui_->save_button, &QPushButton::clicked, this, [this] { behaviour_.OnBnClickedSave(); });
  connect(ui_->plug_in_start_check, &QCheckBox::toggled, this,
          [this](bool on) { behaviour_.OnPlugInOptionToggled(on); });
}

// The watcher's descriptor is read on the window thread: notices are handled between the window's
// other events, with no thread of their own.
void COR_VEXDlg::watch_ports() {
  port_watcher_ = std::make_unique<devices::PortWatcher>();
  if (port_watcher_->fd() < 0) {
    engine::debug_trace("port watcher not available: ports that come and go are not seen\r\n");
    return;
  }
  port_notifier_ = new QSocketNotifier(port_watcher_->fd(), QSocketNotifier::Read, this);
  connect(port_notifier_, &QSocketNotifier::activated, this, &COR_VEXDlg::take_port_notices);
}

void COR_VEXDlg::take_port_notices() {
  if (!port_watcher_ || behaviour_.closed()) return;
  for (const devices::PortNotice& notice : port_watcher_->take_notices())
    behaviour_.OnDeviceChange(notice);
}

void COR_VEXDlg::send_message(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  behaviour_.send_message(msg, wParam, lParam);
}

void COR_VEXDlg::reject() {
  behaviour_.OnClose();
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

void COR_VEXDlg::set_text(int id, std::string_view text) {
  const QString shown = text_of(text);
  if (auto* button = control<QAbstractButton>(id)) {
    button->setText(shown);
  } else if (auto* label = control<QLabel>(id)) {
    label->setText(shown);
  } else if (auto* edit = control<QLineEdit>(id)) {
    edit->setText(shown);
  }
}

// Lines of plain text: never read as markup, whatever a line holds.
void COR_VEXDlg::set_tooltip(int id, std::string_view text) {
  QWidget* widget = control<QWidget>(id);
  if (!widget) return;
  if (text.empty()) {
    widget->setToolTip(QString());
    return;
  }
  widget->setToolTip(
      QStringLiteral("<p style='white-space:pre'>%1</p>")
          .arg(text_of(text).toHtmlEscaped().replace(QLatin1Char('\n'), QLatin1String("<br>"))));
}

void COR_VEXDlg::enable_control(int id, bool enabled) {
  if (QWidget* widget = control<QWidget>(id)) widget->setEnabled(enabled);
}

void COR_VEXDlg::show_control(int id, bool visible) {
  if (QWidget* widget = control<QWidget>(id)) widget->setVisible(visible);
}

void COR_VEXDlg::set_checked(int id, bool checked) {
  if (auto* box = control<QCheckBox>(id)) {
    const QSignalBlocker block(box);
    box->setChecked(checked);
  }
}

void COR_VEXDlg::set_list(int id, const std::vector<std::string>& entries, int selected) {
  auto* list = control<QComboBox>(id);
  if (!list) return;
  QStringList shown;
  for (const std::string& entry : entries) shown << QString::fromStdString(entry);
  const QSignalBlocker block(list);
  list->clear();
  list->addItems(shown);
  // (Adding to an empty list selects its first entry: the dialog's selection replaces it.)
  list->setCurrentIndex(selected);
}

void COR_VEXDlg::select_in_list(int id, int index) {
  if (auto* list = control<QComboBox>(id)) {
    const QSignalBlocker block(list);
    list->setCurrentIndex(index);
  }
}

void COR_VEXDlg::set_bar(int id, int position) {
  if (auto* bar = control<widgets::CProgressBarCtrl>(id)) bar->SetPos(position);
}

void COR_VEXDlg::set_picture(int id, int bitmap) {
  if (auto* picture = control<widgets::CSkinBtn>(id)) picture->SetBitmaps(bitmap, bitmap, bitmap);
}

void COR_VEXDlg::show_picture(int id, int bitmap) {
  auto* picture = control<widgets::CSkinBtn>(id);
  if (!picture) return;
  picture->setVisible(true);
  picture->SetBitmaps(bitmap, bitmap, bitmap);
  picture->RefreshSkin();
}

void COR_VEXDlg::message(std::string_view text, std::string_view caption, dialog::BoxIcon icon,
                         dialog::BoxOwner owner) {
  message_box(owner == dialog::BoxOwner::dialog ? this : nullptr, text_of(text), text_of(caption),
              icon == dialog::BoxIcon::stop ? BoxIcon::stop : BoxIcon::none);
}

bool COR_VEXDlg::ask_yes_no(std::string_view text, std::string_view caption) {
  return ui::ask_yes_no(this, text_of(text), text_of(caption));
}

std::optional<std::string> COR_VEXDlg::pick_file(std::string_view title, std::string_view folder) {
  const QString path = choose_existing_file(this, text_of(title), text_of(folder));
  if (path.isEmpty()) return std::nullopt;
  return path.toStdString();
}

bool COR_VEXDlg::run_login() {
  CLoginDlg login;
  login.m_strPassword.clear();
  return login.DoModal() == IDOK;
}

QTimer& COR_VEXDlg::timer(dialog::Timer which) {
  return which == dialog::Timer::all_start ? all_start_timer_ : totals_timer_;
}

void COR_VEXDlg::start_timer(dialog::Timer which, int ms) {
  timer(which).start(ms);
}

void COR_VEXDlg::stop_timer(dialog::Timer which) {
  timer(which).stop();
}

// Worker calls reach this thread through the application's mailbox, which outlives the dialog.
dialog::Face::Post COR_VEXDlg::poster() {
  return [mailbox = &CallMailbox::of_application()](std::function<void()> call) {
    mailbox->post(std::move(call));
  };
}

void COR_VEXDlg::end_dialog() {
  if (port_notifier_) port_notifier_->setEnabled(false);
  QDialog::reject();
}

void COR_VEXDlg::on_run_started(int k) {
  Q_EMIT run_started(k);
}

}  // namespace ui
