// The main dialog's bottom strip: the update file, the option lists, All Check and the settings
// mode (Login unlocks the path, Browse and Save, which appears in Login's place; Save locks them
// again, reloads the settings and gives the place back to Login).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>

#include "config/settings.h"
#include "ui/cor_vexdlg.h"
#include "ui/cor_vexdlg_common.h"
#include "ui/login_dlg.h"
#include "ui/message_box.h"
#include "ui_cor_vexdlg.h"

namespace ui {

namespace {

enum class FileCheck { usable, cannot_open, empty };

// Opens the file only to test it: a regular file that can be read and holds data. Opened without
// blocking, so that a FIFO or a device picked by mistake never hangs the window.
FileCheck check_update_file(const QString& path) {
  const int fd = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return FileCheck::cannot_open;
  struct stat status {};
  const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
  ::close(fd);
  if (!regular) return FileCheck::cannot_open;
  return status.st_size == 0 ? FileCheck::empty : FileCheck::usable;
}

}  // namespace

void COR_VEXDlg::connect_strip() {
  connect(ui_->upgrade_type_list, &QComboBox::activated, this, &COR_VEXDlg::OnSelchangeUpgradeType);
  connect(ui_->type_list, &QComboBox::activated, this, &COR_VEXDlg::OnSelchangeType);
  connect(ui_->all_check_button, &QPushButton::clicked, this, &COR_VEXDlg::OnBnClickedAllCheck);
  connect(ui_->browse_button, &QPushButton::clicked, this, &COR_VEXDlg::OnBnClickedBrowse);
  connect(ui_->login_button, &QPushButton::clicked, this, &COR_VEXDlg::OnBnClickedLogin);
  connect(ui_->save_button, &QPushButton::clicked, this, &COR_VEXDlg::OnBnClickedSave);
}

void COR_VEXDlg::option_list_changed(QComboBox* list, bool (*write)(int),
                                     int32_t engine::ModuleSlot::*field) {
  const int index = list->currentIndex();
  auto& slots = engine::slots();
  if (index == 1) {
    write(1);
    for (engine::ModuleSlot& slot : slots) slot.*field = 1;
  } else if (index == 0) {
    // Leaving the other option invalidates every result shown.
    if (slots[0].*field == 1) {
      for (int k = 0; k < engine::kModuleCount; ++k) show_result_picture(k, 0);
      for (engine::ModuleSlot& slot : slots) slot.resultOk = 0;
    }
    write(0);
    for (engine::ModuleSlot& slot : slots) slot.*field = 0;
  }
}

void COR_VEXDlg::OnSelchangeUpgradeType() {
  option_list_changed(ui_->upgrade_type_list, config::save_only_upgrade_script_option,
                      &engine::ModuleSlot::onlyUpgradeScript);
}

void COR_VEXDlg::OnSelchangeType() {
  option_list_changed(ui_->type_list, config::save_select_type_option,
                      &engine::ModuleSlot::selectType);
}

void COR_VEXDlg::OnBnClickedAllCheck() {
  for (int k = 0; k < engine::kModuleCount; ++k) {
    if (engine::slots()[k].diagPort != 0) start_or_pause(k);
  }
}

void COR_VEXDlg::OnBnClickedBrowse() {
  // The dialog starts in the folder of the current update file, or else in the bench folder (an
  // installed program's own folder holds no update files). It never changes the working
  // directory, so the path is always saved in this bench's ZEBL.ini.
  const QFileInfo current(QString::fromStdString(engine::slots()[0].filePath));
  const QString folder = !current.filePath().isEmpty() && current.absoluteDir().exists()
                             ? current.absolutePath()
                             : QDir::currentPath();
  const QString path = choose_existing_file(this, QStringLiteral("Select fota files:"), folder);
  if (path.isEmpty()) return;
  switch (check_update_file(path)) {
    case FileCheck::cannot_open:
      message_box(this, QStringLiteral("Upgrade file %1 cann't be opened! ").arg(path),
                  QStringLiteral("warning"), BoxIcon::stop);
      return;
    case FileCheck::empty:
      message_box(this, QStringLiteral("Upgrade file %1 has no data! ").arg(path),
                  QStringLiteral("warning"), BoxIcon::stop);
      return;
    case FileCheck::usable:
      break;
  }
  ui_->file_path_edit->setText(path);
  m_strFilePath = path;
  const std::string chosen = m_strFilePath.toStdString();
  config::SaveFilePath(chosen);
  for (engine::ModuleSlot& slot : engine::slots()) slot.filePath = chosen;
}

void COR_VEXDlg::OnBnClickedLogin() {
  CLoginDlg login;
  login.m_strPassword.clear();
  set_settings_mode(login.DoModal() == IDOK);
}

// Save takes Login's place in the strip while the settings are unlocked. While they are, no run can
// start (ALL START and every button that reads "START" are disabled, and a run's end leaves its
// button disabled until Save) and every run can be stopped (a button that reads "PAUSE" stays
// enabled).
void COR_VEXDlg::set_settings_mode(bool editing) {
  settings_unlocked_ = editing;
  if (editing) {
    all_start_timer_.stop();  // what is left of an ALL START does not start
    all_start_next_ = -1;
  }
  ui_->file_path_edit->setEnabled(editing);
  ui_->browse_button->setEnabled(editing);
  ui_->save_button->setEnabled(editing);
  ui_->save_button->setVisible(editing);
  ui_->login_button->setEnabled(!editing);
  ui_->login_button->setVisible(!editing);
  plug_in_check_->setVisible(editing);
  for (int k = 0; k < engine::kModuleCount; ++k) update_start_button(k);
  update_all_start_button();
}

// Save writes nothing: the path was saved when it was chosen, each option when it was picked. It
// reloads the whole file, and reselects only the Upgrade Type list.
void COR_VEXDlg::OnBnClickedSave() {
  set_settings_mode(false);
  ui_->file_path_edit->setText(QString::fromStdString(config::LoadFilePath()));
  config::load_settings();
  const QSignalBlocker block(ui_->upgrade_type_list);
  ui_->upgrade_type_list->setCurrentIndex(engine::slots()[0].onlyUpgradeScript);
}

}  // namespace ui
