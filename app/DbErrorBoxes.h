// The database error box: while a ScopedDbErrorBoxes lives, every message
// of the catalogue's error hook, and every change the catalogue refuses, is
// shown in a plain box with an OK button.
//
// The hook runs in the middle of an engine call. A box shown there would
// run an event loop that paints, and takes clicks, and so calls the engine
// again before the first call has finished. So a message is only queued
// there, and shown from the event loop once the call has returned; one box
// at a time, in the order the errors came, a message that comes while a
// box is open waiting for it to close. The errors of other threads join
// the queue at the same moments.
//
// Thread rule: the interface thread only (the thread that started the
// engine, on which the hook hands its messages over).
#pragma once

#include "catalog/Cataloguenotices.h"
#include "catalog/Cberrorhook.h"

class ScopedDbErrorBoxes {
 public:
  ScopedDbErrorBoxes();
  // Shows the messages still queued (the catalogue's last ones, when it
  // closed), then puts the previous presenter back.
  ~ScopedDbErrorBoxes();
  ScopedDbErrorBoxes(const ScopedDbErrorBoxes&) = delete;
  ScopedDbErrorBoxes& operator=(const ScopedDbErrorBoxes&) = delete;

 private:
  DbErrorPresenter previous_;
  TChangeRefusalPresenter previousRefusals_;
};
