#include "engine/plug_in_start.h"

namespace engine {

namespace {

bool absent_long_enough(const std::optional<int64_t>& gone_since, int64_t now_ms) {
  return gone_since && now_ms - *gone_since >= PlugInStart::kRearmAbsenceMs;
}

}  // namespace

std::optional<int> PlugInStart::on_arrival(int32_t com, const std::string& serial, int64_t now_ms,
                                           const std::array<int32_t, kModuleCount>& at_ports,
                                           const std::array<bool, kModuleCount>& idle) {
  if (com <= 0) return std::nullopt;
  // The port of a finished run that was away long enough re-arms its module; back sooner, the
  // absence starts again at its next removal.
  for (Module& m : modules_) {
    if (m.port == com) {
      if (absent_long_enough(m.gone_since, now_ms)) {
        m.armed = true;
        m.port.reset();
      }
      m.gone_since.reset();
    }
  }
  if (!serial.empty()) {
    auto passed = passed_.find(serial);
    if (passed != passed_.end()) {
      if (!absent_long_enough(passed->second.gone_since, now_ms)) {
        passed->second.com = com;
        passed->second.gone_since.reset();
        return std::nullopt;
      }
      passed_.erase(passed);
    }
  }
  for (int k = 0; k < kModuleCount; ++k) {
    const auto i = static_cast<size_t>(k);
    if (at_ports[i] == com && idle[i] && modules_[i].armed) {
      on_run_started(k, com);
      return k;
    }
  }
  return std::nullopt;
}

void PlugInStart::on_removal(int32_t com, int64_t now_ms) {
  for (Module& m : modules_) {
    if (m.port == com && !m.gone_since) m.gone_since = now_ms;
  }
  for (auto& [serial, passed] : passed_) {
    if (passed.com == com && !passed.gone_since) passed.gone_since = now_ms;
  }
}

void PlugInStart::on_run_started(int k, int32_t com) {
  if (!valid(k)) return;
  Module& m = modules_[static_cast<size_t>(k)];
  m.armed = false;
  m.port = com;
  m.gone_since.reset();
}

// A module that went away during its run (it resets after its update) has been absent since then.
void PlugInStart::on_run_finished(int k, bool passed, const std::string& serial) {
  if (!valid(k)) return;
  const Module& m = modules_[static_cast<size_t>(k)];
  if (passed && !serial.empty() && m.port) passed_[serial] = Passed{*m.port, m.gone_since};
}

}  // namespace engine
