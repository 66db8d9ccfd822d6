#include "ui/message_box.h"

#include <QFileDialog>
#include <QMessageBox>

namespace ui {

namespace {

template <typename Handler>
Handler& installed(Handler* = nullptr) {
  static Handler handler;
  return handler;
}

template <typename Handler>
Handler replace(Handler handler) {
  Handler previous = std::move(installed<Handler>());
  installed<Handler>() = std::move(handler);
  return previous;
}

}  // namespace

void message_box(QWidget* owner, const QString& text, const QString& caption, BoxIcon icon) {
  if (const auto& handler = installed<MessageBoxHandler>()) {
    handler(owner, text, caption);
    return;
  }
  QMessageBox box(icon == BoxIcon::stop ? QMessageBox::Critical : QMessageBox::NoIcon, caption,
                  text, QMessageBox::Ok, owner);
  box.exec();
}

MessageBoxHandler set_message_box_handler(MessageBoxHandler handler) {
  return replace(std::move(handler));
}

bool ask_yes_no(QWidget* owner, const QString& text, const QString& caption) {
  if (const auto& handler = installed<QuestionHandler>()) return handler(owner, text, caption);
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, owner);
  box.setWindowModality(Qt::ApplicationModal);
  return box.exec() == QMessageBox::Yes;
}

QuestionHandler set_question_handler(QuestionHandler handler) {
  return replace(std::move(handler));
}

QString choose_existing_file(QWidget* owner, const QString& title, const QString& folder) {
  if (const auto& handler = installed<FileChoiceHandler>()) return handler(owner, title, folder);
  QFileDialog dialog(owner, title, folder, QStringLiteral("All files (*)"));
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // Read-only files are offered like any other: the file is only read.
  dialog.setOption(QFileDialog::ReadOnly, false);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  return dialog.selectedFiles().front();
}

FileChoiceHandler set_file_choice_handler(FileChoiceHandler handler) {
  return replace(std::move(handler));
}

}  // namespace ui
