#include "ui/template_frames.h"

#include <QFontMetrics>
#include <QGroupBox>

namespace ui {

void draw_frames_as_template(QWidget* dialog) {
  const QFontMetrics metrics(dialog->font());
  // The title sits on the frame line, a little in from the frame's left end, on the dialog's
  // background, which interrupts the line behind it.
  const QString sheet = QStringLiteral(
                            "QGroupBox { border: 1px solid palette(mid); margin-top: %1px; }"
                            "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: "
                            "top left; left: %2px; padding: 0px 2px; "
                            "background-color: palette(window); }")
                            .arg(metrics.height() / 2)
                            .arg(metrics.averageCharWidth());
  for (QGroupBox* group : dialog->findChildren<QGroupBox*>()) group->setStyleSheet(sheet);
}

}  // namespace ui
