#include "dialog/main_dialog.h"

#include <cstdio>

#include "config/settings.h"
#include "devices/bench_ports.h"
#include "devices/port_census.h"
#include "dialog/control_table.h"
#include "dialog/progress_percent.h"
#include "engine/module_identity.h"
#include "engine/run_control.h"
#include "engine/run_host.h"
#include "engine/serial_link.h"
#include "platform/clock.h"
#include "resources/bitmap_ids.h"
#include "station/line_records.h"

namespace dialog {

namespace {

bool valid_module(int k) {
  return k >= 0 && k < engine::kModuleCount;
}

const PanelIds& panel(int k) {
  return kPanelIds[static_cast<size_t>(k)];
}

// A status text is shown on one line: the line end that closes a text is not shown, and a line
// break inside one shows as a blank.
std::string status_line_text(const char* text) {
  std::string line = text;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  std::string shown;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\r' && i + 1 < line.size() && line[i + 1] == '\n') ++i;
    shown += line[i] == '\r' || line[i] == '\n' ? ' ' : line[i];
  }
  return shown;
}

}  // namespace

MainDialog::MainDialog(Face& face, PortCensus census) : face_(face), census_(std::move(census)) {
  if (!census_.prepare) census_.prepare = devices::prepare_bench_ports;
  if (!census_.take) census_.take = devices::GetDevicePorts;
  captions_.fill(kStart);
}

MainDialog::~MainDialog() {
  host_.reset();  // ends every run before the face goes
  station::stop_shipping();
}

void MainDialog::OnInitDialog(engine::MainWindow* target) {
  face_.set_text(kFilePathEditId, config::LoadFilePath());
  config::load_settings();

  auto& slots = engine::slots();
  set_list(kUpgradeTypeListId, {"DownLoad All", "Only Upgrade Script"}, slots[0].onlyUpgradeScript);
  set_list(kTypeListId, {"VX2280E", "VX2280A"}, slots[0].selectType);

  // The census, after the bench's ports are numbered; a stale link is never opened from here on.
  census_.prepare();
  for (int k = 0; k < engine::kModuleCount; ++k) {
    fill_port_list(k, kAtList);
    fill_port_list(k, kDiagList);
  }
  select_configured_ports();
  init_station();

  // From here on the workers can report; their calls reach the window thread through the face.
  host_ = std::make_unique<engine::RunHost>(target ? *target : *this, face_.poster());
  // Each result picture holds its module's FAIL picture, hidden until a result comes.
  for (int k = 0; k < engine::kModuleCount; ++k)
    face_.set_picture(panel(k).result_picture, resources::kFailBitmapIds[static_cast<size_t>(k)]);
}

void MainDialog::send_message(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  using namespace engine;
  if (msg >= WM_SLOT_STATUS && msg < WM_SLOT_STATUS + kModuleCount) {
    OnSlotStatus(static_cast<int>(msg - WM_SLOT_STATUS), reinterpret_cast<const char*>(wParam));
  } else if (msg >= WM_SLOT_PROGRESS && msg < WM_SLOT_PROGRESS + kModuleCount) {
    OnSlotProgress(static_cast<int>(msg - WM_SLOT_PROGRESS), wParam, lParam);
  } else if (msg >= WM_SLOT_FINISHED && msg < WM_SLOT_FINISHED + kModuleCount) {
    OnSlotFinished(static_cast<int>(msg - WM_SLOT_FINISHED));
  } else if (msg == WM_SLOT_RESULT) {
    if (wParam < static_cast<uintptr_t>(kModuleCount)) {
      show_result_picture(static_cast<int>(wParam), lParam != 0 ? 1 : 0);
      show_identity(static_cast<int>(wParam));
      plug_in_run_finished(static_cast<int>(wParam), lParam != 0);
    }
  } else if (msg == WM_PANELS_ENABLE) {
    OnPanelsEnable(true);
  } else if (msg == WM_PANELS_DISABLE) {
    OnPanelsEnable(false);
  } else if (msg == WM_PORTS_CHANGED) {
    OnPortsChanged();
  }
}

