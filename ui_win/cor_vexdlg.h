#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "dialog/control_table.h"
#include "dialog/face.h"
#include "dialog/main_dialog.h"
#include "engine/notifications.h"
#include "ui_win/progress_bar_ctrl.h"
#include "ui_win/skin_btn.h"
#include "ui_win/window_mailbox.h"

namespace ui_win {

constexpr int kMainTemplateId = 102;
constexpr int kApplicationIconId = 128;

// One of a module panel's controls, as a member of dialog::PanelIds.
using PanelRole = int dialog::PanelIds::*;

// The main dialog in Win32: the dialog made from template 102 (its controls, geometry and font are
// the resource's), over the dialog's behaviour (dialog::MainDialog), which it shows through the
// face interface and to which it hands every operator action, timer and port notice. It is the
// engine's main window: the workers' notifications reach its thread through a mailbox that a
// private message drains, and the behaviour's notification bridge makes them synchronous.
class COR_VEXDlg final : public engine::MainWindow, private dialog::Face {
 public:
  // `census`: where the behaviour finds the ports (the census of devices/ when empty).
  explicit COR_VEXDlg(dialog::MainDialog::PortCensus census = {});
  ~COR_VEXDlg() override;
  COR_VEXDlg(const COR_VEXDlg&) = delete;
  COR_VEXDlg& operator=(const COR_VEXDlg&) = delete;

  // Makes the dialog, initialises it (settings, census, port lists, notification target) and shows
  // it. False when the window cannot be made.
  bool Create();
  // Runs the dialog's message loop until the dialog ends, making it first when needed. Gives
  // IDCANCEL once the close rule let the dialog end, -1 when it could not be made, and 0 when the
  // thread was told to quit (the quit is passed on).
  INT_PTR DoModal();
  // What the loop does with one message it took: a repeated Enter (a key held down) is dropped;
  // a fresh Enter means ALL START whichever push button has the focus; the dialog manager's keys;
  // then translation and dispatch.
  void pump(MSG& message);

  HWND hwnd() const { return window_; }
  bool ended() const { return ended_; }
  dialog::MainDialog& behaviour() { return behaviour_; }

  // The engine's synchronous window call; on the window thread only.
  void send_message(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;

  // Called at the dialog's first paint (the window benchmark's stamp); empty: nothing.
  void set_first_paint_handler(std::function<void()> handler) { first_paint_ = std::move(handler); }
  // Called once module k's worker was started (tests watch it); empty: nothing.
  void set_run_started_handler(std::function<void(int)> handler) {
    run_started_ = std::move(handler);
  }
  // Called on the window thread once a worker's notification has been handled, with its message
  // and parameters (the window benchmark times runs by them); empty: nothing.
  using NotificationHandler = std::function<void(uint32_t msg, uintptr_t wParam, intptr_t lParam)>;
  void set_notification_handler(NotificationHandler handler) { notified_ = std::move(handler); }
  // The text that the pointer shows over a status line, as the tooltip control holds it.
  std::wstring tooltip_text(int id) const;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK ListProc(HWND list, UINT message, WPARAM wparam, LPARAM lparam,
                                   UINT_PTR id, DWORD_PTR data);
  INT_PTR handle(UINT message, WPARAM wparam, LPARAM lparam);
  BOOL OnInitDialog();
  void OnCommand(int id, int code);
  void OnList(int id, int code);
  bool OnPaint();
  void OnDpiChanged(const RECT& suggested);
  void load_icons();
  void make_tooltips();
  void place_tooltips();
  bool enter_means_all_start() const;
  // The module whose panel control `role` is `id`; -1: none.
  static int panel_of(int id, PanelRole role);
  // The entry that a list's selection shows, as its index in the dialog's order; -1: none.
  int dialog_index_of_selection(int id) const;
  void select_text(int id, int index);
  HWND item(int id) const { return ::GetDlgItem(window_, id); }

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

  HWND window_ = nullptr;
  HICON large_icon_ = nullptr;
  HICON small_icon_ = nullptr;
  HWND tooltips_ = nullptr;
  std::array<CProgressBarCtrl, 6> bars_;
  std::array<CSkinBtn, 6> pictures_;
  std::map<int, std::vector<std::string>> entries_;  // each list's entries in the dialog's order
  WindowMailbox mailbox_;
  dialog::MainDialog behaviour_;
  bool ended_ = false;
  std::function<void()> first_paint_;
  std::function<void(int)> run_started_;
  NotificationHandler notified_;
};

}  // namespace ui_win
