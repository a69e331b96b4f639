#include "app/InterfaceThread.h"

#include <QCoreApplication>
#include <QObject>
#include <deque>
#include <mutex>

namespace {

void runPostedCalls();

// Lives on the interface thread; each queued invocation runs the calls
// posted. The invocation is named, so that only Qt's own code handles the
// event that carries it across threads.
class CallReceiver : public QObject {
  Q_OBJECT

 public:
  Q_INVOKABLE void runPosted() { runPostedCalls(); }
};

std::mutex mutex;                          // guards the three below
CallReceiver* receiver = nullptr;          // null when calls are dropped
std::deque<std::function<void()>> posted;  // not yet run
bool wakeUpPending = false;                // a call of `receiver` is queued

void runPostedCalls() {
  std::deque<std::function<void()>> calls;
  {
    std::lock_guard lock(mutex);
    calls.swap(posted);
    wakeUpPending = false;
  }
  for (auto& call : calls) call();
}

// Run by the application object's destructor, on the interface thread,
// before it goes: from now on calls are dropped.
void applicationGoing() {
  CallReceiver* going = nullptr;
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard lock(mutex);
    going = receiver;
    receiver = nullptr;
    dropped.swap(posted);
    wakeUpPending = false;
  }
  delete going;  // with it, its queued invocation
}

}  // namespace

void PrepareInterfaceCalls() {
  std::lock_guard lock(mutex);
  if (receiver != nullptr || QCoreApplication::instance() == nullptr) return;
  receiver = new CallReceiver;
  qAddPostRoutine(applicationGoing);
}

void PostToInterfaceThread(std::function<void()> call) {
  std::lock_guard lock(mutex);
  if (receiver == nullptr) return;  // `call` is destroyed after the lock is let go
  posted.push_back(std::move(call));
  if (wakeUpPending) return;
  wakeUpPending = true;
  QMetaObject::invokeMethod(receiver, "runPosted", Qt::QueuedConnection);
}

#include "InterfaceThread.moc"
