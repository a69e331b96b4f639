// The program's entry: the engine first, on the thread that will show its
// errors, then the application object and the forms.
#include <exception>
#include <memory>

#include "app/EntryRoutine.h"
#include "app/TProgramApplication.h"
#include "app/TSingleAppInstance.h"
#include "catalog/Engine.h"

int main(int argc, char** argv) {
  InitEngine();
  TProgramApplication application(argc, argv);
  // A later start hands its command line to the first instance and ends
  // before any form or table is made. The component lives as long as the
  // forms do.
  std::unique_ptr<TSingleAppInstance> SingleAppInstance1;
  try {
    SingleAppInstance1 = CheckSingleAppInstance();
  } catch (const std::exception& error) {
    ShowEscapedException(error.what());
    return 1;
  }
  if (!SingleAppInstance1) return 0;
  return RunEntryRoutine();
}
