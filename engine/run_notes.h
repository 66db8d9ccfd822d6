#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "engine/run_facts.h"

namespace engine {

// What the last run of a slot ended with, as its record in the runs file gives it. The runner and
// the window show these texts, so that every program tells the same as the record.
struct RunOutcome {
  std::optional<int> result;  // the result code; none when the AT port could not be opened
  std::string cause;          // why it failed, or after what it passed; empty for a plain pass
  bool recorded = false;      // the record is in the runs file
  std::string not_recorded;   // why it is not, in words
  RunRecord record;           // every field of the record, as it was handed to be kept
};

// What the cause of a run is composed from besides the notes.
struct CauseFacts {
  int module = 0;              // 1..6, for the run's own "device<n> errcode=<code>" line
  int com = 0;                 // the AT port
  std::string device_failure;  // why the port's device failed during the run ("device gone")
  std::string open_failure;    // why the port did not open after the settling wait
  std::string file_name;       // the name the module stores the file under
};

// Whether a status text tells of a failure, rather than of a step begun or passed, or of the end
// of the run as a whole ("download error!", "device<n> errcode=<code>").
bool status_tells_failure(std::string_view status);

// The one home of a run's cause. The run notes the status lines that tell of failures as they are
// sent (the first of each attempt of the file sequence counts) and whether data went out; its
// recorder composes the cause when the run ends and leaves the outcome here until the next run.
// Thread-safe: the worker notes, any thread reads the outcome.
class RunNotes {
 public:
  // A run begins: the notes are cleared and the last outcome is forgotten.
  void begin_run();
  // The file sequence begins its retry: failures from now on belong to the second attempt.
  void begin_retry();
  // A status line of the run under way; nothing happens while none is.
  void note_status(std::string_view status);
  // Bytes of the update file are going out to the module.
  void note_data_sent();
  // What the module told of itself.
  void note_identity(ModuleIdentity identity);

  // The attempts of the file sequence in the run under way: 1, or 2 once it was retried.
  int attempts() const;
  ModuleIdentity identity() const;

  // The cause of the run under way, ended with `result`:
  // - a pass: empty, or "passed on the retry after: <first cause>" when the first attempt failed;
  // - a failure: the failure that the code names; after a retry that failed otherwise than the
  //   first attempt, both in order ("<first cause> ; retry: <second cause>"); the run's own
  //   "device<n> errcode=<code>" line when no status told of one. Then "(OpenATPort Failed!:
  //   <reason>)" when the port did not open, "(<device failure>: COM<n>)" when the port's device
  //   failed, and "; the module may hold a partial <name>" when data had gone out.
  std::string cause(int result, const CauseFacts& facts) const;

  // The run is over with `outcome`; notes are taken no more.
  void finish(RunOutcome outcome);
  RunOutcome outcome() const;

 private:
  mutable std::mutex mutex_;
  bool under_way_ = false;
  bool retried_ = false;
  std::string first_;  // the first failure of the first attempt
  std::string retry_;  // the first failure of the retry
  bool data_sent_ = false;
  ModuleIdentity identity_;
  RunOutcome outcome_;
};

}  // namespace engine
