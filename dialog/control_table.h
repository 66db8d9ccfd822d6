#pragma once

// The controls of the main dialog's template (ui/cor_vexdlg.ui, and the Windows resource script
// made from it): the one place that knows their numbers. Each control has a number (-1 for the
// static frames and labels, which nothing addresses), a role and the module it belongs to (0..5, or
// -1 for the controls of the bottom strip). Its object name in the template follows from its role
// and module.

#include <array>
#include <optional>
#include <string>

namespace dialog {

enum class ControlRole {
  // One of each per module panel.
  panel_group,
  at_label,
  at_port_list,
  diag_label,
  diag_port_list,
  start_button,
  progress_bar,
  status_line,
  result_picture,
  // The bottom strip and the option controls.
  all_start_button,
  upgrade_type_group,
  upgrade_type_list,
  type_group,
  type_list,
  all_check_button,
  file_path_edit,
  browse_button,
  login_button,
  save_button,
  // The station's controls, which the template gained: today's totals, the option to start a
  // module when its port is plugged in, the bench folder the window works on, and the records
  // that wait for the line's database.
  day_totals_label,
  plug_in_start_check,
  bench_folder_label,
  records_label,
};

struct ControlEntry {
  int id;  // -1: a static control without a number of its own
  ControlRole role;
  int module;  // 0..5; -1 for the bottom strip
  bool visible;
  bool enabled;
};

constexpr int kStaticId = -1;
constexpr int kPanelRoleCount = 9;
constexpr int kControlCount = 64;

// Numbers of the panel controls, indexed by module.
struct PanelIds {
  int at_port_list, diag_port_list, start_button, progress_bar, status_line, result_picture;
};
constexpr std::array<PanelIds, 6> kPanelIds{{
    {1007, 1008, 1009, 1005, 1055, 1047},
    {1010, 1011, 1012, 1006, 1056, 1048},
    {1014, 1015, 1016, 1013, 1057, 1049},
    {1018, 1019, 1020, 1017, 1058, 1052},
    {1022, 1023, 1024, 1021, 1059, 1053},
    {1026, 1027, 1028, 1025, 1060, 1054},
}};

constexpr int kAllStartId = 1029;
constexpr int kUpgradeTypeListId = 1030;
constexpr int kTypeListId = 1031;
constexpr int kAllCheckId = 1061;
constexpr int kFilePathEditId = 1062;
constexpr int kBrowseId = 1063;
constexpr int kLoginId = 1065;
constexpr int kSaveId = 1066;
constexpr int kDayTotalsId = 1067;
constexpr int kPlugInStartId = 1068;
constexpr int kBenchFolderId = 1069;
constexpr int kRecordsId = 1070;

// Every control of the template, panel by panel (Module1 first), then the bottom strip.
const std::array<ControlEntry, kControlCount>& control_table();

// The station's controls, which the project added to the template.
const std::array<ControlEntry, 4>& station_controls();

// The entry of a numbered control, or nothing.
std::optional<ControlEntry> find_control(int id);

// The object name of a control in the template: "module<N>_<role>" for a panel control,
// "<role>" for the others (e.g. "module3_at_port_list", "all_start_button").
std::string object_name(ControlRole role, int module);
inline std::string object_name(const ControlEntry& entry) {
  return object_name(entry.role, entry.module);
}

}  // namespace dialog
