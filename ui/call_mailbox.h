#pragma once

#include <QObject>
#include <deque>
#include <functional>
#include <mutex>

namespace ui {

// Carries calls from worker threads to the window thread. A call is kept under a mutex and the
// window thread is woken by a queued invocation that carries no data of its own; it then takes the
// calls under the same mutex, all that are waiting. The hand-over is therefore ordered by the mutex
// alone, which the thread checker sees, not by the event queue's inner locking, which it cannot
// see.
class CallMailbox final : public QObject {
  Q_OBJECT

  using QObject::QObject;

 public:
  // The mailbox of the application's window thread: a child of the application object, so it
  // outlives every dialog and every call that a worker may still have in flight.
  static CallMailbox& of_application();

  // From any thread.
  void post(std::function<void()> call);

  // A test's look at each call, on the window thread, just before it runs; a false answer keeps the
  // call from ever running (as when the event loop has ended). Empty: none. On the window thread.
  using Interceptor = std::function<bool()>;
  void set_interceptor(Interceptor interceptor) { interceptor_ = std::move(interceptor); }

 private Q_SLOTS:
  void run_posted();

 private:
  std::mutex mutex_;
  std::deque<std::function<void()>> calls_;
  Interceptor interceptor_;
};

}  // namespace ui
