#include "engine/storage/worker4.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>

#include "engine/storage/request4.h"
#include "platform/os.h"

namespace {

// Tells the waiting owner that the worker has taken its first step.
struct StartSignal {
  std::mutex mutex;
  std::condition_variable reported;
};

// The worker's loop: it serves its queue until it is empty, then sleeps on
// its wake event. A stop request is honoured only with the queue empty, so
// stopping drains what was queued.
void workerBody(Worker4& worker, StartSignal& signal) {
  int32_t expected = Worker4::Starting;
  const bool accepted = worker.state.compare_exchange_strong(expected, Worker4::Running);
  {
    std::lock_guard guard(signal.mutex);
  }
  signal.reported.notify_all();
  if (!accepted) return;  // abandoned by the owner: never used, only joined
  for (;;) {
    while (request4serveOne(worker, worker.reader)) {
    }
    if (worker.stopCounter.load() > 0) break;
    worker.wake.wait();
    worker.wake.reset();
  }
  worker.done.set();
}

// Waits until the worker reports or the start time-out passes by the
// platform clock; true when it reported.
bool awaitReport(Worker4& worker, StartSignal& signal) {
  const int64_t started = platform::os().steadyMillis();
  std::unique_lock lock(signal.mutex);
  for (;;) {
    if (worker.state.load() != Worker4::Starting) return worker.running();
    const int64_t left = worker4startTimeoutMs - (platform::os().steadyMillis() - started);
    if (left <= 0) return false;
    signal.reported.wait_for(lock, std::chrono::milliseconds(std::min<int64_t>(left, 100)));
  }
}

}  // namespace

bool worker4start(CODE4* /*c*/, Worker4& worker) {
  worker.stopCounter.store(0);
  worker.wake.reset();
  worker.done.reset();
  worker.state.store(Worker4::Starting);
  // The signal must outlive a worker that reports after the owner gave up,
  // so the thread shares ownership of it.
  auto signal = std::make_shared<StartSignal>();
  if (!platform::os().startThread(worker.thread,
                                  [&worker, signal] { workerBody(worker, *signal); })) {
    worker.state.store(Worker4::Stopped);
    return false;
  }
  if (awaitReport(worker, *signal)) return true;
  int32_t expected = Worker4::Starting;
  if (worker.state.compare_exchange_strong(expected, Worker4::Abandoned)) return false;
  return worker.running();  // it reported just as the wait ran out
}

void worker4stop(Worker4& worker) {
  if (worker.running()) {
    worker.stopCounter.fetch_add(1);
    worker.wake.set();
    worker.done.wait();
  }
  if (worker.thread.joinable()) worker.thread.join();
  worker.state.store(Worker4::Stopped);
}
