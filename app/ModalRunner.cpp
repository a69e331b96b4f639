#include "app/ModalRunner.h"

#include <utility>

namespace {

ModalDriver& replacement() {
  static ModalDriver driver;
  return driver;
}

}  // namespace

int RunModal(QDialog& dialog) { return replacement() ? replacement()(dialog) : dialog.exec(); }

ScopedModalRunner::ScopedModalRunner(ModalDriver driver)
    : previous_(std::exchange(replacement(), std::move(driver))) {}

ScopedModalRunner::~ScopedModalRunner() { replacement() = std::move(previous_); }
