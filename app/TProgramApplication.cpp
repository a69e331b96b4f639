#include "app/TProgramApplication.h"

#include "app/MessageBoxes.h"

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
  const QString text =
      what != nullptr ? QString::fromUtf8(what) : QStringLiteral("Unknown exception");
  ShowMessageBox(text, QCoreApplication::applicationName(), BoxButtons::Ok);
}
