#pragma once

#include <memory>

#include "tests/support/scripted_module.h"
#include "tools/simulator/simulated_module.h"

namespace testing_support {

// A simulated module behind an in-memory port on the clock in use: its replies become readable
// after their delays, a stall makes the write give up after one second, a pull-out fails the write
// at once and every operation after it.
struct SimulatedPort {
  std::shared_ptr<simulator::SimulatedModule> module;
  std::shared_ptr<ScriptedModule> port;
};

SimulatedPort make_simulated_port(simulator::Faults faults = {});

}  // namespace testing_support
