#pragma once

#include <windows.h>

namespace ui_win {

// Fills the drop-down lists of a dialog made from template `template_id` with the rows that the
// template gives them (the dialog's initialisation data, resource type 240, beside the template).
// Called while the dialog initialises. Returns the number of rows added; a template without rows
// adds none.
int add_template_rows(HWND dialog, int template_id, HINSTANCE module = nullptr);

}  // namespace ui_win
