// The main dialog's port lists: filling and selecting them, the operator's choice of a module's
// port, and the reaction to ports that arrive and go away.
#include <algorithm>

#include "config/settings.h"
#include "devices/port_census.h"
#include "devices/port_watcher.h"
#include "dialog/control_table.h"
#include "dialog/main_dialog.h"
#include "engine/port_notices.h"
#include "platform/atol_number.h"

namespace dialog {

namespace {

// A port list entry: "COM" and the number in decimal.
std::string port_entry_text(uint32_t n) {
  return "COM" + std::to_string(n);
}

// The twelve port lists first (module by module, AT then Diag), then the two option lists.
size_t list_index(int id) {
  for (size_t k = 0; k < kPanelIds.size(); ++k) {
    if (kPanelIds[k].at_port_list == id) return 2 * k;
    if (kPanelIds[k].diag_port_list == id) return 2 * k + 1;
  }
  return id == kUpgradeTypeListId ? 12 : 13;
}

}  // namespace

int MainDialog::port_list_id(int k, int kind) const {
  if (k < 0 || k >= engine::kModuleCount) return -1;
  if (kind == kAtList) return kPanelIds[static_cast<size_t>(k)].at_port_list;
  if (kind == kDiagList) return kPanelIds[static_cast<size_t>(k)].diag_port_list;
  return -1;
}

const std::vector<std::string>& MainDialog::list_entries(int id) const {
  return lists_[list_index(id)].entries;
}

int MainDialog::list_selection(int id) const {
  return lists_[list_index(id)].selected;
}

std::string MainDialog::list_text(int id) const {
  const List& list = lists_[list_index(id)];
  if (list.selected < 0 || list.selected >= static_cast<int>(list.entries.size())) return {};
  return list.entries[static_cast<size_t>(list.selected)];
}

void MainDialog::set_list(int id, std::vector<std::string> entries, int selected) {
  List& list = lists_[list_index(id)];
  list.entries = std::move(entries);
  list.selected = selected >= 0 && selected < static_cast<int>(list.entries.size()) ? selected : -1;
  face_.set_list(id, list.entries, list.selected);
}

void MainDialog::select(int id, int index) {
  List& list = lists_[list_index(id)];
  list.selected = index >= 0 && index < static_cast<int>(list.entries.size()) ? index : -1;
  face_.select_in_list(id, list.selected);
}

int MainDialog::select_port_in_list(int k, int kind, uint32_t n) {
  const int id = port_list_id(k, kind);
  if (id < 0) return -1;
  const auto& entries = list_entries(id);
  const auto found = std::find(entries.begin(), entries.end(), port_entry_text(n));
  if (found == entries.end()) return -1;
  const int index = static_cast<int>(found - entries.begin());
  select(id, index);
  return index;
}

void MainDialog::fill_port_list(int k, int kind) {
  const int id = port_list_id(k, kind);
  if (id < 0) return;
  const std::vector<uint32_t>& source =
      kind == kAtList ? devices::AtPortCandidates : devices::DiagPortCandidates;
  std::vector<std::string> entries;
  for (uint32_t n : source) {
    if (n != 0) entries.push_back(port_entry_text(n));
  }
  std::sort(entries.begin(), entries.end());  // sorted as text: COM10 comes before COM3
  // The module's own port, not the old position: after ports came or went the same position may
  // hold another port.
  const engine::ModuleSlot& slot = engine::slots()[k];
  const int32_t configured = kind == kAtList ? slot.atPort : slot.diagPort;
  int selected = -1;
  if (configured > 0) {
    const auto found = std::find(entries.begin(), entries.end(),
                                 port_entry_text(static_cast<uint32_t>(configured)));
    if (found != entries.end()) selected = static_cast<int>(found - entries.begin());
  }
  set_list(id, std::move(entries), selected);
}

void MainDialog::select_configured_ports() {
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

void MainDialog::choose_port(int k, int kind, int index) {
  const int id = port_list_id(k, kind);
  // A selection change without a selected entry has nothing to choose.
  if (id < 0 || index < 0 || index >= static_cast<int>(list_entries(id).size())) return;
  const std::string entry = list_entries(id)[static_cast<size_t>(index)];
  select(id, index);

  const int32_t n = platform::atol_int32(entry.substr(3, 39));
  engine::ModuleSlot& slot = engine::slots()[k];
  int32_t& current = kind == kAtList ? slot.atPort : slot.diagPort;
  if (n != 0 && n != current) {
    const std::string text = "update Module" + std::to_string(k + 1) + " " +
                             (kind == kAtList ? "AT" : "Diag") + " port setting?";
    if (face_.ask_yes_no(text, "warning")) {
      current = n;
      config::save_port_setting(k, kind, n);
      config::release_duplicate_port(k, kind, n);
      slot.resultOk = 0;
      // The list shows the port just stored, also when a port that arrived while the question was
      // open refilled it with the module's old port selected.
      if (select_port_in_list(k, kind, static_cast<uint32_t>(n)) < 0) select(id, -1);
    } else if (select_port_in_list(k, kind, static_cast<uint32_t>(current)) < 0) {
      select(id, -1);  // the module's port again, or no selection when the list does not offer it
    }
  }
  if (current == 0) set_list(id, {}, -1);
}

void MainDialog::OnDeviceChange(const devices::PortNotice& notice) {
  if (closed_ || notice.device_type != devices::DBT_DEVTYP_PORT) return;
  if (notice.event == devices::DBT_DEVICEARRIVAL) {
    on_port_arrived(notice.port_name);
    plug_in_arrival(engine::arrival_port_number(notice.port_name));
  } else if (notice.event == devices::DBT_DEVICEREMOVECOMPLETE) {
    removal_census();
    on_port_removed(notice.port_name);
    if (const std::optional<int32_t> d = engine::removal_port_number(notice.port_name))
      plug_in_removal(*d);
  }
}

void MainDialog::on_port_arrived(const std::string& port_name) {
  engine::debug_trace("DBT_DEVICEARRIVAL\r\n");
  if (engine::arrival_port_number(port_name) == 0) return;
  census_.take();
  for (int k = 0; k < engine::kModuleCount; ++k) {
    fill_port_list(k, kAtList);
    fill_port_list(k, kDiagList);
  }
  select_configured_ports();
}

// The lists are not refilled here: they offer the removed port until they are opened again or a
// port arrives.
void MainDialog::removal_census() {
  engine::debug_trace("DBT_DEVICEREMOVECOMPLETE\r\n");
  census_.take();
}

void MainDialog::on_port_removed(const std::string& port_name) {
  const std::optional<int32_t> d = engine::removal_port_number(port_name);
  if (!d) return;
  for (int k : engine::on_port_removed(*d)) show_result_picture(k, 0);
}

}  // namespace dialog
