#include "app/TProgramApplication.h"

#include <memory>

#include "app/LocalText.h"
#include "app/MessageBoxes.h"
#include "app/TfrmData.h"

namespace {

std::exception_ptr escaped;  // the interface thread's

}  // namespace

TProgramApplication::TProgramApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TProgramApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    // The first one is the cause; the loop is ending anyway.
    if (!escaped) escaped = std::current_exception();
    exit(1);
    return false;
  }
}

std::exception_ptr TakeEscapedException() { return std::exchange(escaped, nullptr); }

void ShowEscapedException(const char* what) {
  // The forms, and the texts of the language with them, are gone by now
  // (or not yet made): the box has the language the preferences chose all
  // the same.
  std::unique_ptr<TfrmData> texts;
  if (what == nullptr && frmData == nullptr) {
    try {
      texts = std::make_unique<TfrmData>();
    } catch (...) {
      // The program's own text stands.
    }
  }
  const QString text = what != nullptr ? QString::fromUtf8(what)
                                       : LocalText(231, QStringLiteral("Exception inconnue"));
  ShowMessageBox(text, QCoreApplication::applicationName(), BoxButtons::Ok);
}
