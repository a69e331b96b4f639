// While it lives, a request to end the process (SIGTERM at a logout or a
// shutdown, SIGHUP, SIGINT) is handed to the interface thread, where it
// ends the program whatever is open: every dialog shown (a message box, a
// modal dialog, one over another) is rejected as its Escape would reject
// it, every event loop ends (the application's with code 0), and from then
// on no box or dialog waits for an answer (ShowMessageBox and RunModal
// return at once), so that one raised while the program ends - a database
// error of the closing catalogue - cannot hold the process either. The
// owner then closes its main window as a user would (Requested()), once
// the code the request interrupted has returned, so that the forms are
// saved and the catalogue written and closed. Without it the signal kills
// the process with the catalogue's held writes.
//
// Thread rule: the interface thread only; one lives at a time.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

class TerminationRequests : public QObject {
 public:
  TerminationRequests();
  // The signals take their default action again.
  ~TerminationRequests() override;
  TerminationRequests(const TerminationRequests&) = delete;
  TerminationRequests& operator=(const TerminationRequests&) = delete;

  // A request came.
  bool Requested() const { return requested_; }

 private:
  void endEveryLoop();

  bool requested_ = false;
  std::unique_ptr<QSocketNotifier> notifier_;
};

// Whether a request came to the TerminationRequests alive: the program is
// ending, and shows nothing that would wait for an answer.
bool TerminationRequested();
