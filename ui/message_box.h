#pragma once

#include <QString>
#include <functional>

// The program's boxes and dialogs that wait for the operator, each with a seam through which a
// test answers instead.

class QWidget;

namespace ui {

enum class BoxIcon { none, stop };

// Shows a message with one OK button (and no icon unless one is given), and returns once it is
// acknowledged. `owner` may be null (a box of its own on the task bar).
void message_box(QWidget* owner, const QString& text, const QString& caption,
                 BoxIcon icon = BoxIcon::none);

// Replaces what message_box does (a test records the messages instead of showing them); an empty
// handler restores the message box. Gives the previous handler.
using MessageBoxHandler =
    std::function<void(QWidget* owner, const QString& text, const QString& caption)>;
MessageBoxHandler set_message_box_handler(MessageBoxHandler handler);

// Asks a question with a question icon and the buttons Yes and No; true for Yes. The box blocks
// every window of the program until it is answered.
bool ask_yes_no(QWidget* owner, const QString& text, const QString& caption);

// Replaces what ask_yes_no does (a test answers instead of the operator); an empty handler
// restores the box. Gives the previous handler.
using QuestionHandler =
    std::function<bool(QWidget* owner, const QString& text, const QString& caption)>;
QuestionHandler set_question_handler(QuestionHandler handler);

// Lets the operator pick an existing file, starting in `folder`; empty when cancelled.
QString choose_existing_file(QWidget* owner, const QString& title, const QString& folder);

// Replaces the file dialog of choose_existing_file (a test picks instead of the operator); an
// empty handler restores the dialog. Gives the previous handler.
using FileChoiceHandler =
    std::function<QString(QWidget* owner, const QString& title, const QString& folder)>;
FileChoiceHandler set_file_choice_handler(FileChoiceHandler handler);

}  // namespace ui
