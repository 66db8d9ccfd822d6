#pragma once

#include <QComboBox>
#include <QWheelEvent>

namespace ui {

// A drop-down list whose choice changes only when the operator picks from its opened list or uses
// the keys while it has the focus. A wheel turned over it never changes it, focused or not: the
// pointer may rest on a list while the operator scrolls, and a changed port list asks a question
// whose default answer would take the port from another module. Nor does the wheel give it focus.
class DropDownList : public QComboBox {
  Q_OBJECT

 public:
  explicit DropDownList(QWidget* parent = nullptr) : QComboBox(parent) {
    setFocusPolicy(Qt::StrongFocus);
  }

 protected:
  void wheelEvent(QWheelEvent* event) override { event->ignore(); }
};

}  // namespace ui
