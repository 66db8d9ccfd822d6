#include "engine/module_slot.h"

namespace engine {

std::array<ModuleSlot, kModuleCount>& slots() {
  static std::array<ModuleSlot, kModuleCount> table;
  static const bool numbered = [] {
    for (int k = 0; k < kModuleCount; ++k) table[k].index = k;
    return true;
  }();
  (void)numbered;
  return table;
}

}  // namespace engine
