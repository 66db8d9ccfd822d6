#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "engine/module_slot.h"
#include "platform/virtual_clock.h"
#include "tests/support/debug_capture.h"
#include "tests/support/message_recorder.h"
#include "tests/support/scripted_module.h"

// A slot whose AT port is an in-memory module, on a virtual clock.
class ExchangeFixture : public ::testing::Test {
 protected:
  using Module = testing_support::ScriptedModule;

  void attach(Module::Responder responder) {
    module = std::make_shared<Module>(std::move(responder));
    slot.hAT.reset(module);
  }
  int64_t elapsed() { return clock.now_ms(); }

  platform::VirtualClock clock;
  platform::ScopedClock use_clock{clock};
  testing_support::MessageRecorder window;
  testing_support::DebugCapture debug;
  engine::ModuleSlot slot;
  std::shared_ptr<Module> module;

  void SetUp() override { slot.runEnabled = 1; }
};

inline constexpr const char* kOk = "\r\nOK\r\n";
inline constexpr const char* kError = "\r\nERROR\r\n";
