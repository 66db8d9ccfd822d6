#pragma once

#include <QEvent>
#include <QImage>
#include <QObject>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace testing_support {

// What the screen shows where `widget` is, read from the window's backing store: unlike
// QWidget::grab() it does not paint the widget again, so it shows what the widget last painted.
inline QImage on_screen(const QWidget& widget, const QRect& part) {
  const QWidget* window = widget.window();
  const QPoint origin = widget.mapTo(window, part.topLeft());
  const QPixmap pixels = window->windowHandle()->screen()->grabWindow(
      window->winId(), origin.x(), origin.y(), part.width(), part.height());
  return pixels.toImage().convertToFormat(QImage::Format_RGB32);
}
inline QImage on_screen(const QWidget& widget) {
  return on_screen(widget, widget.rect());
}

// Counts the paint events that reach one widget.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget& widget) { widget.installEventFilter(this); }
  int count() const { return count_; }
  void reset() { count_ = 0; }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++count_;
    return false;
  }

 private:
  int count_ = 0;
};

}  // namespace testing_support
