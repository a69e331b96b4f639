#include "app/EntryRoutine.h"

#include <QApplication>
#include <QMdiSubWindow>
#include <memory>

#include "app/DbErrorBoxes.h"
#include "app/TProgramApplication.h"
#include "app/TfrmAbout.h"
#include "app/TfrmMain.h"
#include "app/TfrmParameters.h"
#include "features/supports/TfrmSupportEdit.h"
#include "features/supports/TfrmSupportList.h"

namespace {

int runForms(const std::function<int()>& messageLoop) {
  // Declared in the order of creation, so destroyed in the reverse one.
  auto main = std::make_unique<TfrmMain>();
  auto supportList = std::make_unique<TfrmSupportList>();
  main->AddChildWindow(*supportList)->showMaximized();
  auto supportEdit = std::make_unique<TfrmSupportEdit>(main.get());
  auto parameters = std::make_unique<TfrmParameters>(main.get());
  // TfrmExport, TfrmImport: made here, in that order, when they land.
  auto about = std::make_unique<TfrmAbout>(main.get());
  // TfrmWarnSupportInDB, TfrmStat, TfrmIndexing: made here, in that order, when they land.

  main->show();
  const int code = messageLoop ? messageLoop() : QApplication::exec();
  if (std::exception_ptr escaped = TakeEscapedException()) std::rethrow_exception(escaped);
  return code;
}

}  // namespace

int RunEntryRoutine(const std::function<int()>& messageLoop) {
  const ScopedDbErrorBoxes errorBoxes;
  try {
    return runForms(messageLoop);
  } catch (const TDataFolderError&) {
    return 1;
  } catch (const std::exception& error) {
    ShowEscapedException(error.what());
  } catch (...) {
    ShowEscapedException(nullptr);
  }
  return 1;
}
