#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <map>
#include <memory>

#include "dialog/face.h"
#include "dialog/main_dialog.h"
#include "engine/notifications.h"
#include "ui/dialog_units.h"

class QKeyEvent;
class QSocketNotifier;

namespace devices {
class PortWatcher;
struct PortNotice;
}  // namespace devices

namespace Ui {
class COR_VEXDlg;
}

namespace ui {

// Port list kinds of select_port_in_list and fill_port_list.
constexpr int kAtList = dialog::kAtList;
constexpr int kDiagList = dialog::kDiagList;

// The dialog font: the family the template names, then its substitute on this platform.
constexpr const char* kDialogFontFamily = "Microsoft Sans Serif";
constexpr const char* kDialogFontSubstitute = "Liberation Sans";
constexpr int kDialogFontPoints = 9;

// The main dialog in Qt: the controls of the template (ui/cor_vexdlg.ui) mapped from dialog units,
// over the dialog's behaviour (dialog::MainDialog), which it shows through the face interface and
// to which it hands every operator action, timer and port notice. It is the engine's main window:
// the workers' notifications reach it on its own thread through the application's call mailbox.
class COR_VEXDlg : public QDialog, public engine::MainWindow, private dialog::Face {
  Q_OBJECT

 public:
  // Builds the controls from the template and initialises the dialog: settings, port census, port
  // lists, the notification target.
  explicit COR_VEXDlg(QWidget* parent = nullptr);
  ~COR_VEXDlg() override;

  // The engine's synchronous window call; on the window thread only.
  void send_message(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;

  // The behaviour's commands, as the controls run them.
  void start_or_pause(int k) { behaviour_.start_or_pause(k); }
  void all_start() { behaviour_.all_start(); }
  bool all_start_running() const { return behaviour_.all_start_running(); }
  void show_result_picture(int k, int ok) { behaviour_.show_result_picture(k, ok); }
  int select_port_in_list(int k, int kind, uint32_t n) {
    return behaviour_.select_port_in_list(k, kind, n);
  }
  void fill_port_list(int k, int kind) { behaviour_.fill_port_list(k, kind); }
  void select_configured_ports() { behaviour_.select_configured_ports(); }
  void OnDeviceChange(const devices::PortNotice& notice) { behaviour_.OnDeviceChange(notice); }
  void OnBnClickedAllCheck() { behaviour_.OnBnClickedAllCheck(); }
  void OnClose() { behaviour_.OnClose(); }

  DialogBaseUnits base_units() const { return base_units_; }

 Q_SIGNALS:
  // Module k's worker was started.
  void run_started(int k);

 protected:
  // Escape and the close box are close requests: both go through OnClose.
  void reject() override;
  // Enter clicks ALL START only on a fresh press: an auto-repeated Enter (a key held down, or left
  // pressed by a scanner or a remote desktop) does nothing.
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  // The face.
  void set_text(int id, std::string_view text) override;
  void set_tooltip(int id, std::string_view text) override;
  void enable_control(int id, bool enabled) override;
  void show_control(int id, bool visible) override;
  void set_checked(int id, bool checked) override;
  void set_list(int id, const std::vector<std::string>& entries, int selected) override;
  void select_in_list(int id, int index) override;
  void set_bar(int id, int position) override;
  void set_picture(int id, int bitmap) override;
  void show_picture(int id, int bitmap) override;
  void message(std::string_view text, std::string_view caption, dialog::BoxIcon icon,
               dialog::BoxOwner owner) override;
  bool ask_yes_no(std::string_view text, std::string_view caption) override;
  std::optional<std::string> pick_file(std::string_view title, std::string_view folder) override;
  bool run_login() override;
  void start_timer(dialog::Timer timer, int ms) override;
  void stop_timer(dialog::Timer timer) override;
  Post poster() override;
  void end_dialog() override;
  void on_run_started(int k) override;

  void map_template_geometry();
  void connect_controls();
  void watch_ports();
  void take_port_notices();
  template <typename Widget>
  Widget* control(int id) const;
  QTimer& timer(dialog::Timer which);

  std::unique_ptr<Ui::COR_VEXDlg> ui_;
  QIcon m_hIcon;
  std::map<int, QWidget*> controls_;  // every numbered control, by its number
  DialogBaseUnits base_units_;
  dialog::MainDialog behaviour_;
  std::unique_ptr<devices::PortWatcher> port_watcher_;
  QSocketNotifier* port_notifier_ = nullptr;
  QTimer all_start_timer_;
  QTimer totals_timer_;
  quint64 enter_released_at_ = 0;  // the window system's time of Enter's last release
};

}  // namespace ui