void MainDialog::OnSlotStatus(int k, const char* text) {
  if (!valid_module(k) || !text) return;
  const std::string line = status_line_text(text);
  face_.set_text(panel(k).status_line, line);
  note_run_line(k, line);
}

// The status line keeps the last text; its tooltip lists every line of the run, so that the cause
// behind a code is one hover away.
void MainDialog::note_run_line(int k, const std::string& line) {
  if (line.empty()) return;
  const std::tm now = platform::clock().local_time();
  char stamp[16];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d  ", now.tm_hour, now.tm_min, now.tm_sec);
  auto& lines = run_lines_[static_cast<size_t>(k)];
  lines.push_back(stamp + line);
  std::string tooltip;
  for (const std::string& l : lines) tooltip += (tooltip.empty() ? "" : "\n") + l;
  face_.set_tooltip(panel(k).status_line, tooltip);
}

// Which module the result belongs to, when it told: the recorder left the outcome before the
// result was sent.
void MainDialog::show_identity(int k) {
  const engine::RunOutcome outcome = engine::slots()[static_cast<size_t>(k)].notes.outcome();
  note_run_line(k, engine::identity_text(outcome.record.identity));
}

void MainDialog::begin_run_lines(int k) {
  run_lines_[static_cast<size_t>(k)].clear();
  face_.set_tooltip(panel(k).status_line, "");
}

void MainDialog::OnSlotProgress(int k, uintptr_t done, intptr_t total) {
  if (!valid_module(k)) return;
  if (const auto percent = progress_percent(done, total))
    face_.set_bar(panel(k).progress_bar, *percent);
}

void MainDialog::OnSlotFinished(int k) {
  if (!valid_module(k)) return;
  face_.enable_control(panel(k).at_port_list, true);
  face_.enable_control(panel(k).diag_port_list, true);
  set_caption(k, kStart);
  face_.enable_control(panel(k).start_button, !settings_unlocked_);
}

void MainDialog::OnPanelsEnable(bool enable) {
  panels_enabled_ = enable;
  for (int k = 0; k < engine::kModuleCount; ++k) {
    face_.enable_control(panel(k).at_port_list, enable);
    face_.enable_control(panel(k).diag_port_list, enable);
    if (enable) {
      update_start_button(k);
    } else {
      face_.enable_control(panel(k).start_button, false);
    }
  }
  face_.enable_control(kUpgradeTypeListId, enable);
  face_.enable_control(kTypeListId, enable);
  update_all_start_button();
}

void MainDialog::OnPortsChanged() {
  auto& slots = engine::slots();
  for (int k = 0; k < engine::kModuleCount; ++k) {
    if (slots[k].atPort == 0) {
      slots[k].resultOk = 0;
      set_list(panel(k).at_port_list, {}, -1);
    }
    if (slots[k].diagPort == 0) {
      slots[k].resultOk = 0;
      set_list(panel(k).diag_port_list, {}, -1);
    }
  }
}

void MainDialog::show_result_picture(int k, int ok) {
  if (!valid_module(k)) return;
  const size_t i = static_cast<size_t>(k);
  face_.show_picture(panel(k).result_picture,
                     ok != 0 ? resources::kPassBitmapIds[i] : resources::kFailBitmapIds[i]);
}

void MainDialog::set_caption(int k, const char* caption) {
  captions_[static_cast<size_t>(k)] = caption;
  face_.set_text(panel(k).start_button, caption);
}

const std::string& MainDialog::button_caption(int k) const {
  return captions_[static_cast<size_t>(k)];
}

void MainDialog::update_start_button(int k) {
  face_.enable_control(panel(k).start_button, !settings_unlocked_ || button_caption(k) != kStart);
}

