#include "station/plug_in_start.h"

#include <utility>

namespace station {

namespace {

std::string hours_minutes(const std::tm& t) {
  char text[16];
  if (std::strftime(text, sizeof text, "%H:%M", &t) == 0) return "?";
  return text;
}

std::string com_name(int32_t com) {
  return "COM" + std::to_string(com);
}

}  // namespace

PlugInStart::Verdict PlugInStart::on_arrival(int32_t com, const std::string& serial, int64_t now_ms,
                                             const Modules& modules) {
  if (com <= 0) return {};
  // The same serial number on another module's port at the same time: it is the model's, not the
  // module's, and can no longer tell one module from another.
  if (!serial.empty()) {
    for (const Module& m : modules)
      if (m.at_port > 0 && m.at_port != com && m.serial == serial) shared_serials_.insert(serial);
  }
  std::string why;
  if (auto port = ports_.find(com); port != ports_.end() && !port->second.armed)
    why = rule_out(port->second, com, serial, now_ms);
  for (int k = 0; k < engine::kModuleCount; ++k) {
    const Module& m = modules[static_cast<size_t>(k)];
    if (m.at_port != com) continue;
    if (!m.idle) return {};
    if (!why.empty()) return {std::nullopt, k, why};
    return {k, std::nullopt, {}};
  }
  return {};
}

std::string PlugInStart::rule_out(Port& port, int32_t com, const std::string& serial,
                                  int64_t now_ms) {
  // Back sooner than the re-arm time, the absence counts again from its next removal.
  const std::optional<int64_t> gone_since = std::exchange(port.gone_since, std::nullopt);
  if (!serial.empty() && !port.serial.empty() && serial != port.serial) {
    port.armed = true;  // a module that did not have the last run here
    return {};
  }
  if (!serial.empty() && serial == port.serial && port.passed && !shared_serials_.count(serial))
    return "Waiting for another module on " + com_name(com) + ": this one passed at " +
           hours_minutes(port.ended);
  const int64_t away_ms = gone_since ? now_ms - *gone_since : 0;
  if (gone_since && away_ms >= rearm_ms_) {
    port.armed = true;
    return {};
  }
  return "Waiting: " + com_name(com) + " must be away for " + std::to_string(rearm_ms_ / 1000) +
         " s after a run (back after " + std::to_string(away_ms / 1000) + " s)";
}

void PlugInStart::on_removal(int32_t com, int64_t now_ms) {
  auto port = ports_.find(com);
  if (port != ports_.end() && !port->second.gone_since) port->second.gone_since = now_ms;
}

void PlugInStart::on_run_started(int k, int32_t com, const std::string& serial) {
  if (!valid(k) || com <= 0) return;
  Port& port = ports_[com];
  port = Port{};
  port.armed = false;
  port.serial = serial;
  run_ports_[static_cast<size_t>(k)] = com;
}

// A module that went away during its run (it restarts after its update) has been away since then.
bool PlugInStart::on_run_finished(int k, bool passed, const std::tm& ended) {
  if (!valid(k) || !run_ports_[static_cast<size_t>(k)]) return false;
  Port& port = ports_[*run_ports_[static_cast<size_t>(k)]];
  port.passed = passed;
  port.ended = ended;
  run_ports_[static_cast<size_t>(k)].reset();
  return true;
}

}  // namespace station
