#include "app/TerminationRequests.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <vector>

#include "platform/termination.h"

namespace {

const TerminationRequests* alive = nullptr;

}  // namespace

TerminationRequests::TerminationRequests() {
  alive = this;
  const int fd = platform::watchTerminationRequests();
  if (fd < 0) return;  // the signals keep their default action
  notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this, fd] {
    platform::takeTerminationRequests(fd);
    endEveryLoop();
  });
}

TerminationRequests::~TerminationRequests() {
  notifier_.reset();
  platform::stopWatchingTerminationRequests();
  alive = nullptr;
}

void TerminationRequests::endEveryLoop() {
  requested_ = true;
  // Each dialog shown ends as its Escape ends it, keeping what it keeps on
  // closing; a busy one (a walk, an import) once its command has returned.
  // Rejecting one may delete another.
  std::vector<QPointer<QDialog>> shown;
  for (QWidget* window : QApplication::topLevelWidgets()) {
    auto* dialog = qobject_cast<QDialog*>(window);
    if (dialog != nullptr && dialog->isVisible()) shown.emplace_back(dialog);
  }
  for (const QPointer<QDialog>& dialog : shown) {
    if (dialog != nullptr) dialog->reject();
  }
  // Every loop, the nested ones too.
  QCoreApplication::exit(0);
}

bool TerminationRequested() { return alive != nullptr && alive->Requested(); }
