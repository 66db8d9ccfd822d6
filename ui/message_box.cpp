#include "ui/message_box.h"

#include <QMessageBox>

namespace ui {

namespace {
MessageBoxHandler& installed_handler() {
  static MessageBoxHandler handler;
  return handler;
}
}  // namespace

void message_box(QWidget* owner, const QString& text, const QString& caption) {
  if (const MessageBoxHandler& handler = installed_handler()) {
    handler(owner, text, caption);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, owner);
  box.exec();
}

MessageBoxHandler set_message_box_handler(MessageBoxHandler handler) {
  MessageBoxHandler previous = std::move(installed_handler());
  installed_handler() = std::move(handler);
  return previous;
}

}  // namespace ui
