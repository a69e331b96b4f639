// The catalogue's engine as the program runs it, for tests of disk faults:
// the program's own error hook, with the raw engine texts it would show
// kept instead (`rawCodes`), and a settings object made anew for each run,
// so that a run a fault stopped leaves nothing in it for the next. It is
// started with exclusive access and without the workers, its cache small
// enough that a few hundred rows spill; or, `asProgram`, exactly as the
// program starts it (the workers running, the catalogue's own cache).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "catalog/Cberrorhook.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "tests/support/catalogue_files.h"

namespace testing_support {

class ProgramEngine {
 public:
  ProgramEngine()
      : previousHook_(error4hookSet(&error4hook)),
        previousPresenter_(SetDbErrorPresenter(&ProgramEngine::keep)) {
    rawCodes().clear();
  }
  ~ProgramEngine() {
    settings_.reset();
    SetDbErrorPresenter(previousPresenter_);
    error4hookSet(previousHook_);
  }
  ProgramEngine(const ProgramEngine&) = delete;
  ProgramEngine& operator=(const ProgramEngine&) = delete;

  // A settings object made anew; the one before is undone.
  CODE4& Fresh(bool asProgram = false) {
    settings_.reset();
    settings_ = std::make_unique<Settings>(asProgram);
    return settings_->c;
  }
  // The texts the program would have shown with a raw engine code.
  static std::vector<std::string>& rawCodes() {
    static std::vector<std::string> texts;
    return texts;
  }

 private:
  struct Settings {
    explicit Settings(bool asProgram) {
      code4initLow(&c, nullptr, 6502, 1611, asProgram ? 0 : 1);
      c.accessMode = 1;
      if (!asProgram) startSmallCache(c);
    }
    ~Settings() { code4initUndo(&c); }
    CODE4 c;
  };
  static void keep(const std::string&, const std::string& text) { rawCodes().push_back(text); }

  Error4Hook previousHook_;
  DbErrorPresenter previousPresenter_;
  std::unique_ptr<Settings> settings_;
};

}  // namespace testing_support
