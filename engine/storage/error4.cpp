#include "engine/storage/error4.h"

#include <atomic>
#include <thread>
#include <utility>
#include <vector>

#include "engine/index/index4.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"

namespace {

std::atomic<Error4Hook> installedHook{nullptr};

constexpr const char* kInvalidStructureText = "Function was Passed an Invalid Structure Pointer";

// The marker a structure of `kind` answers to, or false when the kind
// cannot hold one. Each structure kind joins this switch with its type.
bool markerOf(const void* structure, int kind, int32_t& marker) {
  switch (kind) {
    case structure4index:
      marker = static_cast<const INDEX4*>(structure)->validityMarker;
      return true;
    case structure4code:
      marker = static_cast<const CODE4*>(structure)->validityMarker;
      return true;
    case structure4data:
      marker = static_cast<const DATA4*>(structure)->validityMarker;
      return true;
    case structure4field:
      marker = static_cast<const FIELD4*>(structure)->validityMarker;
      return true;
    default:
      return false;
  }
}

}  // namespace

Error4Hook error4hookSet(Error4Hook hook) { return installedHook.exchange(hook); }

namespace {

// Keeps an error raised off the owner's thread for the owner to raise.
void deferToOwner(CODE4* c, int32_t code, int32_t location, const char* const texts[3]) {
  CODE4::ForeignError error{code, location, {}, {}};
  for (int i = 0; i < 3; i++) {
    error.hasText[i] = texts[i] != nullptr;
    if (texts[i] != nullptr) error.texts[i] = texts[i];
  }
  std::lock_guard guard(c->foreignMutex);
  c->foreignErrors.push_back(std::move(error));
  c->foreignPending.store(true);
}

bool offOwnerThread(const CODE4* c) {
  return c->ownerThread != std::thread::id() && c->ownerThread != std::this_thread::get_id();
}

// On the owner's thread: raises the errors other threads left, oldest first.
void raiseDeferred(const CODE4* owner) {
  auto* c = const_cast<CODE4*>(owner);
  std::vector<CODE4::ForeignError> errors;
  {
    std::lock_guard guard(c->foreignMutex);
    errors.swap(c->foreignErrors);
    c->foreignPending.store(false);
  }
  for (const CODE4::ForeignError& e : errors) {
    const char* texts[3];
    for (int i = 0; i < 3; i++) texts[i] = e.hasText[i] ? e.texts[i].c_str() : nullptr;
    error4report(c, e.code, e.location, texts[0], texts[1], texts[2]);
  }
}

}  // namespace

int32_t error4report(CODE4* c, int32_t code, int32_t location, const char* text1,
                     const char* text2, const char* text3) {
  if (c != nullptr && offOwnerThread(c)) {
    const char* const texts[3] = {text1, text2, text3};
    deferToOwner(c, code, location, texts);
    return code;
  }
  if (c != nullptr) {
    c->errorCode.store(code, std::memory_order_relaxed);
    c->errorLocation.store(location, std::memory_order_relaxed);
  }
  if (Error4Hook hook = installedHook.load()) hook(c, code, location, text1, text2, text3);
  if (c != nullptr && code != 0 && c->errorCode.load(std::memory_order_relaxed) == 0)
    c->errorsCleared.fetch_add(1, std::memory_order_relaxed);
  return code;
}

int32_t error4(CODE4* c, int32_t code, int32_t location) {
  return error4report(c, code, location, nullptr, nullptr, nullptr);
}

int32_t error4describe(CODE4* c, int32_t code, int32_t location, const char* text1,
                       const char* text2, const char* text3) {
  return error4report(c, code, location, text1, text2, text3);
}

int32_t error4set(CODE4* c, int32_t code) {
  if (c == nullptr) return 0;
  return c->errorCode.exchange(code, std::memory_order_relaxed);
}

int32_t error4setLocation(CODE4* c, int32_t location) {
  if (c == nullptr) return 0;
  return c->errorLocation.exchange(location, std::memory_order_relaxed);
}

int32_t error4code(const CODE4* c) {
  if (c == nullptr) return 0;
  if (c->foreignPending.load(std::memory_order_relaxed) && !offOwnerThread(c)) raiseDeferred(c);
  return c->errorCode.load(std::memory_order_relaxed);
}

Error4Steps::Error4Steps(const CODE4* c, Keep keep)
    : c_(c), keep_(keep), clearedBefore_(c->errorsCleared.load(std::memory_order_relaxed)) {}

void Error4Steps::note(int32_t rc) {
  const uint32_t cleared = c_->errorsCleared.load(std::memory_order_relaxed);
  const bool stepCleared = cleared != clearedBefore_;
  clearedBefore_ = cleared;
  if (rc >= 0 || (keep_ == keepFirst && failure_ < 0)) return;
  failure_ = rc;
  cleared_ = stepCleared;
}

int32_t structure4check(const void* structure, int kind, int32_t location) {
  bool valid = false;
  if (structure != nullptr && kind >= 0) {
    int32_t marker = 0;
    if (kind > 6) {
      valid = true;  // kinds beyond the known ones are not checked
    } else if (markerOf(structure, kind, marker)) {
      valid = marker == validity4marker;
    }
  }
  if (valid) return 0;
  return error4describe(nullptr, e4parm, location, kInvalidStructureText, nullptr, nullptr);
}
