// Every message box of the program goes through ShowMessageBox, so that a
// test can answer it (ScopedMessageBoxes) instead of a person.
//
// The program's own notices and questions are "system modal" boxes without
// an owner window: here a box with no parent that blocks the whole
// application and stays above its other windows. The database error box
// is a plain box: no parent, modal, but not kept on top.
#pragma once

#include <QString>
#include <functional>

enum class BoxButtons { Ok, YesNo };
enum class BoxModality { System, Plain };
enum class BoxAnswer { Ok, Yes, No, Closed };

struct BoxRequest {
  QString text;
  QString caption;
  BoxButtons buttons = BoxButtons::Ok;
  BoxModality modality = BoxModality::System;
};

// Shows the box and returns the button chosen (Closed when the box went
// away without one). Once the program is ending (TerminationRequested),
// nobody is there to answer: the text goes to the standard error stream
// instead, and the answer is Closed.
BoxAnswer ShowMessageBox(const QString& text, const QString& caption, BoxButtons buttons,
                         BoxModality modality = BoxModality::System);

using BoxPresenter = std::function<BoxAnswer(const BoxRequest&)>;

// Puts `presenter` in place of the real boxes for the guard's lifetime.
// Tests only; guards nest.
class ScopedMessageBoxes {
 public:
  explicit ScopedMessageBoxes(BoxPresenter presenter);
  ~ScopedMessageBoxes();
  ScopedMessageBoxes(const ScopedMessageBoxes&) = delete;
  ScopedMessageBoxes& operator=(const ScopedMessageBoxes&) = delete;

 private:
  BoxPresenter previous_;
};
