#include "tests/dialog/recording_face.h"

namespace testing_support {

std::string RecordingFace::list_text(int id) const {
  const auto found = lists.find(id);
  if (found == lists.end()) return {};
  const List& list = found->second;
  if (list.selected < 0 || list.selected >= static_cast<int>(list.entries.size())) return {};
  return list.entries[static_cast<size_t>(list.selected)];
}

bool RecordingFace::ask_yes_no(std::string_view text, std::string_view caption) {
  boxes.push_back({std::string(text), std::string(caption), dialog::BoxIcon::none,
                   dialog::BoxOwner::dialog, true});
  return answer(std::string(text));
}

std::optional<std::string> RecordingFace::pick_file(std::string_view, std::string_view folder) {
  folders_offered.emplace_back(folder);
  return pick ? pick(std::string(folder)) : std::nullopt;
}

dialog::Face::Post RecordingFace::poster() {
  return [queue = queue_](std::function<void()> call) {
    {
      std::lock_guard lock(queue->mutex);
      queue->calls.push_back(std::move(call));
    }
    queue->posted.notify_all();
  };
}

void RecordingFace::run_queued() {
  while (true) {
    std::function<void()> call;
    {
      std::lock_guard lock(queue_->mutex);
      if (queue_->calls.empty()) return;
      call = std::move(queue_->calls.front());
      queue_->calls.pop_front();
    }
    call();
  }
}

bool RecordingFace::run_until(const std::function<bool()>& done, std::chrono::milliseconds quiet) {
  auto last_call = std::chrono::steady_clock::now();
  while (!done()) {
    std::function<void()> call;
    {
      std::unique_lock lock(queue_->mutex);
      // A condition may also change without a call (a worker returning): it is looked at again
      // every few milliseconds.
      queue_->posted.wait_for(lock, std::chrono::milliseconds(5),
                              [&] { return !queue_->calls.empty(); });
      if (queue_->calls.empty()) {
        if (std::chrono::steady_clock::now() - last_call > quiet) return done();
        continue;
      }
      call = std::move(queue_->calls.front());
      queue_->calls.pop_front();
    }
    call();
    last_call = std::chrono::steady_clock::now();
  }
  return true;
}

}  // namespace testing_support
