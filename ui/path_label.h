#pragma once

#include <QFontMetrics>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>

namespace ui {

// A label that shows a path whole when it fits, and otherwise with its middle left out
// ("/home/op/…/quillmark"), as a Windows static control with the path-ellipsis style does: the end
// of a path tells the most. text() keeps the whole path.
class PathLabel : public QLabel {
  Q_OBJECT

 public:
  explicit PathLabel(QWidget* parent = nullptr) : QLabel(parent) {}

  // The text as it is drawn in the label's width.
  QString shown_text() const {
    return QFontMetrics(font()).elidedText(text(), Qt::ElideMiddle, contentsRect().width());
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.drawText(contentsRect(), static_cast<int>(alignment()) | Qt::TextSingleLine,
                     shown_text());
  }
};

}  // namespace ui
