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
  // Every call waiting is run, in order, whichever wake-up comes first: a wake-up that is lost (an
  // event filtered out, a loop that ended) never leaves a call behind for the next one to run.
  // Calls are taken one at a time, so a call that runs an event loop of its own keeps the order.
  while (true) {
    std::function<void()> call;
    {
      std::lock_guard lock(mutex_);
      if (calls_.empty()) return;
      call = std::move(calls_.front());
      calls_.pop_front();
    }
    if (interceptor_ && !interceptor_()) continue;
    call();
  }
}

}  // namespace ui
