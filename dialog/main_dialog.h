#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dialog/face.h"
#include "engine/module_slot.h"
#include "engine/notifications.h"
#include "station/plug_in_start.h"

namespace devices {
struct PortNotice;
}

namespace engine {
class RunHost;
}

namespace dialog {

// Port list kinds of select_port_in_list and fill_port_list.
constexpr int kAtList = 0;
constexpr int kDiagList = 1;

// The captions that are a module button's mode.
inline constexpr const char* kStart = "START";
inline constexpr const char* kPause = "PAUSE";

// The main dialog's behaviour, without any window system: the six module panels (AT port list,
// START/PAUSE, progress bar, status line, result picture), the bottom strip (update file, Browse,
// Login and Save, the option lists, All Check, ALL START) and the station (today's totals, start
// on plug-in, the bench folder). A face (dialog/face.h) shows it; the face hands every operator
// action and every window-system event to the handlers below, on the window thread. It is the
// engine's main window: the workers' notifications reach it on the window thread through the face's
// post().
class MainDialog final : public engine::MainWindow {
 public:
  // Where the dialog finds the bench's ports: `prepare` once at start-up (numbering the ports of
  // the bench and taking the census), `take` at every port notice; both fill the census lists of
  // devices/. The census of devices/ unless a test gives its own.
  struct PortCensus {
    std::function<int()> prepare;
    std::function<int()> take;
  };

  explicit MainDialog(Face& face, PortCensus census = {});
  ~MainDialog() override;
  MainDialog(const MainDialog&) = delete;
  MainDialog& operator=(const MainDialog&) = delete;

  // The initialisation, once the face's controls exist: settings, option lists, the census, the
  // port lists, the station, the notification target, the FAIL pictures. The workers' notifications
  // go to `target` (the face's window, which hands them to send_message), or to the dialog itself.
  void OnInitDialog(engine::MainWindow* target = nullptr);

  // The engine's synchronous window call; on the window thread only.
  void send_message(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;

  // START/PAUSE of module k (0..5).
  void start_or_pause(int k);
  // Starts every idle module whose AT port list shows a port, Module1 first, 500 ms apart (on the
  // face's timer: the window handles its events in between). ALL START is disabled meanwhile.
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
  // The operator picked entry `index` of module k's AT (kind 0) or Diag (kind 1) list: after a Yes
  // to "update Module<N> AT port setting?" the module takes the port and the settings file keeps
  // it; after No the list shows the module's port again.
  void choose_port(int k, int kind, int index);
  // A port arrived or went away.
  void OnDeviceChange(const devices::PortNotice& notice);

  // The bottom strip: the option lists (the operator picked `index`), All Check, Browse, and the
  // settings mode (Login, Save, the plug-in option).
  void OnSelchangeUpgradeType(int index);
  void OnSelchangeType(int index);
  void OnBnClickedAllCheck();
  void OnBnClickedBrowse();
  void OnBnClickedLogin();
  void OnBnClickedSave();
  void OnPlugInOptionToggled(bool on);

  // The close rule: refused with a message while any module's worker is active; otherwise every
  // run ends, every AT port is closed, every file image released, and the dialog ends.
  void OnClose();

  // A timer of the face ran out.
  void on_timer(Timer timer);

  // What the panels show, for the faces and their tests.
  const std::string& button_caption(int k) const;
  const std::vector<std::string>& list_entries(int id) const;
  int list_selection(int id) const;
  std::string list_text(int id) const;  // the entry the list shows; empty when none
  bool settings_unlocked() const { return settings_unlocked_; }
  bool closed() const { return closed_; }

 private:
  struct List {
    std::vector<std::string> entries;
    int selected = -1;
  };

  void OnSlotStatus(int k, const char* text);
  void OnSlotProgress(int k, uintptr_t done, intptr_t total);
  void OnSlotFinished(int k);
  void OnPanelsEnable(bool enable);
  void OnPortsChanged();

  void on_port_arrived(const std::string& port_name);
  void removal_census();
  void on_port_removed(const std::string& port_name);

  void set_caption(int k, const char* caption);
  void set_list(int id, std::vector<std::string> entries, int selected);
  void select(int id, int index);
  int port_list_id(int k, int kind) const;
  void set_settings_mode(bool editing);
  // A module's button: a button that reads "PAUSE" stays enabled, one that reads "START" is
  // disabled while the settings are unlocked.
  void update_start_button(int k);
  void update_all_start_button();
  // A line of module k's run for its status line's tooltip.
  void note_run_line(int k, const std::string& line);
  // Module k's panel begins a new run: the status lines of its last run are forgotten.
  void begin_run_lines(int k);
  // The module's identity, when it told it, as the last line of its run.
  void show_identity(int k);
  void all_start_step();
  // The option lists' common steps: `write` stores the option, `field` is the slots' copy.
  void option_list_changed(int index, bool (*write)(int), int32_t engine::ModuleSlot::*field);

  void init_station();
  void show_bench_folder();
  void show_day_totals();
  void show_line_records();
  void show_waiting_modules();
  // Module k waits for its module (start on plug-in): no result stands, the status line says why.
  void show_plug_in_wait(int k, const std::string& why);
  void plug_in_arrival(int32_t com);
  void plug_in_removal(int32_t com);
  void plug_in_run_started(int k);
  void plug_in_run_finished(int k, bool passed);

  Face& face_;
  PortCensus census_;
  std::array<std::string, engine::kModuleCount> captions_;
  std::array<List, 14> lists_{};  // the twelve port lists, then the two option lists
  std::array<std::vector<std::string>, engine::kModuleCount> run_lines_{};
  std::unique_ptr<engine::RunHost> host_;
  station::PlugInStart plug_in_;
  bool plug_in_on_ = false;
  int all_start_next_ = -1;  // the next module ALL START looks at; -1 when no sequence runs
  bool panels_enabled_ = true;
  bool settings_unlocked_ = false;  // after a login, until Save: no run may start
  bool closed_ = false;
  std::string totals_shown_;                 // the text of today's totals last shown
  std::string records_shown_, records_tip_;  // the records waiting, as last shown
  bool records_visible_ = false;
};

}  // namespace dialog
