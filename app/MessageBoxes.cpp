#include "app/MessageBoxes.h"

#include <QMessageBox>
#include <utility>

#include "app/TerminationRequests.h"

namespace {

BoxPresenter& replacement() {
  static BoxPresenter presenter;
  return presenter;
}

BoxAnswer showRealBox(const BoxRequest& request) {
  if (TerminationRequested()) {
    qWarning("Not shown, the program ending: %s: %s", qUtf8Printable(request.caption),
             qUtf8Printable(request.text));
    return BoxAnswer::Closed;
  }
  const QMessageBox::StandardButtons buttons =
      request.buttons == BoxButtons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok;
  QMessageBox box(QMessageBox::NoIcon, request.caption, request.text, buttons);
  box.setWindowModality(Qt::ApplicationModal);
  if (request.modality == BoxModality::System) box.setWindowFlag(Qt::WindowStaysOnTopHint);
  switch (box.exec()) {
    case QMessageBox::Ok:
      return BoxAnswer::Ok;
    case QMessageBox::Yes:
      return BoxAnswer::Yes;
    case QMessageBox::No:
      return BoxAnswer::No;
    default:
      return BoxAnswer::Closed;
  }
}

}  // namespace

BoxAnswer ShowMessageBox(const QString& text, const QString& caption, BoxButtons buttons,
                         BoxModality modality) {
  const BoxRequest request{text, caption, buttons, modality};
  return replacement() ? replacement()(request) : showRealBox(request);
}

ScopedMessageBoxes::ScopedMessageBoxes(BoxPresenter presenter)
    : previous_(std::exchange(replacement(), std::move(presenter))) {}

ScopedMessageBoxes::~ScopedMessageBoxes() { replacement() = std::move(previous_); }
