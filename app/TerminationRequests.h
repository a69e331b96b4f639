// While it lives, a request to end the process (SIGTERM at a logout or a
// shutdown, SIGHUP, SIGINT) is handed to the interface thread as a call,
// so that the program ends as a closed window ends it: forms saved, the
// catalogue written and closed. Without it the signal kills the process
// with the catalogue's held writes.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

class TerminationRequests : public QObject {
 public:
  explicit TerminationRequests(std::function<void()> onRequest);
  // The signals take their default action again.
  ~TerminationRequests() override;
  TerminationRequests(const TerminationRequests&) = delete;
  TerminationRequests& operator=(const TerminationRequests&) = delete;

 private:
  std::function<void()> onRequest_;
  std::unique_ptr<QSocketNotifier> notifier_;
};
