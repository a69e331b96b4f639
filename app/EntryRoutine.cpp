#include "app/EntryRoutine.h"

#include <QApplication>
#include <QMdiSubWindow>
#include <memory>

#include "app/DbErrorBoxes.h"
#include "app/TProgramApplication.h"
#include "app/TerminationRequests.h"
#include "app/TfrmAbout.h"
#include "app/TfrmMain.h"
#include "app/TfrmParameters.h"
#include "features/archive/TfrmExport.h"
#include "features/archive/TfrmImport.h"
#include "features/archive/TfrmWarnSupportInDB.h"
#include "features/indexing/TfrmIndexing.h"
#include "features/stats/TfrmStat.h"
#include "features/supports/TfrmSupportEdit.h"
#include "features/supports/TfrmSupportList.h"

namespace {

int runForms(const std::function<int()>& messageLoop, const TerminationRequests& termination) {
  // Declared in the order of creation, so destroyed in the reverse one.
  auto main = std::make_unique<TfrmMain>();
  auto supportList = std::make_unique<TfrmSupportList>();
  main->AddChildWindow(*supportList)->showMaximized();
  auto supportEdit = std::make_unique<TfrmSupportEdit>(main.get());
  auto parameters = std::make_unique<TfrmParameters>(main.get());
  auto exporter = std::make_unique<TfrmExport>(main.get());
  auto importer = std::make_unique<TfrmImport>(main.get());
  auto about = std::make_unique<TfrmAbout>(main.get());
  auto warnSupportInDB = std::make_unique<TfrmWarnSupportInDB>(main.get());
  auto stat = std::make_unique<TfrmStat>(main.get());
  auto indexing = std::make_unique<TfrmIndexing>(main.get());

  main->show();
  // A request taken in a box of the start has ended every loop there was;
  // the application's would start afresh.
  int code = 0;
  if (!termination.Requested()) code = messageLoop ? messageLoop() : QApplication::exec();
  if (std::exception_ptr escaped = TakeEscapedException()) std::rethrow_exception(escaped);
  // A logout or a shutdown ends the program as closing its window does;
  // here, where nothing the request interrupted is still running.
  if (termination.Requested() && main->isVisible()) main->close();
  return code;
}

}  // namespace

int RunEntryRoutine(const std::function<int()>& messageLoop) {
  // Outlives the boxes of the catalogue's last errors, which a request
  // must end as well.
  const TerminationRequests termination;
  const ScopedDbErrorBoxes errorBoxes;
  try {
    return runForms(messageLoop, termination);
  } catch (const TDataFolderError&) {
    return 1;
  } catch (const std::exception& error) {
    ShowEscapedException(error.what());
  } catch (...) {
    ShowEscapedException(nullptr);
  }
  return 1;
}
