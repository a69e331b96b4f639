// BusyDialog: a dialog whose long command (an export, an import) runs
// inside a button handler and lets events through while it runs.
//
// A close asked for meanwhile (the close box, Escape, a Close button) must
// not end the dialog under the running command: it is held, and carried
// out with the result asked for once the command has ended. Whenever the
// dialog does close, FormCloseQuery runs first; closing is always allowed.
#pragma once

#include <QDialog>
#include <optional>

class BusyDialog : public QDialog {
  Q_OBJECT

 public:
  using QDialog::QDialog;

  void done(int result) override;

 protected:
  // While busy, closing waits. EndBusy carries out a close held meanwhile.
  void BeginBusy() { busy_ = true; }
  void EndBusy();
  bool IsBusy() const { return busy_; }

  // Runs before the dialog closes: a dialog keeps its settings here.
  virtual void FormCloseQuery() {}

 private:
  bool busy_ = false;
  std::optional<int> heldResult_;
};
