#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>

#include "engine/module_slot.h"
#include "engine/run_facts.h"

namespace engine {

// Where the facts of a COM number come from: the program installs a provider before any run
// starts (the engine knows nothing of the device database). A worker calls it at the start of its
// run, on its own thread, so several may call it at once. Without one every fact is empty.
using PortFactsProvider = std::function<PortFacts(int com)>;
void set_port_facts_provider(PortFactsProvider provider);
PortFacts port_facts(int com);

// Where runs are recorded: the program installs a sink before any run starts (the engine knows
// nothing of the files the records go to). It is called on the thread that ends the run, before
// the result is sent, so several may call it at once; it tells the operator itself when a record
// could not be kept. True when the record is kept; false with the reason in words in `why`.
// Without a sink nothing is recorded.
using RecordSink =
    std::function<bool(const ModuleSlot& slot, const RunRecord& record, std::string* why)>;
void set_record_sink(RecordSink sink);

// The record of one run, kept by its worker. Made when the run begins (its start time, and the
// facts of its AT port, on the worker's thread; the slot's notes begin the run); `finish` hands
// the record to the sink when the outcome is known, before the result is sent.
class RunRecorder {
 public:
  explicit RunRecorder(ModuleSlot& slot);
  ~RunRecorder();
  RunRecorder(const RunRecorder&) = delete;
  RunRecorder& operator=(const RunRecorder&) = delete;

  // Records the run that ended with `result`, with the cause its notes give, and leaves the
  // outcome on the slot's notes. The result stands whether or not the record is kept.
  void finish(int result);

 private:
  ModuleSlot& slot_;
  std::tm start_{};
  int64_t start_ms_ = 0;
  std::string run_id_;
  PortFacts port_;
  bool finished_ = false;
};

// A START whose AT port could not be opened: no run, no result code, but a record. What the record
// needs is taken on the thread of the START, when it failed.
struct FailedStart {
  std::tm when{};
  int module = 0;
  int com = 0;
  std::string file;
  std::string why;  // the reason the opening gave
};
FailedStart failed_start(const ModuleSlot& slot);

// The cause such a START is recorded and shown with: "OpenATPort Failed!: <reason>".
std::string failed_start_cause(const std::string& why);

// Records a failed START (an empty result) and leaves its outcome on the slot's notes. Recording
// waits for the disk: the slot's own thread does it, not the window's.
void record_failed_start(ModuleSlot& slot, const FailedStart& start);

}  // namespace engine
