// quillmark-run: updates the modules of a bench folder, without a window.
//
//   quillmark-run [-C DIR] [--debug FILE] [--json | --watch] [MODULE]...
//
// Changes into the bench folder DIR when it is named (else works on the folder it is started in),
// reads its ZEBL.ini as the window does and runs every module that has an AT port, or the modules
// named (1 to 6), side by side. Shows a progress row per module (a
// time-stamped line per event when standard output is not a terminal), then PASS or FAIL per
// module. The exit codes are those of tools/runner/options.h.
#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/ioctl.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "devices/bench_ports.h"
#include "devices/port_facts.h"
#include "engine/file_image.h"
#include "engine/module_slot.h"
#include "engine/run_control.h"
#include "engine/run_host.h"
#include "platform/bench_folder.h"
#include "platform/com_ports.h"
#include "platform/debug_file.h"
#include "platform/executable_dir.h"
#include "platform/tool_locks.h"
#include "platform/utf8_path.h"
#include "station/day_totals.h"
#include "station/run_record.h"
#ifdef _WIN32
#include "platform/win/console.h"
#endif
#include "tools/runner/bench_checks.h"
#include "tools/runner/call_queue.h"
#include "tools/runner/options.h"
#include "tools/runner/summary.h"
#include "tools/runner/terminal_view.h"
#include "tools/runner/time_stamp.h"
#include "tools/runner/watch.h"

namespace {

std::atomic<bool> interrupted{false};
std::atomic<bool> resized{false};

void on_interrupt(int) {
  interrupted = true;
}

void on_resize(int) {
  resized = true;
}

#ifdef _WIN32
int terminal_width() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &info) &&
      info.srWindow.Right >= info.srWindow.Left)
    return info.srWindow.Right - info.srWindow.Left + 1;
  return 80;
}

// Ctrl-C and Ctrl-Break stop the modules, as the interrupt signal does elsewhere.
BOOL WINAPI on_console_event(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  on_interrupt(0);
  return TRUE;
}

// The console tells of a new width only to a program that reads its input: the width is looked at
// twice a second instead.
void CALLBACK check_width(void*, BOOLEAN) {
  static std::atomic<int> last{0};
  const int width = terminal_width();
  if (last.exchange(width) != width) on_resize(0);
}

// Rows are redrawn in place on a console that takes the terminal's control sequences.
bool console_redraws() {
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (!::GetConsoleMode(out, &mode)) return false;
  return ::SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}
#else
int terminal_width() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}
#endif

int bad_input(const std::string& message) {
  std::fprintf(stderr, "quillmark-run: %s\n", message.c_str());
  return runner::kExitBadInput;
}

std::string iso(std::chrono::system_clock::time_point t) {
  return t == std::chrono::system_clock::time_point{} ? std::string() : runner::local_time_stamp(t);
}

// At the end: what waits for the line's database is given a moment to go while the database takes
// it (never when it is down or stopped answering, nor after an interruption), then the shipper is
// stopped. What is left is sent by the next start.
station::ShippingStatus end_shipping() {
  constexpr int64_t kFlushLimitMs = 2000;
  if (!interrupted) station::flush_shipping(kFlushLimitMs);
  const station::ShippingStatus status = station::shipping_status();
  station::stop_shipping();
  return status;
}

