// The program's own answer to the engine's errors (Cberrorhook.h) for the
// life of the recorder, with every box it would show kept here instead, and
// every change the catalogue refuses: a test sees what the user would read.
#pragma once

#include <string>
#include <vector>

#include "catalog/Cberrorhook.h"
#include "engine/storage/error4.h"
#include "tests/support/error_recorder.h"

namespace testing_support {

class ProgramBoxes {
 public:
  ProgramBoxes()
      : previousHook_(error4hookSet(&error4hook)), previousPresenter_(SetDbErrorPresenter(&keep)) {
    kept().clear();
  }
  ~ProgramBoxes() {
    SetDbErrorPresenter(previousPresenter_);
    error4hookSet(previousHook_);
  }
  ProgramBoxes(const ProgramBoxes&) = delete;
  ProgramBoxes& operator=(const ProgramBoxes&) = delete;

  // The texts of the engine-error boxes ("Code1=..."), oldest first.
  const std::vector<std::string>& boxes() const { return kept(); }
  std::vector<TChangeRefusal>& refusals() { return refusals_.refusals(); }

 private:
  static std::vector<std::string>& kept() {
    static std::vector<std::string> boxes;
    return boxes;
  }
  static void keep(const std::string&, const std::string& text) { kept().push_back(text); }

  Error4Hook previousHook_;
  DbErrorPresenter previousPresenter_;
  RefusalRecorder refusals_;
};

}  // namespace testing_support
