#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dialog {

// The icon of a message box.
enum class BoxIcon { none, stop };

// Who owns a message box: the main dialog, or nobody (a box of its own on the task bar).
enum class BoxOwner { dialog, none };

// The dialog's timers.
enum class Timer {
  all_start,  // the next module of an ALL START sequence
  totals,     // today's totals are looked at again (runs recorded elsewhere, a new day)
};

// What a window system does for the main dialog: the dialog's behaviour (dialog::MainDialog) drives
// its controls through this interface and nothing else, so that the same behaviour runs behind a Qt
// window, a Win32 dialog and a test's recording face. Controls are addressed by their numbers in
// the template (dialog/control_table.h). Texts are UTF-8. Every call comes on the window thread.
class Face {
 public:
  virtual ~Face() = default;

  // The text of a control: a button's caption, a status line, the path box, a label.
  virtual void set_text(int id, std::string_view text) = 0;
  // The text shown when the pointer rests on a control; empty: none.
  virtual void set_tooltip(int id, std::string_view text) = 0;
  virtual void enable_control(int id, bool enabled) = 0;
  virtual void show_control(int id, bool visible) = 0;
  virtual void set_checked(int id, bool checked) = 0;

  // A drop-down list's entries, in the order given (the face never sorts them), and the entry
  // selected (-1: none). Changing a list from here is never taken for the operator's choice.
  virtual void set_list(int id, const std::vector<std::string>& entries, int selected) = 0;
  virtual void select_in_list(int id, int index) = 0;

  // A progress bar's position, 0..100; the bar repaints when its filled width changes.
  virtual void set_bar(int id, int position) = 0;
  // A result picture takes the bitmap `bitmap` for every state, without being shown.
  virtual void set_picture(int id, int bitmap) = 0;
  // A result picture is made visible with the bitmap `bitmap` in every state, and redrawn.
  virtual void show_picture(int id, int bitmap) = 0;

  // A message with an OK button; returns once it is acknowledged.
  virtual void message(std::string_view text, std::string_view caption, BoxIcon icon,
                       BoxOwner owner) = 0;
  // A question with a question icon and the buttons Yes and No; true for Yes.
  virtual bool ask_yes_no(std::string_view text, std::string_view caption) = 0;
  // The system's dialog that picks an existing file, starting in `folder`; nothing when cancelled.
  virtual std::optional<std::string> pick_file(std::string_view title, std::string_view folder) = 0;
  // Runs the login dialog until it ends; true when it ended with IDOK (the password was typed).
  virtual bool run_login() = 0;

  // Starts (or restarts) a single-shot timer; its end comes back as MainDialog::on_timer.
  virtual void start_timer(Timer timer, int ms) = 0;
  virtual void stop_timer(Timer timer) = 0;

  // The function that queues a call to run later on the window thread. The workers' notifications
  // reach the dialog this way: it is called from any thread, and may be called after the face is
  // gone (a call that comes too late then runs nowhere, or runs and does nothing).
  using Post = std::function<void(std::function<void()>)>;
  virtual Post poster() = 0;

  // The close rule let the dialog end: the window goes away.
  virtual void end_dialog() = 0;

  // Module k's worker was started (tests and benchmarks watch it).
  virtual void on_run_started(int /*k*/) {}
};

}  // namespace dialog
