// Installs an error hook that records every raised error, for the life of
// the recorder. Like the program's hook, it can clear the settings object's
// error state after recording (clearing = true).
#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "catalog/Cataloguenotices.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"

namespace testing_support {

struct RaisedError {
  CODE4* c;
  int32_t code;
  int32_t location;
  std::string text1, text2, text3;
  std::thread::id thread;
};

class ErrorRecorder {
 public:
  explicit ErrorRecorder(bool clearing = false) {
    std::lock_guard guard(mutex());
    previousActive_ = active();
    active() = this;
    clearing_ = clearing;
    previous_ = error4hookSet(&ErrorRecorder::hook);
  }
  // An enclosing recorder records again.
  ~ErrorRecorder() {
    std::lock_guard guard(mutex());
    error4hookSet(previous_);
    active() = previousActive_;
  }
  ErrorRecorder(const ErrorRecorder&) = delete;
  ErrorRecorder& operator=(const ErrorRecorder&) = delete;

  std::vector<RaisedError> errors() {
    std::lock_guard guard(mutex());
    return errors_;
  }
  void clear() {
    std::lock_guard guard(mutex());
    errors_.clear();
  }

 private:
  static std::mutex& mutex() {
    static std::mutex m;
    return m;
  }
  static ErrorRecorder*& active() {
    static ErrorRecorder* a = nullptr;
    return a;
  }
  static void hook(CODE4* c, int32_t code, int32_t location, const char* t1, const char* t2,
                   const char* t3) {
    std::lock_guard guard(mutex());
    ErrorRecorder* self = active();
    if (self == nullptr) return;
    self->errors_.push_back(
        {c, code, location, t1 ? t1 : "", t2 ? t2 : "", t3 ? t3 : "", std::this_thread::get_id()});
    if (self->clearing_ && c != nullptr) {
      error4set(c, 0);
      error4setLocation(c, 0);
    }
  }

  std::vector<RaisedError> errors_;
  Error4Hook previous_ = nullptr;
  ErrorRecorder* previousActive_ = nullptr;
  bool clearing_ = false;
};

// Keeps the changes the catalogue refuses, for the life of the recorder,
// in place of the program's boxes. Thread rule: the catalogue's thread.
class RefusalRecorder {
 public:
  RefusalRecorder() : previous_(SetChangeRefusalPresenter(&RefusalRecorder::keep)) {
    kept().clear();
  }
  ~RefusalRecorder() { SetChangeRefusalPresenter(previous_); }
  RefusalRecorder(const RefusalRecorder&) = delete;
  RefusalRecorder& operator=(const RefusalRecorder&) = delete;

  std::vector<TChangeRefusal>& refusals() { return kept(); }

 private:
  static std::vector<TChangeRefusal>& kept() {
    static std::vector<TChangeRefusal> refusals;
    return refusals;
  }
  static void keep(const TChangeRefusal& refusal) { kept().push_back(refusal); }
  TChangeRefusalPresenter previous_;
};

}  // namespace testing_support
