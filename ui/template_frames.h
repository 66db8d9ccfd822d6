#pragma once

class QWidget;

namespace ui {

// Draws every group box of `dialog` as a dialog template places it: the frame's top line runs
// through the middle of the title, half a line below the box's top, and the frame fills the box's
// rectangle. (The style would draw the title above the frame and push the frame down by a whole
// line, so that the panels' contents sit too close to its top.) Call once the dialog's font is set.
void draw_frames_as_template(QWidget* dialog);

}  // namespace ui