int run(int argc, char** argv) {
  runner::Options options;
  std::string error;
  if (!runner::parse_options(platform::program_arguments(argc, argv), &options, &error)) {
    std::fprintf(stderr, "quillmark-run: %s\nTry 'quillmark-run --help'.\n", error.c_str());
    return runner::kExitBadInput;
  }
  if (options.help) {
    std::fputs(runner::help_text().c_str(), stdout);
    return runner::kExitPassed;
  }
  if (options.version) {
    std::fputs(runner::version_text().c_str(), stdout);
    return runner::kExitPassed;
  }

  // Everything relative (settings, ports, logs, records, the debug file) is the bench's.
  if (!platform::enter_bench(options.bench, &error)) return bad_input(error);

  // The diagnostic lines go to a file, or nowhere: they would break the display.
  std::unique_ptr<platform::DebugFile> debug;
  if (!options.debug_file.empty() &&
      !(debug = platform::DebugFile::open(options.debug_file, &error)))
    return bad_input("cannot open the debug file " + error);

  // One program runs the modules of a bench, whoever runs it and wherever from; and one per user.
  platform::ToolLocks locks;
  platform::LockRefusal refusal;
  if (!platform::take_tool_locks(platform::working_directory(), &locks, &refusal)) {
    if (refusal.held) {
      std::string line = "Tool has been opened!";
      if (const std::string holder = platform::describe_holder(refusal); !holder.empty())
        line += " (" + holder + ")";
      std::fprintf(stderr, "%s\n", line.c_str());
      return runner::kExitAlreadyOpen;
    }
    std::fprintf(stderr, "quillmark-run: cannot take the %s: %s\n", refusal.lock.c_str(),
                 refusal.reason.c_str());
    return runner::kExitBadInput;
  }

  // Bad input is told before any module starts, with the path and the reason.
  const std::string settings = config::settings_path_in(platform::working_directory());
  if (!runner::check_settings_file(settings, &error)) return bad_input(error);
  config::LoadFilePath();
  config::load_settings();
  auto& slots = engine::slots();
  std::vector<int> modules;
  for (int k = 0; k < engine::kModuleCount; ++k) {
    bool wanted =
        options.modules.empty()
            ? slots[k].atPort != 0
            : std::find(options.modules.begin(), options.modules.end(), k) != options.modules.end();
    if (wanted) modules.push_back(k);
  }
  for (int k : modules)
    if (slots[k].atPort == 0)
      return bad_input(settings + ": Module" + std::to_string(k + 1) +
                       " has no AT port (set its COM number in the window, or as number= in "
                       "its ATPort section)");
  if (modules.empty())
    return bad_input(settings +
                     ": no module has an AT port (set the COM numbers in the window, or as "
                     "number= in the ATPort sections)");
  const std::string update_file = slots[modules.front()].filePath;
  if (!runner::check_update_file(update_file, &error)) return bad_input(error);
  std::error_code size_error;
  const auto update_size = std::filesystem::file_size(platform::utf8_path(update_file), size_error);

  // The ports of a new bench get their links, and a stale link is never opened.
  devices::prepare_bench_ports();
  // Every run is recorded in runs.csv with what the bench knows of its port; today's totals start
  // from the runs already recorded.
  engine::set_port_facts_provider(devices::port_facts);
  if (std::string why; !station::start_recording(&why))
    engine::debug_trace("today's runs not counted: %s: %s", station::runs_file_path().c_str(),
                        why.c_str());
  // The records also go to the line's database when one is set; one that cannot be used is said
  // once, here, and the runs go on with runs.csv as their record.
  if (std::string why; !station::start_shipping(config::load_line_record_settings(), &why))
    std::fprintf(stderr, "quillmark-run: %s\n", why.c_str());
#ifdef _WIN32
  const bool live = !options.json && ::isatty(STDOUT_FILENO) == 1 && console_redraws();
#else
  const bool live = !options.json && ::isatty(STDOUT_FILENO) == 1;
#endif
  if (!options.json) {
    std::printf("Update file: %s\n", update_file.c_str());
    std::fflush(stdout);
  }

  std::vector<runner::TerminalView::Module> shown;
  for (int k : modules) shown.push_back({k, slots[k].atPort, slots[k].sleepTime});
  runner::CallQueue loop;
  runner::TerminalView view(
      shown, options.json ? nullptr : stdout,
      live ? runner::TerminalView::Mode::live : runner::TerminalView::Mode::lines,
      live ? terminal_width() : 80);
  engine::RunHost host(view, [&loop](std::function<void()> call) { loop.post(std::move(call)); });

#ifdef _WIN32
  ::SetConsoleCtrlHandler(on_console_event, TRUE);
  HANDLE width_timer = nullptr;
  if (live) ::CreateTimerQueueTimer(&width_timer, nullptr, check_width, nullptr, 500, 500, 0);
#else
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  struct sigaction resize {};
  resize.sa_handler = on_resize;
  sigaction(SIGWINCH, &resize, nullptr);
#endif

  if (options.watch) {
    const int code = runner::watch_modules(modules, view, loop, interrupted, [&] {
      if (resized.exchange(false) && live) view.set_width(terminal_width());
      view.draw();
    });
    host.shut_down();
    if (std::string line = runner::unwritten_line(station::unwritten_records()); !line.empty())
      std::printf("%s\n", line.c_str());
    std::printf("%s\n", runner::today_line(station::day_totals().counts()).c_str());
    if (std::string line = runner::records_line(end_shipping()); !line.empty())
      std::printf("%s\n", line.c_str());
    return code;
  }

  std::vector<engine::StartOutcome> outcome(engine::kModuleCount, engine::StartOutcome::running);
  for (int k : modules) {
    view.started(k);
    outcome[k] = engine::start_module(slots[k]);
    if (outcome[k] != engine::StartOutcome::started) {
      // What stands in the way of the port, with the remedy where there is one.
      if (std::string why = runner::port_open_failure(static_cast<unsigned>(slots[k].atPort),
                                                      slots[k].hAT.open_failure());
          outcome[k] == engine::StartOutcome::port_failed && !why.empty())
        view.note("Module" + std::to_string(k + 1) + ": " + why);
      view.send_message(engine::WM_SLOT_FINISHED + static_cast<uint32_t>(k), 0, 100);
    }
  }

  bool stopping = false;
  while (!view.all_finished()) {
    loop.run_for(std::chrono::milliseconds(100));
    if (interrupted && !stopping) {
      stopping = true;  // as PAUSE: each run ends at its next check, a settling wait at once
      view.note("Interrupted: stopping the modules...");
      for (int k : modules) engine::request_stop(slots[k]);
    }
    if (resized.exchange(false) && live) view.set_width(terminal_width());
    view.draw();
  }
  view.draw();
  host.shut_down();

  // Every worker and every record of a failed START has ended: their outcomes are whole.
  bool all_passed = true;
  nlohmann::json report = {{"modules", nlohmann::json::array()}};
  int passed_count = 0;
  for (int k : modules) {
    const engine::ModuleSlot& slot = slots[k];
    const bool started = outcome[k] == engine::StartOutcome::started;
    const bool passed = started && view.result_ok(k) == 1 && slot.exitCode == engine::DL_OK;
    all_passed = all_passed && passed;
    passed_count += passed ? 1 : 0;
    // The cause is the record's; a START that neither ran nor was recorded tells its own.
    const engine::RunOutcome run = slot.notes.outcome();
    std::string cause = run.cause;
    if (outcome[k] == engine::StartOutcome::thread_failed)
      cause = "create download thread(" + std::to_string(k + 1) + ") failed!";
    if (!passed && cause.empty()) cause = "download error!";
    const std::optional<int> code = started ? std::optional<int>(slot.exitCode.load()) : run.result;
    if (!options.json)
      std::printf("%s\n",
                  runner::result_line(k + 1, slot.atPort, passed, code, cause, run.record.identity)
                      .c_str());
    auto device = platform::resolve_com_port(static_cast<unsigned>(slot.atPort));
    auto start = view.start_time(k), end = view.end_time(k);
    report["modules"].push_back({
        {"module", k + 1},
        {"com", slot.atPort},
        {"device", device ? nlohmann::json(*device) : nlohmann::json(nullptr)},
        {"file", update_file},
        {"size", update_size},
        {"result", passed ? "PASS" : "FAIL"},
        {"errcode", code ? nlohmann::json(*code) : nlohmann::json(nullptr)},
        {"cause", cause.empty() ? nlohmann::json(nullptr) : nlohmann::json(cause)},
        {"recorded", run.recorded},
        {"start", iso(start)},
        {"end", iso(end)},
        {"duration_s", std::chrono::duration<double>(end - start).count()},
        {"record", runner::record_json(run.record)},
    });
  }
  // The workers have added their recorded runs: the day's totals include this run's modules.
  const station::DayTotals::Counts today = station::day_totals().counts();
  const station::ShippingStatus records = end_shipping();
  if (!options.json) {
    if (std::string line = runner::unwritten_line(station::unwritten_records()); !line.empty())
      std::printf("%s\n", line.c_str());
    std::printf("%s\n", runner::today_line(today).c_str());
    if (std::string line = runner::records_line(records); !line.empty())
      std::printf("%s\n", line.c_str());
  }
  const int exit_code = interrupted  ? runner::kExitInterrupted
                        : all_passed ? runner::kExitPassed
                                     : runner::kExitFailed;
  if (options.json) {
    report["totals"] = {{"modules", modules.size()},
                        {"passed", passed_count},
                        {"failed", static_cast<int>(modules.size()) - passed_count},
                        {"interrupted", interrupted.load()},
                        {"exit_code", exit_code}};
    report["today"] = {{"date", today.date},
                       {"passed", today.passed},
                       {"failed", today.failed},
                       {"other", today.other}};
    report["line_records"] = runner::records_json(records);
    // A path that is not UTF-8 (a Linux file named in another encoding) cannot be JSON text: its
    // stray bytes are shown as U+FFFD rather than ending the report.
    std::printf("%s\n",
                report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  }
  return exit_code;
}

}  // namespace

#ifdef _WIN32
// The arguments arrive in UTF-16, so that a path in any language reaches the runner whole (the
// narrow ones hold only what the ANSI code page can show); inside they are UTF-8, as is everything
// the runner prints.
int wmain(int argc, wchar_t** wide_argv) {
  return platform::win::run_with_utf8_arguments(argc, wide_argv, run);
}
#else
int main(int argc, char** argv) {
  return run(argc, argv);
}
#endif
