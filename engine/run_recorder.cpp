#include "engine/run_recorder.h"

#include <algorithm>
#include <mutex>

#include "platform/clock.h"
#include "platform/random_id.h"
#include "platform/sha256.h"

namespace engine {

namespace {

std::mutex provider_mutex;
PortFactsProvider provider;

std::mutex sink_mutex;
RecordSink sink;

// Hands the record to the sink; the outcome says whether it is kept.
RunOutcome record(const ModuleSlot& slot, const RunRecord& record) {
  RecordSink s;
  {
    std::lock_guard lock(sink_mutex);
    s = sink;
  }
  RunOutcome outcome{record.result, record.cause, false, {}, record};
  if (s)
    outcome.recorded = s(slot, record, &outcome.not_recorded);
  else
    outcome.not_recorded = "no record is kept";
  return outcome;
}

}  // namespace

void set_port_facts_provider(PortFactsProvider p) {
  std::lock_guard lock(provider_mutex);
  provider = std::move(p);
}

PortFacts port_facts(int com) {
  PortFactsProvider p;
  {
    std::lock_guard lock(provider_mutex);
    p = provider;
  }
  return p && com > 0 ? p(com) : PortFacts{};
}

void set_record_sink(RecordSink s) {
  std::lock_guard lock(sink_mutex);
  sink = std::move(s);
}

RunRecorder::RunRecorder(ModuleSlot& slot) : slot_(slot) {
  platform::Clock& clock = platform::clock();
  start_ = clock.local_time();
  start_ms_ = clock.now_ms();
  run_id_ = platform::uuid_v4();
  port_ = port_facts(slot.run.atPort);
  slot_.notes.begin_run();
  slot_.hAT.clear_failure();  // what a port of an earlier run went through is not this run's
}

RunRecorder::~RunRecorder() {
  if (!finished_) slot_.notes.finish({});
}

void RunRecorder::finish(int result) {
  if (finished_) return;
  finished_ = true;
  platform::Clock& clock = platform::clock();
  RunRecord r;
  r.run_id = run_id_;
  r.start = start_;
  r.end = clock.local_time();
  r.duration_ms = std::max<int64_t>(0, clock.now_ms() - start_ms_);
  r.module = slot_.number();
  r.com = slot_.run.atPort;
  r.port = port_;
  r.file = slot_.run.filePath;
  // The bytes the run loaded and sent, whatever the file holds by now.
  if (slot_.fileData && slot_.fileSize > 0) {
    r.size = slot_.fileSize;
    r.sha256 = platform::sha256_hex(slot_.fileData.get(), static_cast<size_t>(slot_.fileSize));
  }
  r.result = result;
  r.attempts = slot_.notes.attempts();
  r.identity = slot_.notes.identity();
  // The port is closed by now: why it did not open, or why its device failed, is kept on the
  // handle.
  r.cause = slot_.notes.cause(result, {slot_.number(), slot_.run.atPort, slot_.hAT.last_failure(),
                                       slot_.hAT.open_failure(), slot_.run.fileName});
  slot_.notes.finish(record(slot_, r));
}

FailedStart failed_start(const ModuleSlot& slot) {
  return {platform::clock().local_time(), slot.number(), slot.atPort, slot.filePath,
          slot.hAT.open_failure()};
}

std::string failed_start_cause(const std::string& why) {
  return "OpenATPort Failed!: " + (why.empty() ? std::string("the port did not open") : why);
}

void record_failed_start(ModuleSlot& slot, const FailedStart& start) {
  RunRecord r;
  r.run_id = platform::uuid_v4();
  r.start = start.when;
  r.end = start.when;
  r.module = start.module;
  r.com = start.com;
  r.port = port_facts(start.com);
  r.file = start.file;
  r.cause = failed_start_cause(start.why);
  slot.notes.finish(record(slot, r));
}

}  // namespace engine
