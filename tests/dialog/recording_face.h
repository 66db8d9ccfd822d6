#pragma once

// A face without any window system: it keeps what the dialog shows (texts, states, lists, bars,
// pictures), records every box the dialog opens and answers it as the test says, and queues the
// workers' calls until the test runs them on its own thread, the window thread of these tests.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dialog/face.h"

namespace testing_support {

class RecordingFace final : public dialog::Face {
 public:
  struct Box {
    std::string text;
    std::string caption;
    dialog::BoxIcon icon = dialog::BoxIcon::none;
    dialog::BoxOwner owner = dialog::BoxOwner::dialog;
    bool question = false;
  };
  struct List {
    std::vector<std::string> entries;
    int selected = -1;
  };

  // What the controls show. A control never touched is enabled and visible unless the test's
  // initial states say otherwise (set them from the control table).
  std::map<int, std::string> texts;
  std::map<int, std::string> tooltips;
  std::map<int, bool> enabled;
  std::map<int, bool> visible;
  std::map<int, bool> checked;
  std::map<int, List> lists;
  std::map<int, int> bars;
  std::map<int, int> pictures;  // the bitmap each result picture holds
  std::vector<Box> boxes;
  std::map<dialog::Timer, int> timers;  // running timers and their intervals
  bool ended = false;
  std::vector<int> started;  // modules whose worker was started, in order

  // Answers: to questions (Yes unless set), file dialogs (cancelled unless set), the login.
  std::function<bool(const std::string& text)> answer = [](const std::string&) { return true; };
  std::function<std::optional<std::string>(const std::string& folder)> pick;
  std::vector<std::string> folders_offered;
  bool login_ok = false;

  // The text a list shows: its selected entry, or empty.
  std::string list_text(int id) const;

  // Runs the workers' calls queued so far and those that come, until `done()` holds; false when
  // nothing came for `quiet` (the bound only turns a wait that can never end into a failure).
  bool run_until(const std::function<bool()>& done,
                 std::chrono::milliseconds quiet = std::chrono::seconds(60));
  // Runs the calls queued now, without waiting.
  void run_queued();

  void set_text(int id, std::string_view text) override { texts[id] = text; }
  void set_tooltip(int id, std::string_view text) override { tooltips[id] = text; }
  void enable_control(int id, bool on) override { enabled[id] = on; }
  void show_control(int id, bool on) override { visible[id] = on; }
  void set_checked(int id, bool on) override { checked[id] = on; }
  void set_list(int id, const std::vector<std::string>& entries, int selected) override {
    lists[id] = {entries, selected};
  }
  void select_in_list(int id, int index) override { lists[id].selected = index; }
  void set_bar(int id, int position) override { bars[id] = position; }
  void set_picture(int id, int bitmap) override { pictures[id] = bitmap; }
  void show_picture(int id, int bitmap) override {
    pictures[id] = bitmap;
    visible[id] = true;
  }
  void message(std::string_view text, std::string_view caption, dialog::BoxIcon icon,
               dialog::BoxOwner owner) override {
    boxes.push_back({std::string(text), std::string(caption), icon, owner, false});
  }
  bool ask_yes_no(std::string_view text, std::string_view caption) override;
  std::optional<std::string> pick_file(std::string_view title, std::string_view folder) override;
  bool run_login() override { return login_ok; }
  void start_timer(dialog::Timer timer, int ms) override { timers[timer] = ms; }
  void stop_timer(dialog::Timer timer) override { timers.erase(timer); }
  Post poster() override;
  void end_dialog() override { ended = true; }
  void on_run_started(int k) override { started.push_back(k); }

 private:
  struct Queue {
    std::mutex mutex;
    std::condition_variable posted;
    std::deque<std::function<void()>> calls;
  };
  std::shared_ptr<Queue> queue_ = std::make_shared<Queue>();
};

}  // namespace testing_support
