#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/module_slot.h"

namespace engine {

// Start on plug-in: which module to start when a port arrives. A module starts only on the
// arrival of its own configured AT port, only while it is idle, and never twice for one plug-in:
// after a run it re-arms only once its port has been absent for at least kRearmAbsenceMs (a module
// that resets and comes back after its update, or a glitch on the bus, does not start it again),
// and a USB serial number that just passed never starts a run anywhere before it has been absent
// that long. Times are milliseconds of one clock (platform::clock()); used on one thread.
class PlugInStart {
 public:
  static constexpr int64_t kRearmAbsenceMs = 3000;

  // The module (0..5) to start now that port `com` arrived with USB serial number `serial`
  // (empty when unknown), given each module's configured AT port and whether it is idle; nothing
  // when no module may start.
  std::optional<int> on_arrival(int32_t com, const std::string& serial, int64_t now_ms,
                                const std::array<int32_t, kModuleCount>& at_ports,
                                const std::array<bool, kModuleCount>& idle);
  // Port `com` went away.
  void on_removal(int32_t com, int64_t now_ms);
  // Module k started a run on port `com`, by plug-in or any other way (on_arrival calls it for
  // its own starts): the module is disarmed until that port has been away long enough.
  void on_run_started(int k, int32_t com);
  // Module k's run ended; `serial` is its port's USB serial number (empty: unknown).
  void on_run_finished(int k, bool passed, const std::string& serial);

  // Whether module k would start on the arrival of its port (the panel says it waits).
  bool armed(int k) const { return valid(k) && modules_[static_cast<size_t>(k)].armed; }

 private:
  static bool valid(int k) { return k >= 0 && k < kModuleCount; }
  struct Module {
    bool armed = true;
    std::optional<int32_t> port;  // the port of its last run, watched for its absence
    std::optional<int64_t> gone_since;
  };
  struct Passed {
    int32_t com = 0;  // the port it passed on
    std::optional<int64_t> gone_since;
  };
  std::array<Module, kModuleCount> modules_{};
  std::map<std::string, Passed> passed_;  // USB serial numbers that just passed
};

}  // namespace engine
