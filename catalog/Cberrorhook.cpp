#include "catalog/Cberrorhook.h"

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "catalog/Cataloguenotices.h"
#include "catalog/Engine.h"
#include "engine/index/cdx4freelist.h"
#include "engine/storage/code4.h"
#include "engine/storage/convert4.h"
#include "engine/storage/error4.h"

namespace {

std::atomic<DbErrorPresenter> presenter{nullptr};

// Where the engine refuses a write to a file it opened for reading only: a
// fault of the caller, not of the disk.
constexpr int32_t kLocWriteReadOnly = 80013;
// Where a capture hands on a disk failure whose errors it dropped.
constexpr int32_t kLocDiskFailure = 60142;

TDbErrorCapture* activeCapture = nullptr;  // the innermost; the owner's thread only

void present(const std::string& text) {
  if (DbErrorPresenter show = presenter.load()) {
    show(kDbErrorCaption, text);
    return;
  }
  std::fprintf(stderr, "%s: %s", kDbErrorCaption, text.c_str());
}

// A number as decimal text, without the C library's locale.
std::string numberText(int32_t value) {
  char digits[16] = {};
  const int width = value < 0 ? 11 : 10;
  convert4longToText(value, digits, width);
  std::string text(digits, width);
  return text.substr(text.find_first_not_of(' '));
}

// Says a disk call that failed, in words: a sync is said once by the
// catalogue itself, which changes nothing more until the next start
// (Udbwrapper.h).
void presentDiskFailure(const Disk4Failure& failure) {
  const TDiskFailure told = DiskFailureOf(failure);
  if (told.call == TDiskCall::kRead) PresentReadRefused(told.file, told.error);
  if (told.call == TDiskCall::kWrite) PresentWriteRefused(told.file, told.error);
}

// Says an engine error in words, or not at all where what it comes of was
// said already.
void tellInWords(CODE4* c, int32_t code, int32_t location, const char* text1) {
  // An error that comes of a disk call that failed is said as that
  // failure, in words, whatever the engine made of it further up (a read
  // refused inside a write, a file left unmade, a node that reads as
  // damage).
  Disk4Failure failure;
  if ((location != index4locFull && code4takeDiskFailure(c, failure)) ||
      (code == e4optFlush && c->syncFailed)) {
    presentDiskFailure(failure);
    return;
  }
  // Every write the disk refuses is one refusal, told once and in words:
  // a full disk fails block after block, table after table.
  const bool refusedWrite =
      (code == e4write && location != kLocWriteReadOnly && location != index4locFull) ||
      code == e4lenSet || code == e4optFlush;
  if (refusedWrite) {
    // After a failed sync nothing more is written (writesEndAtFailedSync):
    // the writes refused since are that failure's, which the catalogue
    // says. A write refused for a failure already said (a read it needed
    // first, a write before it) is that failure's too: not a full disk.
    if (c->syncFailed || code4diskFailures(c) != 0) return;
    const int32_t error = c->writeErrno;
    PresentWriteRefused(text1 ? text1 : "", error != 0 ? error : ENOSPC);
    return;
  }
  if (location == index4locFull)
    PresentChangeRefusal(TChangeRefusal{TChangeRefusal::Why::kIndexFull, text1 ? text1 : "", 0});
  else
    present(DbErrorText(code, location));
}

}  // namespace

TDiskFailure DiskFailureOf(const Disk4Failure& failure) {
  TDiskFailure told{TDiskCall::kWrite, failure.file, failure.error};
  switch (failure.call) {
    case Disk4Call::kNone:
      told.call = TDiskCall::kNone;
      break;
    case Disk4Call::kRead:
    case Disk4Call::kOpen:
      told.call = TDiskCall::kRead;
      break;
    case Disk4Call::kSync:
      told.call = TDiskCall::kSync;
      break;
    case Disk4Call::kWrite:
    case Disk4Call::kLength:
    case Disk4Call::kReserve:
    case Disk4Call::kCreate:
    case Disk4Call::kRename:
    case Disk4Call::kRemove:
      break;
  }
  return told;
}

const char* const kDbErrorCaption =
    "Erreur de base de donn\xE9"
    "es";

DbErrorPresenter SetDbErrorPresenter(DbErrorPresenter replacement) {
  return presenter.exchange(replacement);
}

std::string DbErrorText(int32_t code, int32_t location) {
  return std::string(
             "Error de base de donn\xE9"
             "es : Code1=") +
         numberText(code) + "\nCode2=" + numberText(location) + "\n";
}

void PresentUnsaidDiskFailure(CODE4* c) {
  Disk4Failure failure;
  if (c != nullptr && code4takeDiskFailure(c, failure)) presentDiskFailure(failure);
}

void PresentPendingDbErrors() {
  // Asking for the code raises, on this thread, what the workers left.
  if (EngineReady()) error4code(&GlobalCode4());
}

void error4hook(CODE4* c, int32_t code, int32_t location, const char* text1, const char* /*text2*/,
                const char* /*text3*/) {
  if (c == nullptr) return;
  tellInWords(c, code, location, text1);
  error4set(c, 0);
  error4setLocation(c, 0);
}

TDbErrorCapture::TDbErrorCapture(CODE4& c)
    : previousHook_(error4hookSet(&TDbErrorCapture::hook)),
      outer_(activeCapture),
      c_(c),
      diskFailuresBefore_(code4diskFailures(&c)) {
  activeCapture = this;
}

TDbErrorCapture::~TDbErrorCapture() {
  activeCapture = outer_;
  error4hookSet(previousHook_);
  if (previousHook_ == nullptr) return;
  for (const Raised& r : raised_)
    previousHook_(r.c, r.code, r.location, r.text1.c_str(), r.text2.c_str(), r.text3.c_str());
  // A disk call that failed meanwhile is said even where what the engine
  // made of it was dropped (an index the disk could not read): the hook
  // takes it from the settings object.
  if (code4diskFailures(&c_) != diskFailuresBefore_ && code4diskFailurePending(&c_))
    previousHook_(&c_, e4read, kLocDiskFailure, nullptr, nullptr, nullptr);
}

bool TDbErrorCapture::Drop(int32_t location) {
  const auto dropped = std::erase_if(
      raised_, [&](const Raised& r) { return location == -1 || r.location == location; });
  return dropped > 0;
}

void TDbErrorCapture::hook(CODE4* c, int32_t code, int32_t location, const char* text1,
                           const char* text2, const char* text3) {
  if (activeCapture == nullptr) return;
  activeCapture->raised_.push_back(
      {c, code, location, text1 ? text1 : "", text2 ? text2 : "", text3 ? text3 : ""});
  if (c == nullptr) return;
  error4set(c, 0);
  error4setLocation(c, 0);
}
