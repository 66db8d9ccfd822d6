#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace ui {

// Shows a message with one OK button and no icon, and returns once it is acknowledged. `owner` may
// be null (a box of its own on the task bar).
void message_box(QWidget* owner, const QString& text, const QString& caption);

// Replaces what message_box does (a test records the messages instead of showing them); an empty
// handler restores the message box. Gives the previous handler.
using MessageBoxHandler =
    std::function<void(QWidget* owner, const QString& text, const QString& caption)>;
MessageBoxHandler set_message_box_handler(MessageBoxHandler handler);

}  // namespace ui
