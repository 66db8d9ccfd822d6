#include "engine/run_notes.h"

#include <algorithm>

#include "engine/module_slot.h"

namespace engine {

namespace {

// A status text on one line: line ends inside become blanks, trailing blanks go.
std::string one_line(std::string_view text) {
  std::string s(text);
  std::replace(s.begin(), s.end(), '\r', ' ');
  std::replace(s.begin(), s.end(), '\n', ' ');
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace

bool status_tells_failure(std::string_view status) {
  const std::string s = one_line(status);
  return !s.empty() && s != "Prepare to download, please wait..." &&
         s != "Start downloading file..." && s != "download success!" && s != "download error!" &&
         s.rfind("Byte count match successful", 0) != 0 &&
         !(s.rfind("device", 0) == 0 && s.find("errcode=") != std::string::npos);
}

void RunNotes::begin_run() {
  std::lock_guard lock(mutex_);
  under_way_ = true;
  retried_ = false;
  first_.clear();
  retry_.clear();
  data_sent_ = false;
  identity_ = {};
  outcome_ = RunOutcome{};
}

void RunNotes::begin_retry() {
  std::lock_guard lock(mutex_);
  retried_ = true;
}

void RunNotes::note_status(std::string_view status) {
  if (!status_tells_failure(status)) return;
  std::lock_guard lock(mutex_);
  std::string& first = retried_ ? retry_ : first_;
  if (under_way_ && first.empty()) first = one_line(status);
}

void RunNotes::note_data_sent() {
  std::lock_guard lock(mutex_);
  data_sent_ = data_sent_ || under_way_;
}

void RunNotes::note_identity(ModuleIdentity identity) {
  std::lock_guard lock(mutex_);
  if (under_way_) identity_ = std::move(identity);
}

int RunNotes::attempts() const {
  std::lock_guard lock(mutex_);
  return retried_ ? 2 : 1;
}

ModuleIdentity RunNotes::identity() const {
  std::lock_guard lock(mutex_);
  return identity_;
}

std::string RunNotes::cause(int result, const CauseFacts& facts) const {
  std::lock_guard lock(mutex_);
  if (result == DL_OK)
    return retried_ && !first_.empty() ? "passed on the retry after: " + first_ : "";
  std::string cause = !retried_ || retry_.empty()          ? first_
                      : first_.empty() || first_ == retry_ ? retry_
                                                           : first_ + " ; retry: " + retry_;
  if (cause.empty())
    cause = "device" + std::to_string(facts.module) + " errcode=" + std::to_string(result);
  if (!facts.open_failure.empty()) cause += " (OpenATPort Failed!: " + facts.open_failure + ")";
  if (!facts.device_failure.empty())
    cause += " (" + facts.device_failure + ": COM" + std::to_string(facts.com) + ")";
  if (data_sent_) cause += "; the module may hold a partial " + facts.file_name;
  return cause;
}

void RunNotes::finish(RunOutcome outcome) {
  std::lock_guard lock(mutex_);
  under_way_ = false;
  outcome_ = std::move(outcome);
}

RunOutcome RunNotes::outcome() const {
  std::lock_guard lock(mutex_);
  return outcome_;
}

}  // namespace engine
