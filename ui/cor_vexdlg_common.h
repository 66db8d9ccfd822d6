#pragma once

// What the main dialog's source files share.

#include <QString>
#include <cstdint>

#include "engine/module_slot.h"

namespace ui {

inline const QString kStart = QStringLiteral("START");
inline const QString kPause = QStringLiteral("PAUSE");

inline bool valid_module(int k) {
  return k >= 0 && k < engine::kModuleCount;
}

// A port list entry: "COM" and the number in decimal.
inline QString port_entry_text(uint32_t n) {
  return QStringLiteral("COM%1").arg(n);
}

}  // namespace ui
