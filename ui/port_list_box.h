#pragma once

#include <QComboBox>

namespace ui {

// A port list that says when the operator opens it, before its entries are shown, so that the
// dialog can fill it with the ports present at that moment.
class PortListBox : public QComboBox {
  Q_OBJECT

 public:
  using QComboBox::QComboBox;

  void showPopup() override {
    Q_EMIT dropping_down();
    QComboBox::showPopup();
  }

 Q_SIGNALS:
  void dropping_down();
};

}  // namespace ui
