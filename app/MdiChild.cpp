#include "app/MdiChild.h"

#include <QMdiSubWindow>

void CloseMdiChild(QWidget& form) {
  auto* frame = qobject_cast<QMdiSubWindow*>(form.parentWidget());
  if (frame != nullptr) {
    frame->close();
  } else {
    form.close();
  }
}
