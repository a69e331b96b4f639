// The program's entry: the engine first, on the thread that will show its
// errors, then the application object and the forms; or, with the hidden
// argument of the language library's check, that check alone.
#include <cstring>
#include <exception>
#include <memory>

#include "app/EntryRoutine.h"
#include "app/LanguageLibraryCheck.h"
#include "app/TProgramApplication.h"
#include "app/TSingleAppInstance.h"
#include "app/TfrmData.h"
#include "catalog/Engine.h"

int main(int argc, char** argv) {
  // The check of a language library, which a start of the program runs
  // on itself before it loads one: nothing else of the program starts.
  if (argc >= 2 && std::strcmp(argv[1], language_check::kCheckArgument) == 0)
    return language_check::RunLanguageLibraryCheck({argv + 2, argv + argc});
  // The check runs in a child while the application starts.
  const std::unique_ptr<language_check::CheckAhead> languageCheck =
      TfrmData::CheckLanguageLibraryAhead();
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
