#pragma once

// The template's controls as the Qt window names them: the control table of dialog/, with object
// names as Qt strings.

#include <QString>

#include "dialog/control_table.h"

namespace ui {

using dialog::control_table;
using dialog::ControlEntry;
using dialog::ControlRole;
using dialog::find_control;
using dialog::kControlCount;
using dialog::kStaticId;
using dialog::station_controls;

inline QString object_name(ControlRole role, int module) {
  return QString::fromStdString(dialog::object_name(role, module));
}
inline QString object_name(const ControlEntry& entry) {
  return QString::fromStdString(dialog::object_name(entry));
}

}  // namespace ui
