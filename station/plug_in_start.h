#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "engine/module_slot.h"

namespace station {

// Start on plug-in: which module to start when a port arrives. A module starts only on the
// arrival of its own configured AT port, only while it is idle, and never again for the module it
// has just run, which comes back by itself after its update restarts it (anywhere between a few
// seconds and a minute later):
// - Serial rule: a USB serial number that passed on a port starts nothing on that port until a
//   module with another serial number has been seen there, or a run was started there another way
//   (START), however long it was away. Only that port: the entry never moves to another one.
// - Time rule, for everything the serial rule cannot tell apart (no serial number, one that has
//   been seen on two modules' ports at once, the same serial number after a failed run, or a run
//   whose serial number was unknown): the port re-arms only after it has been away for the
//   re-arm time.
// A module with another serial number than the last run's starts at once. Times are milliseconds
// of one clock (platform::clock()); used on one thread.
class PlugInStart {
 public:
  static constexpr int64_t kDefaultRearmMs = 60000;

  // What the caller knows of one module when a port arrives.
  struct Module {
    int32_t at_port = 0;  // its configured AT port; 0: none
    bool idle = false;    // no run under way, and a START would be taken
    std::string serial;   // the USB serial number of its AT port while present; empty otherwise
  };
  using Modules = std::array<Module, engine::kModuleCount>;

  // The answer to an arrival: a module to start, or the module that stays waiting and why.
  struct Verdict {
    std::optional<int> start;
    std::optional<int> waiting;
    std::string why;  // for `waiting`: the text for its status line
  };

  explicit PlugInStart(int64_t rearm_ms = kDefaultRearmMs) : rearm_ms_(rearm_ms) {}
  void set_rearm_ms(int64_t rearm_ms) { rearm_ms_ = rearm_ms; }
  int64_t rearm_ms() const { return rearm_ms_; }

  // Port `com` arrived with USB serial number `serial` (empty when unknown).
  Verdict on_arrival(int32_t com, const std::string& serial, int64_t now_ms,
                     const Modules& modules);
  // Port `com` went away.
  void on_removal(int32_t com, int64_t now_ms);
  // Module k started a run on port `com` with USB serial number `serial`, by plug-in or any other
  // way: the port is disarmed until one of the rules re-arms it.
  void on_run_started(int k, int32_t com, const std::string& serial);
  // Module k's run ended at local time `ended`. False when no run of module k was under way (a
  // START whose trial opening failed sends a result too).
  bool on_run_finished(int k, bool passed, const std::tm& ended);

  // Whether module k has a run under way whose result has not come yet.
  bool running(int k) const { return valid(k) && run_ports_[static_cast<size_t>(k)].has_value(); }

 private:
  static bool valid(int k) { return k >= 0 && k < engine::kModuleCount; }
  struct Port {
    bool armed = true;
    std::string serial;  // of the last run on the port; empty when unknown
    bool passed = false;
    std::tm ended{};
    std::optional<int64_t> gone_since;  // away since then, after the last run began
  };
  // Why a disarmed port stays disarmed at this arrival; empty when it re-arms.
  std::string rule_out(Port& port, int32_t com, const std::string& serial, int64_t now_ms);

  int64_t rearm_ms_;
  std::map<int32_t, Port> ports_;  // ports that had a run
  std::array<std::optional<int32_t>, engine::kModuleCount>
      run_ports_{};                       // the port of each run under way
  std::set<std::string> shared_serials_;  // seen on two modules' ports at once
};

}  // namespace station
