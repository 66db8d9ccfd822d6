#include "dialog/control_table.h"

namespace dialog {

namespace {

constexpr std::array<ControlEntry, kControlCount> build_table() {
  std::array<ControlEntry, kControlCount> table{};
  size_t i = 0;
  for (int k = 0; k < 6; ++k) {
    const PanelIds& ids = kPanelIds[static_cast<size_t>(k)];
    table[i++] = {kStaticId, ControlRole::panel_group, k, true, true};
    table[i++] = {kStaticId, ControlRole::at_label, k, true, true};
    table[i++] = {ids.at_port_list, ControlRole::at_port_list, k, true, true};
    table[i++] = {kStaticId, ControlRole::diag_label, k, false, true};
    table[i++] = {ids.diag_port_list, ControlRole::diag_port_list, k, false, true};
    table[i++] = {ids.start_button, ControlRole::start_button, k, true, true};
    table[i++] = {ids.progress_bar, ControlRole::progress_bar, k, true, true};
    table[i++] = {ids.status_line, ControlRole::status_line, k, true, true};
    table[i++] = {ids.result_picture, ControlRole::result_picture, k, false, true};
  }
  table[i++] = {kAllStartId, ControlRole::all_start_button, -1, true, true};
  table[i++] = {kStaticId, ControlRole::upgrade_type_group, -1, false, true};
  table[i++] = {kUpgradeTypeListId, ControlRole::upgrade_type_list, -1, false, true};
  table[i++] = {kStaticId, ControlRole::type_group, -1, false, true};
  table[i++] = {kTypeListId, ControlRole::type_list, -1, false, true};
  table[i++] = {kAllCheckId, ControlRole::all_check_button, -1, false, true};
  table[i++] = {kFilePathEditId, ControlRole::file_path_edit, -1, true, true};
  table[i++] = {kBrowseId, ControlRole::browse_button, -1, true, true};
  table[i++] = {kLoginId, ControlRole::login_button, -1, true, true};
  table[i++] = {kSaveId, ControlRole::save_button, -1, false, false};
  return table;
}

constexpr std::array<ControlEntry, kControlCount> kTable = build_table();
constexpr std::array<ControlEntry, 4> kStationTable{{
    {kDayTotalsId, ControlRole::day_totals_label, -1, true, true},
    {kPlugInStartId, ControlRole::plug_in_start_check, -1, false, true},
    {kBenchFolderId, ControlRole::bench_folder_label, -1, false, true},
    {kRecordsId, ControlRole::records_label, -1, false, true},
}};

const char* role_name(ControlRole role) {
  switch (role) {
    case ControlRole::panel_group:
      return "group";
    case ControlRole::at_label:
      return "at_label";
    case ControlRole::at_port_list:
      return "at_port_list";
    case ControlRole::diag_label:
      return "diag_label";
    case ControlRole::diag_port_list:
      return "diag_port_list";
    case ControlRole::start_button:
      return "start_button";
    case ControlRole::progress_bar:
      return "progress_bar";
    case ControlRole::status_line:
      return "status_line";
    case ControlRole::result_picture:
      return "result_picture";
    case ControlRole::all_start_button:
      return "all_start_button";
    case ControlRole::upgrade_type_group:
      return "upgrade_type_group";
    case ControlRole::upgrade_type_list:
      return "upgrade_type_list";
    case ControlRole::type_group:
      return "type_group";
    case ControlRole::type_list:
      return "type_list";
    case ControlRole::all_check_button:
      return "all_check_button";
    case ControlRole::file_path_edit:
      return "file_path_edit";
    case ControlRole::browse_button:
      return "browse_button";
    case ControlRole::login_button:
      return "login_button";
    case ControlRole::save_button:
      return "save_button";
    case ControlRole::day_totals_label:
      return "day_totals_label";
    case ControlRole::plug_in_start_check:
      return "plug_in_start_check";
    case ControlRole::bench_folder_label:
      return "bench_folder_label";
    case ControlRole::records_label:
      return "records_label";
  }
  return "control";
}

}  // namespace

const std::array<ControlEntry, kControlCount>& control_table() {
  return kTable;
}

const std::array<ControlEntry, 4>& station_controls() {
  return kStationTable;
}

std::optional<ControlEntry> find_control(int id) {
  if (id == kStaticId) return std::nullopt;
  for (const ControlEntry& entry : kTable) {
    if (entry.id == id) return entry;
  }
  for (const ControlEntry& entry : kStationTable) {
    if (entry.id == id) return entry;
  }
  return std::nullopt;
}

std::string object_name(ControlRole role, int module) {
  const std::string role_text = role_name(role);
  if (module < 0) return role_text;
  return "module" + std::to_string(module + 1) + "_" + role_text;
}

}  // namespace dialog
