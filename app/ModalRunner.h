// Every modal showing of a dialog goes through RunModal, so that a test
// can drive the dialog itself (ScopedModalRunner): show it, click, type,
// and return the result the dialog ended with, with no nested event loop
// and no timer racing a real modal window.
#pragma once

#include <QDialog>
#include <functional>

// Shows `dialog` modally (QDialog::exec by default) and returns its
// result: QDialog::Accepted, QDialog::Rejected or the code given to done().
// Once the program is ending (TerminationRequested), Rejected at once.
int RunModal(QDialog& dialog);

using ModalDriver = std::function<int(QDialog&)>;

// Puts `driver` in place of QDialog::exec for the guard's lifetime. Tests
// only; guards nest.
class ScopedModalRunner {
 public:
  explicit ScopedModalRunner(ModalDriver driver);
  ~ScopedModalRunner();
  ScopedModalRunner(const ScopedModalRunner&) = delete;
  ScopedModalRunner& operator=(const ScopedModalRunner&) = delete;

 private:
  ModalDriver previous_;
};
