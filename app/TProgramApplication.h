// TProgramApplication: the program's application object.
//
// An exception cannot travel through Qt's event loop. One that escapes an
// event handler stops here: the loop ends with exit code 1, and the entry
// routine takes the exception up (TakeEscapedException) to show it once
// the forms are gone, as it shows one that escapes their creation.
#pragma once

#include <QApplication>
#include <exception>

class TProgramApplication : public QApplication {
  Q_OBJECT

 public:
  TProgramApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;
};

// The exception that ended the event loop, or null; the call clears it.
std::exception_ptr TakeEscapedException();

// Shows the text of an escaped exception (null: an exception of unknown
// kind), captioned with the application's name.
void ShowEscapedException(const char* what);
