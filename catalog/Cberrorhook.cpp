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

}  // namespace

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

void PresentPendingDbErrors() {
  // Asking for the code raises, on this thread, what the workers left.
  if (EngineReady()) error4code(&GlobalCode4());
}

void error4hook(CODE4* c, int32_t code, int32_t location, const char* text1, const char* /*text2*/,
                const char* /*text3*/) {
  if (c == nullptr) return;
  // A sync that failed is said once, in words, by the catalogue, which
  // changes nothing more until the next start (Udbwrapper.h).
  if (code == e4optFlush && c->syncFailed) {
    error4set(c, 0);
    error4setLocation(c, 0);
    return;
  }
  // Every write the disk refuses is one refusal, told once and in words:
  // a full disk fails block after block, table after table.
  const bool refusedWrite =
      (code == e4write && location != kLocWriteReadOnly && location != index4locFull) ||
      code == e4lenSet || code == e4optFlush;
  if (refusedWrite) {
    const int32_t error = c->writeErrno;
    PresentWriteRefused(text1 ? text1 : "", error != 0 ? error : ENOSPC);
    error4set(c, 0);
    error4setLocation(c, 0);
    return;
  }
  if (location == index4locFull)
    PresentChangeRefusal(TChangeRefusal{TChangeRefusal::Why::kIndexFull, text1 ? text1 : "", 0});
  else
    present(DbErrorText(code, location));
  error4set(c, 0);
  error4setLocation(c, 0);
}

TDbErrorCapture::TDbErrorCapture()
    : previousHook_(error4hookSet(&TDbErrorCapture::hook)), outer_(activeCapture) {
  activeCapture = this;
}

TDbErrorCapture::~TDbErrorCapture() {
  activeCapture = outer_;
  error4hookSet(previousHook_);
  if (previousHook_ == nullptr) return;
  for (const Raised& r : raised_)
    previousHook_(r.c, r.code, r.location, r.text1.c_str(), r.text2.c_str(), r.text3.c_str());
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