void MainDialog::start_or_pause(int k) {
  if (!valid_module(k) || closed_) return;
  engine::ModuleSlot& slot = engine::slots()[k];
  if (button_caption(k) != kStart) {
    // The caption stays "PAUSE": the worker's end sets it back.
    engine::request_stop(slot);
    return;
  }
  // While the settings are unlocked no run starts, whatever asks (All Check, plug-in start).
  if (settings_unlocked_) return;

  if (list_text(panel(k).at_port_list).empty()) {
    // A slot whose worker is still inside its run is never touched.
    if (engine::run_under_way(slot)) return;
    face_.show_control(panel(k).result_picture, false);
    slot.upgraded = 0;
    if (slot.hAT.is_open()) return;
    OnSlotStatus(k, "");
    OnSlotProgress(k, 0, 100);
    slot.busy = 0;
    face_.message("请设置 <Module " + std::to_string(k + 1) + "> 的串口!", "warning!",
                  BoxIcon::none, BoxOwner::dialog);
    return;
  }

  // The result picture is hidden only when the start goes ahead: a START that meets a worker
  // between its end message and its return starts nothing and leaves the result shown.
  if (!engine::start_blocked(slot)) {
    face_.show_control(panel(k).result_picture, false);
    begin_run_lines(k);
  }
  switch (engine::start_module(slot)) {
    case engine::StartOutcome::started:
      set_caption(k, kPause);
      plug_in_run_started(k);
      face_.on_run_started(k);
      break;
    case engine::StartOutcome::thread_failed: {
      // No worker will ever end this run: the panel goes back to idle at once.
      set_caption(k, kStart);
      const std::string line = "create download thread(" + std::to_string(k + 1) + ") failed!";
      OnSlotStatus(k, line.c_str());
      break;
    }
    case engine::StartOutcome::port_failed:
      // The FAIL picture came with the result message; why the port did not open is one hover
      // away, the status line keeps its text.
      if (const std::string why = slot.hAT.open_failure(); !why.empty())
        note_run_line(k, "OpenATPort Failed!: " + why);
      break;
    case engine::StartOutcome::running:
    case engine::StartOutcome::port_open:
      break;
  }
}

void MainDialog::all_start() {
  if (all_start_running() || closed_ || settings_unlocked_) return;
  auto& slots = engine::slots();
  for (int k = 0; k < engine::kModuleCount; ++k) {
    face_.show_control(panel(k).result_picture, false);
    slots[k].upgraded = 0;
  }
  all_start_next_ = 0;
  update_all_start_button();
  all_start_step();
}

// One module of ALL START: the next module, from the one after the last started, that is idle and
// shows a port is started, and the timer takes the sequence on 500 ms later. Between two starts
// the window handles its events as usual.
void MainDialog::all_start_step() {
  auto& slots = engine::slots();
  while (all_start_next_ >= 0 && all_start_next_ < engine::kModuleCount) {
    const int k = all_start_next_++;
    if (engine::all_start_takes(slots[k], !list_text(panel(k).at_port_list).empty())) {
      start_or_pause(k);
      face_.start_timer(Timer::all_start, 500);
      return;
    }
  }
  all_start_next_ = -1;
  update_all_start_button();
}

void MainDialog::update_all_start_button() {
  face_.enable_control(kAllStartId, panels_enabled_ && !all_start_running() && !settings_unlocked_);
}

void MainDialog::on_timer(Timer timer) {
  if (closed_) return;
  switch (timer) {
    case Timer::all_start:
      all_start_step();
      break;
    case Timer::totals:
      show_day_totals();
      break;
  }
}

void MainDialog::OnClose() {
  if (closed_) return;
  auto& slots = engine::slots();
  if (engine::any_run_in_progress()) {
    engine::debug_trace("OnClose: Disable!\r\n");
    face_.message("download is doing,can't be closed!", "warning", BoxIcon::none, BoxOwner::none);
    return;
  }
  engine::debug_trace("OnClose: OK!\r\n");
  closed_ = true;
  face_.stop_timer(Timer::all_start);
  face_.stop_timer(Timer::totals);
  all_start_next_ = -1;
  if (host_) host_->shut_down();
  // What waits for the line's database is sent at the next start: closing never waits for it.
  station::stop_shipping();
  for (engine::ModuleSlot& slot : slots) engine::close_at_port(slot);
  for (engine::ModuleSlot& slot : slots) engine::release_file_image(slot);
  face_.end_dialog();
}

}  // namespace dialog
