// The main dialog's port lists: the operator's choice of a module's port, and the reaction to
// ports that arrive and go away.
#include <QComboBox>
#include <QSocketNotifier>

#include "config/settings.h"
#include "devices/port_census.h"
#include "devices/port_watcher.h"
#include "engine/notifications.h"
#include "engine/port_notices.h"
#include "platform/atol_number.h"
#include "ui/cor_vexdlg.h"
#include "ui/cor_vexdlg_common.h"
#include "ui/message_box.h"

namespace ui {

void COR_VEXDlg::choose_port(int k, int kind) {
  QComboBox* list = port_list(k, kind);
  if (!list) return;
  const int index = list->currentIndex();
  // A selection change without a selected entry has nothing to choose.
  if (index < 0) return;
  const QString entry = list->itemText(index);
  const QSignalBlocker block(list);
  list->setCurrentIndex(index);

  const int32_t n = platform::atol_int32(entry.mid(3, 39).toStdString());
  engine::ModuleSlot& slot = engine::slots()[k];
  int32_t& current = kind == kAtList ? slot.atPort : slot.diagPort;
  if (n != 0 && n != current) {
    const QString text = QStringLiteral("update Module%1 %2 port setting?")
                             .arg(k + 1)
                             .arg(kind == kAtList ? QStringLiteral("AT") : QStringLiteral("Diag"));
    if (ask_yes_no(this, text, QStringLiteral("warning"))) {
      current = n;
      config::save_port_setting(k, kind, n);
      config::release_duplicate_port(k, kind, n);
      slot.resultOk = 0;
      // The list shows the port just stored, also when a port that arrived while the question was
      // open refilled it with the module's old port selected.
      list->setCurrentIndex(
          list->findText(port_entry_text(static_cast<uint32_t>(n)), Qt::MatchExactly));
    } else {
      // The module's port again, or no selection when the list does not offer it.
      list->setCurrentIndex(
          list->findText(port_entry_text(static_cast<uint32_t>(current)), Qt::MatchExactly));
    }
  }
  if (current == 0) list->clear();
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
  if (!port_watcher_ || closed_) return;
  for (const devices::PortNotice& notice : port_watcher_->take_notices()) OnDeviceChange(notice);
}

void COR_VEXDlg::OnDeviceChange(const devices::PortNotice& notice) {
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

void COR_VEXDlg::on_port_arrived(const std::string& port_name) {
  engine::debug_trace("DBT_DEVICEARRIVAL\r\n");
  if (engine::arrival_port_number(port_name) == 0) return;
  devices::GetDevicePorts();
  for (int k = 0; k < engine::kModuleCount; ++k) {
    fill_port_list(k, kAtList);
    fill_port_list(k, kDiagList);
  }
  select_configured_ports();
}

// The lists are not refilled here: they offer the removed port until they are opened again or a
// port arrives.
void COR_VEXDlg::removal_census() {
  engine::debug_trace("DBT_DEVICEREMOVECOMPLETE\r\n");
  devices::GetDevicePorts();
}

void COR_VEXDlg::on_port_removed(const std::string& port_name) {
  const std::optional<int32_t> d = engine::removal_port_number(port_name);
  if (!d) return;
  for (int k : engine::on_port_removed(*d)) show_result_picture(k, 0);
}

}  // namespace ui
