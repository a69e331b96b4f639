// The catalogue's answer to every engine error: a message naming the error
// code and the place, shown to the user, after which the error is cleared
// so that the next engine call is not refused.
//
// The catalogue never touches the user interface itself: the program
// installs a presenter that shows the message (a plain box with an OK
// button); until it does, the message goes to the standard error stream.
// Errors raised without a settings object show nothing. The engine calls
// the hook on the thread that owns the settings object only: an error
// raised on a worker waits in the settings object until the owner's next
// engine call, or PresentPendingDbErrors, raises it there.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalog/Cataloguenotices.h"

struct CODE4;
struct Disk4Failure;

// What the user is told of a disk call of the engine that failed: a read
// (an open of an existing file too), a write (a creation, a length, room,
// a rename, a removal too), or a sync.
TDiskFailure DiskFailureOf(const Disk4Failure& failure);

// Shows `text` under `caption`, both Windows-1252 bytes; returns when the
// user has closed the message. Called on the thread that raised the error.
using DbErrorPresenter = void (*)(const std::string& caption, const std::string& text);

// Installs the presenter (null: none); returns the one it replaces.
DbErrorPresenter SetDbErrorPresenter(DbErrorPresenter presenter);

// "Erreur de base de données", in Windows-1252.
extern const char* const kDbErrorCaption;

// "Error de base de données : Code1=<code>\nCode2=<location>\n".
std::string DbErrorText(int32_t code, int32_t location);

// Shows the messages of the program engine's errors raised on other
// threads, oldest first; called by the program's message pump.
void PresentPendingDbErrors();

// Says a disk call of `c` that failed and that no error has told (a work
// file left where it was), in words, through the presenter.
void PresentUnsaidDiskFailure(CODE4* c);

// The engine's error hook: with a settings object, presents the error and
// then sets its code and location back to 0. An index that can grow no
// more (index4locFull, its file in text1) is a refused change, told in
// words (TChangeRefusal::Why::kIndexFull) instead of by its code.
void error4hook(CODE4* c, int32_t code, int32_t location, const char* text1, const char* text2,
                const char* text3);

// While one lives, the engine's errors are kept here, each cleared as the
// program's hook clears it, instead of going to the installed hook: the
// catalogue says in its own words what it repaired. When it goes, the
// errors it kept go to that hook, in the order they came, and so does a
// disk call of `c` that failed meanwhile, even when every error it caused
// was dropped: a disk that fails is said. Captures nest.
// Thread rule: the thread that owns the settings object.
class TDbErrorCapture {
 public:
  explicit TDbErrorCapture(CODE4& c);
  ~TDbErrorCapture();
  TDbErrorCapture(const TDbErrorCapture&) = delete;
  TDbErrorCapture& operator=(const TDbErrorCapture&) = delete;

  // Forgets the errors raised at `location` (all of them with -1): whether
  // there was one.
  bool Drop(int32_t location);

 private:
  struct Raised {
    CODE4* c;
    int32_t code;
    int32_t location;
    std::string text1, text2, text3;
  };
  static void hook(CODE4* c, int32_t code, int32_t location, const char* text1, const char* text2,
                   const char* text3);

  std::vector<Raised> raised_;
  void (*previousHook_)(CODE4*, int32_t, int32_t, const char*, const char*, const char*);
  TDbErrorCapture* outer_;
  CODE4& c_;
  uint64_t diskFailuresBefore_;  // the settings object's count when the capture began
};
