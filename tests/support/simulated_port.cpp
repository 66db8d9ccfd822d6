#include "tests/support/simulated_port.h"

namespace testing_support {

SimulatedPort make_simulated_port(simulator::Faults faults) {
  auto module = std::make_shared<simulator::SimulatedModule>(std::move(faults));
  auto port = std::make_shared<ScriptedModule>([module](ScriptedModule& m, std::string_view block) {
    if (module->pulled_out() || module->stalled()) return m.fail_this_write(1000);
    for (auto& reply : module->receive(block)) m.reply(std::move(reply.bytes), reply.delay_ms);
    if (module->pulled_out()) {
      m.fail_this_write(0);
      m.disconnect();
    } else if (module->stalled()) {
      m.fail_this_write(1000);
    }
  });
  return {module, port};
}

}  // namespace testing_support
