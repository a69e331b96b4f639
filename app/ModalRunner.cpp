#include "app/ModalRunner.h"

#include <utility>

#include "app/TerminationRequests.h"

namespace {

ModalDriver& replacement() {
  static ModalDriver driver;
  return driver;
}

}  // namespace

int RunModal(QDialog& dialog) {
  if (replacement()) return replacement()(dialog);
  return TerminationRequested() ? QDialog::Rejected : dialog.exec();
}

ScopedModalRunner::ScopedModalRunner(ModalDriver driver)
    : previous_(std::exchange(replacement(), std::move(driver))) {}

ScopedModalRunner::~ScopedModalRunner() { replacement() = std::move(previous_); }
