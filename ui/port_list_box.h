#pragma once

#include "ui/drop_down_list.h"

namespace ui {

// A port list that says when the operator opens it, before its entries are shown, so that the
// dialog can fill it with the ports present at that moment.
class PortListBox : public DropDownList {
  Q_OBJECT

 public:
  using DropDownList::DropDownList;

  void showPopup() override {
    Q_EMIT dropping_down();
    DropDownList::showPopup();
  }

 Q_SIGNALS:
  void dropping_down();
};

}  // namespace ui
