// The program's entry: the engine first, on the thread that will show its
// errors, then the application object and the forms.
#include "app/EntryRoutine.h"
#include "app/TProgramApplication.h"
#include "catalog/Engine.h"

int main(int argc, char** argv) {
  InitEngine();
  TProgramApplication application(argc, argv);
  return RunEntryRoutine();
}
