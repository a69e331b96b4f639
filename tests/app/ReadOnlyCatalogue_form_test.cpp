// A catalogue in a folder the program cannot write (a read-only bind mount
// where the test runs as root, else a folder without write permission) is
// read: its media listed, counted, searched and exported. Each change is
// refused before it begins, with one box naming the folder, and nothing is
// written to the folder. Once it can be written again, the next start
// works as usual.
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QCoreApplication>
#include <QTableView>
#include <filesystem>
#include <span>

#include "app/DBWrapperGlobal.h"
#include "app/TfrmMain.h"
#include "features/archive/ArchiveExport.h"
#include "features/search/FileSearch.h"
#include "features/supports/TfrmSupportList.h"
#include "tests/support/catalogue_files.h"
#include "tests/support/disk_file.h"
#include "tests/support/program_run.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/test_catalogue.h"
#include "tests/support/test_program_folder.h"

namespace {

// Makes `folder` one this process cannot write, or writable again: a
// read-only bind mount of itself, in a mount namespace of the process's
// own, where it may mount; else its write permission taken away, for a
// user who is not root.
bool setReadOnly(const std::string& folder, bool readOnly) {
  if (geteuid() == 0) {
    if (!readOnly) return umount(folder.c_str()) == 0;
    return unshare(CLONE_NEWNS) == 0 &&
           mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
           mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
  }
  return chmod(folder.c_str(), readOnly ? 0555 : 0755) == 0;
}

// Counts the hits of a search run to its end.
struct CountingObserver : SearchObserver {
  void Started(int32_t) override {}
  void HitsFound(std::span<const SearchHit> found) override { hits += found.size(); }
  void Pause(int32_t) override {}
  int32_t HitLimit() override { return 1000; }
  bool StopRequested() override { return false; }
  size_t hits = 0;
};

TEST(ReadOnlyCatalogue, IsReadAndRefusesEveryChangeBeforeItBeginsWithOneBox) {
  TestProgramFolder folder;
  {
    TestCatalogue catalogue;
    for (uint32_t serial = 1; serial <= 5; serial++)
      catalogue.AddSupport("M" + std::to_string(serial), serial, {"a.txt", "b.txt"});
  }
  const testing_support::FolderFiles before = testing_support::keepFolder("data");
  if (!setReadOnly("data", true)) GTEST_SKIP() << "no folder can be made read-only here";
  ScriptedMessageBoxes boxes({BoxAnswer::Yes, BoxAnswer::Yes, BoxAnswer::Yes});
  ScriptedModals dialogs([](QDialog& dialog) { dialog.reject(); });
  const std::string archive = folder.Folder() + "all.cex";
  EXPECT_EQ(RunProgram([&] {
              auto* list = Find<QTableView>(*frmSupportList, "sgSupportData");
              EXPECT_EQ(list->model()->rowCount(), 5);
              EXPECT_EQ(dbWrapper->SumSupports().files, 10);
              CountingObserver found;
              SearchCriteria everything;
              everything.mask = "*";
              FileSearch(*dbWrapper).Run(everything, found);
              EXPECT_EQ(found.hits, 10u);
              const archive::ExportResult exported =
                  archive::ExportArchive(*dbWrapper, archive, -1, {});
              EXPECT_EQ(exported.supports, 5);
              EXPECT_EQ(exported.files, 10);

              for (const char* command : {"itmSupportIndex", "itmImportBase", "itmEmptyBase"})
                Find<QAction>(*frmMain, command)->trigger();
              list->selectRow(0);
              for (const char* command : {"itmEditSuppProp", "itmDeleteSupport"})
                Find<QAction>(*frmSupportList, command)->trigger();
              QCoreApplication::processEvents();
              EXPECT_EQ(list->model()->rowCount(), 5);
            }),
            0);
  EXPECT_EQ(dialogs.Count(), 0);
  const QString refusal =
      QString::fromUtf8(
          "Le dossier de la base de données ne peut pas être écrit (%1) : la base "
          "peut être consultée, mais l'indexation, l'importation, la modification, "
          "la suppression et le vidage sont refusés.\n") +
      QString::fromStdString(folder.Folder() + "data");
  ASSERT_EQ(boxes.Shown().size(), 5u);
  for (const BoxRequest& box : boxes.Shown()) {
    EXPECT_TRUE(box.text == refusal.arg(QString::fromUtf8("disque en lecture seule")) ||
                box.text == refusal.arg(QString::fromUtf8("accès refusé")))
        << box.text.toStdString();
  }
  EXPECT_EQ(testing_support::keepFolder("data"), before);
  EXPECT_NE(testing_support::readDiskFile(archive).find("TOTAL_SUPPORT=5"), std::string::npos);

  ASSERT_TRUE(setReadOnly("data", false));
  ScriptedMessageBoxes none;
  EXPECT_EQ(RunProgram([] {
              TSupportRecord added;
              EXPECT_EQ(dbWrapper->AddSupportRecord(added), 6);
              EXPECT_TRUE(dbWrapper->DeleteSupport(1));
            }),
            0);
  EXPECT_TRUE(none.Shown().empty());
}

}  // namespace
