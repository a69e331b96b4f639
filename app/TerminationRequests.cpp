#include "app/TerminationRequests.h"

#include <utility>

#include "platform/termination.h"

TerminationRequests::TerminationRequests(std::function<void()> onRequest)
    : onRequest_(std::move(onRequest)) {
  const int fd = platform::watchTerminationRequests();
  if (fd < 0) return;  // the signals keep their default action
  notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this, fd] {
    platform::takeTerminationRequests(fd);
    onRequest_();
  });
}

TerminationRequests::~TerminationRequests() {
  notifier_.reset();
  platform::stopWatchingTerminationRequests();
}
