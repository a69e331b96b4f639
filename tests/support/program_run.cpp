#include "tests/support/program_run.h"

#include "app/EntryRoutine.h"
#include "catalog/Engine.h"

int RunProgram(const std::function<void()>& scenario) {
  // Each run starts the engine afresh, as each start of the program does.
  ResetEngineForTests();
  const int code = RunEntryRoutine([&] {
    scenario();
    return 0;
  });
  ResetEngineForTests();
  return code;
}
