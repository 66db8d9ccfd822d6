// The main dialog's bottom strip: the update file, the option lists, All Check and the settings
// mode (Login unlocks the path, Browse and Save, which appears in Login's place; Save locks them
// again, reloads the settings and gives the place back to Login).
#include <filesystem>

#include "config/settings.h"
#include "dialog/control_table.h"
#include "dialog/main_dialog.h"
#include "platform/executable_dir.h"
#include "platform/files.h"
#include "platform/utf8_path.h"

namespace dialog {

namespace {

enum class FileCheck { usable, cannot_open, empty };

// Opens the file only to test it: a regular file that can be read and holds data. Opening never
// waits, so that a FIFO or a device picked by mistake never hangs the window.
FileCheck check_update_file(const std::string& path) {
  const platform::File file = platform::File::open(path, platform::FileAccess::read);
  platform::FileStatus status;
  if (!file.is_open() || !file.status(&status) || !status.regular) return FileCheck::cannot_open;
  return status.size == 0 ? FileCheck::empty : FileCheck::usable;
}

// The folder Browse starts in: the current update file's, when it exists, else the bench folder (an
// installed program's own folder holds no update files). Paths are UTF-8.
std::string browse_folder(const std::string& update_file) {
  std::string bench = platform::working_directory();
  if (bench.size() > 1) bench.pop_back();  // its final separator
  const size_t cut = update_file.find_last_of(platform::kPathSeparators);
  if (cut == std::string::npos || cut == 0) return bench;
  std::string folder = update_file.substr(0, cut);
  std::error_code error;
  if (!std::filesystem::is_directory(platform::utf8_path(folder), error)) return bench;
  return folder;
}

}  // namespace

void MainDialog::option_list_changed(int index, bool (*write)(int),
                                     int32_t engine::ModuleSlot::*field) {
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

void MainDialog::OnSelchangeUpgradeType(int index) {
  select(kUpgradeTypeListId, index);
  option_list_changed(index, config::save_only_upgrade_script_option,
                      &engine::ModuleSlot::onlyUpgradeScript);
}

void MainDialog::OnSelchangeType(int index) {
  select(kTypeListId, index);
  option_list_changed(index, config::save_select_type_option, &engine::ModuleSlot::selectType);
}

void MainDialog::OnBnClickedAllCheck() {
  for (int k = 0; k < engine::kModuleCount; ++k) {
    if (engine::slots()[k].diagPort != 0) start_or_pause(k);
  }
}

void MainDialog::OnBnClickedBrowse() {
  // The file dialog never changes the working directory, so the path is always saved in this
  // bench's ZEBL.ini.
  const std::optional<std::string> picked =
      face_.pick_file("Select fota files:", browse_folder(engine::slots()[0].filePath));
  if (!picked || picked->empty()) return;
  const std::string& path = *picked;
  switch (check_update_file(path)) {
    case FileCheck::cannot_open:
      face_.message("Upgrade file " + path + " cann't be opened! ", "warning", BoxIcon::stop,
                    BoxOwner::dialog);
      return;
    case FileCheck::empty:
      face_.message("Upgrade file " + path + " has no data! ", "warning", BoxIcon::stop,
                    BoxOwner::dialog);
      return;
    case FileCheck::usable:
      break;
  }
  face_.set_text(kFilePathEditId, path);
  config::SaveFilePath(path);
  for (engine::ModuleSlot& slot : engine::slots()) slot.filePath = path;
}

void MainDialog::OnBnClickedLogin() {
  set_settings_mode(face_.run_login());
}

// Save takes Login's place in the strip while the settings are unlocked. While they are, no run can
// start (ALL START and every button that reads "START" are disabled, and a run's end leaves its
// button disabled until Save) and every run can be stopped (a button that reads "PAUSE" stays
// enabled).
void MainDialog::set_settings_mode(bool editing) {
  settings_unlocked_ = editing;
  if (editing) {
    face_.stop_timer(Timer::all_start);  // what is left of an ALL START does not start
    all_start_next_ = -1;
  }
  face_.enable_control(kFilePathEditId, editing);
  face_.enable_control(kBrowseId, editing);
  face_.enable_control(kSaveId, editing);
  face_.show_control(kSaveId, editing);
  face_.enable_control(kLoginId, !editing);
  face_.show_control(kLoginId, !editing);
  face_.show_control(kPlugInStartId, editing);
  show_line_records();  // in the option's place
  for (int k = 0; k < engine::kModuleCount; ++k) update_start_button(k);
  update_all_start_button();
}

// Save writes nothing: the path was saved when it was chosen, each option when it was picked. It
// reloads the whole file, and reselects only the Upgrade Type list.
void MainDialog::OnBnClickedSave() {
  set_settings_mode(false);
  face_.set_text(kFilePathEditId, config::LoadFilePath());
  config::load_settings();
  select(kUpgradeTypeListId, engine::slots()[0].onlyUpgradeScript);
}

}  // namespace dialog
