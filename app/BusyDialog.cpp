#include "app/BusyDialog.h"

#include <utility>

void BusyDialog::done(int result) {
  if (busy_) {
    heldResult_ = result;
    return;
  }
  FormCloseQuery();
  QDialog::done(result);
}

void BusyDialog::EndBusy() {
  busy_ = false;
  if (const std::optional<int> held = std::exchange(heldResult_, std::nullopt)) done(*held);
}
