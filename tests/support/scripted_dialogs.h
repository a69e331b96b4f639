// Test stand-ins for the message boxes and modal dialogs of the program
// (app/MessageBoxes.h, app/ModalRunner.h): no real modal window, no timer.
#pragma once

#include <QDialog>
#include <deque>
#include <functional>
#include <vector>

#include "app/MessageBoxes.h"
#include "app/ModalRunner.h"

// Answers every box with the next answer given (Closed once they are used
// up) and keeps what each box said.
class ScriptedMessageBoxes {
 public:
  explicit ScriptedMessageBoxes(std::vector<BoxAnswer> answers = {});

  const std::vector<BoxRequest>& Shown() const { return shown_; }

 private:
  std::deque<BoxAnswer> answers_;
  std::vector<BoxRequest> shown_;
  ScopedMessageBoxes scope_;
};

// Runs every modal dialog by showing it and handing it to `script`, which
// clicks and types as a user would; the dialog's result at the end is the
// result of the showing (a script that ends nothing gives Rejected).
class ScriptedModals {
 public:
  explicit ScriptedModals(std::function<void(QDialog&)> script);

  int Count() const { return count_; }

 private:
  std::function<void(QDialog&)> script_;
  int count_ = 0;
  ScopedModalRunner scope_;
};
