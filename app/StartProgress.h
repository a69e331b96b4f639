// The window a start shows while the catalogue it opens rebuilds an index:
// the catalogue opens before the main window exists, and an index left
// unfinished by a program that stopped takes seconds to rebuild on a large
// catalogue, long enough for a user to think the program hung.
//
// Nothing shows unless a rebuild runs (a start after a clean close opens no
// window); then a progress window follows the engine's estimate, drawn at
// most every few tens of milliseconds, and goes with the guard.
//
// Thread rule: the interface thread, which also rebuilds (the engine ticks
// on it).
#pragma once

#include <memory>

#include "app/MessagePump.h"

struct CODE4;
class QProgressDialog;

class StartProgress {
 public:
  explicit StartProgress(CODE4& code);
  ~StartProgress();
  StartProgress(const StartProgress&) = delete;
  StartProgress& operator=(const StartProgress&) = delete;

  // Whether the window was shown (a rebuild ran).
  bool Shown() const { return dialog_ != nullptr; }

 private:
  static void tick(void* self);
  void show();

  CODE4& code_;
  std::unique_ptr<QProgressDialog> dialog_;
  ThrottledPump pump_;
};
