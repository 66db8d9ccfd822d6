#include "ui/call_mailbox.h"

#include <QCoreApplication>

namespace ui {

CallMailbox& CallMailbox::of_application() {
  QCoreApplication* application = QCoreApplication::instance();
  auto* mailbox = application->findChild<CallMailbox*>(QString(), Qt::FindDirectChildrenOnly);
  if (!mailbox) mailbox = new CallMailbox(application);
  return *mailbox;
}

void CallMailbox::post(std::function<void()> call) {
  {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }
  QMetaObject::invokeMethod(this, "run_posted", Qt::QueuedConnection);
}

void CallMailbox::run_posted() {
  // One call for each invocation that a post queued: calls keep their order, and each is an event
  // of its own on the window thread, as a queued call would be.
  std::function<void()> call;
  {
    std::lock_guard lock(mutex_);
    if (calls_.empty()) return;
    call = std::move(calls_.front());
    calls_.pop_front();
  }
  call();
}

}  // namespace ui
