#pragma once

#include "engine/run_recorder.h"

namespace devices {

// What the bench knows of COM<com>, for the record of a run: the device its link leads to (resolved
// as an opening resolves it), and udev's ID_PATH and ID_SERIAL_SHORT of that device where udev
// knows them (a pseudo-terminal has neither). Every call uses a udev context of its own, so the
// workers may call it at the same time. Install it with
// engine::set_port_facts_provider(devices::port_facts).
engine::PortFacts port_facts(int com);

}  // namespace devices
