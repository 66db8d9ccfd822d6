#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/module_slot.h"
#include "engine/notifications.h"
#include "engine/plug_in_start.h"
#include "engine/run_host.h"
#include "ui/dialog_units.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSocketNotifier;

namespace devices {
class PortWatcher;
struct PortNotice;
}  // namespace devices

namespace widgets {
class CProgressBarCtrl;
class CSkinBtn;
}  // namespace widgets

namespace Ui {
class COR_VEXDlg;
}

namespace ui {

// Port list kinds of select_port_in_list and fill_port_list.
constexpr int kAtList = 0;
constexpr int kDiagList = 1;

// The dialog font: the family the template names, then its substitute on this platform.
constexpr const char* kDialogFontFamily = "Microsoft Sans Serif";
constexpr const char* kDialogFontSubstitute = "Liberation Sans";
constexpr int kDialogFontPoints = 9;

// The main dialog: six module panels (AT port list, START/PAUSE, progress bar, status line, result
// picture) and the bottom strip with the update file's path, Browse and ALL START. It is the
// engine's main window: the workers' notifications reach it on its own thread through the RunHost
// it holds, and every handler below runs on that thread.
class COR_VEXDlg : public QDialog, public engine::MainWindow {
  Q_OBJECT

 public:
  // Builds the controls from the template and initialises the dialog (OnInitDialog): settings,
  // port census, port lists, the notification target.
  explicit COR_VEXDlg(QWidget* parent = nullptr);
  ~COR_VEXDlg() override;

  // The engine's synchronous window call; on the window thread only.
  void send_message(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;

  // START/PAUSE of module k (0..5).
  void start_or_pause(int k);
  // Starts every idle module whose AT port list shows a port, Module1 first, 500 ms apart; the
  // window keeps handling events in between. ALL START is disabled until the sequence has ended.
  void all_start();
  bool all_start_running() const { return all_start_next_ >= 0; }
  // Shows module k's result picture: PASS when ok is not 0, else FAIL. Any other k does nothing.
  void show_result_picture(int k, int ok);

  // Selects "COM<n>" in module k's AT (kind 0) or Diag (kind 1) list and gives its index; -1, with
  // the selection left alone, when there is no such entry or k or kind is out of range.
  int select_port_in_list(int k, int kind, uint32_t n);
  // Refills one port list from the census, sorted as text. It then shows the module's configured
  // port when the census has it, and no selection otherwise: a list never shows a port other than
  // the one its module will open.
  void fill_port_list(int k, int kind);
  // Selects every module's configured ports that the census found.
  void select_configured_ports();

  // The operator picked an entry of module k's AT (kind 0) or Diag (kind 1) list: after a Yes to
  // "update Module<N> AT port setting?" the module takes the port and the settings file keeps it;
  // after No the list shows the module's port again.
  void choose_port(int k, int kind);
  // A port arrived or went away (the port watcher's notices, or a test's).
  void OnDeviceChange(const devices::PortNotice& notice);

  // The bottom strip: the option lists, All Check, Browse, and the settings mode (Login, Save).
  void OnSelchangeUpgradeType();
  void OnSelchangeType();
  void OnBnClickedAllCheck();
  void OnBnClickedBrowse();
  void OnBnClickedLogin();
  void OnBnClickedSave();

  // The close rule: refused with a message while any module's worker is active; otherwise every
  // run ends, every AT port is closed, every file image released, and the dialog ends.
  void OnClose();

  DialogBaseUnits base_units() const { return base_units_; }

 Q_SIGNALS:
  // Module k's worker was started.
  void run_started(int k);

 protected:
  // Escape and the close box are close requests: both go through OnClose.
  void reject() override;

 private:
  bool OnInitDialog();
  void OnSlotStatus(int k, const char* text);
  void OnSlotProgress(int k, uintptr_t done, intptr_t total);
  void OnSlotFinished(int k);
  void OnPanelsEnable(bool enable);
  void OnPortsChanged();

  void map_template_geometry();
  void connect_strip();
  void watch_ports();
  void take_port_notices();
  void on_port_arrived(const std::string& port_name);
  void removal_census();
  void on_port_removed(const std::string& port_name);
  void set_settings_mode(bool editing);
  void create_station_controls();
  void init_station();
  void show_day_totals();
  void show_waiting_modules();
  void show_plug_in_wait(int k, const std::string& why);
  void plug_in_arrival(int32_t com);
  void plug_in_removal(int32_t com);
  void plug_in_run_started(int k);
  void plug_in_run_finished(int k, bool passed);
  // The option lists' common steps: `write` stores the option, `field` is the slots' copy.
  void option_list_changed(QComboBox* list, bool (*write)(int), int32_t engine::ModuleSlot::*field);
  void all_start_step();
  void update_all_start_button();
  QComboBox* port_list(int k, int kind) const;

  std::unique_ptr<Ui::COR_VEXDlg> ui_;
  QIcon m_hIcon;
  std::array<QLabel*, 6> status_lines_{};
  std::array<QComboBox*, 6> at_lists_{};
  std::array<QComboBox*, 6> diag_lists_{};
  std::array<widgets::CProgressBarCtrl*, 6> progress_bars_{};
  std::array<widgets::CSkinBtn*, 6> result_pictures_{};
  std::array<QPushButton*, 6> start_buttons_{};
  QString m_strFilePath;

  DialogBaseUnits base_units_;
  std::unique_ptr<engine::RunHost> host_;
  std::unique_ptr<devices::PortWatcher> port_watcher_;
  QSocketNotifier* port_notifier_ = nullptr;
  QLabel* day_totals_label_ = nullptr;
  QCheckBox* plug_in_check_ = nullptr;
  QTimer midnight_timer_;
  engine::PlugInStart plug_in_;
  bool plug_in_on_ = false;
  QTimer all_start_timer_;
  int all_start_next_ = -1;  // the next module ALL START looks at; -1 when no sequence runs
  bool panels_enabled_ = true;
  bool closed_ = false;
};

}  // namespace ui
