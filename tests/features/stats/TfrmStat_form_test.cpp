// The statistics dialog over a real catalogue, on a drive of a given size.
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <string>

#include "app/ModalRunner.h"
#include "app/ProgramFolder.h"
#include "app/TfrmData.h"
#include "features/stats/TfrmStat.h"
#include "platform/os.h"
#include "tests/support/form_children.h"
#include "tests/support/screenshot.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/test_catalogue.h"
#include "tests/support/test_program_folder.h"

namespace {

// Every volume is 10 GiB with 4 GiB free; the paths asked about are kept.
class TenGigabyteDrives : public platform::Os {
 public:
  int volumeStatus(const char* path, platform::VolumeStatus& status) override {
    asked.emplace_back(path);
    status.fragmentSize = 4096;
    status.blocks = (10ULL << 30) / 4096;
    status.blocksAvailable = (4ULL << 30) / 4096;
    return 0;
  }
  std::vector<std::string> asked;
};

void addSized(TDBWrapper& db, int64_t size, int32_t entries) {
  TSupportRecord support;
  support.volume = "V";
  support.size = size;
  support.fileCount = entries;
  db.AddSupportRecord(support);
}

TEST(TfrmStat, CountsTheCatalogueAndTheProgramsDriveEachTimeItIsShown) {
  TestProgramFolder folder;
  TfrmData data;
  TestCatalogue catalogue;
  TenGigabyteDrives drives;
  platform::ScopedOs os(drives);
  TfrmStat dialog;
  ScriptedModals modals([&](QDialog&) { Click(dialog, "btnOK"); });
  const auto show = [&] {
    dialog.ApplyLanguage();
    dialog.ComputeStats();
    EXPECT_EQ(RunModal(dialog), QDialog::Accepted);
    return Child<QPlainTextEdit>(dialog, "meStats")->toPlainText().split('\n');
  };
  EXPECT_EQ(show()[1], "Total supports    : 0");

  addSized(catalogue.Db(), 1048576, 10);
  addSized(catalogue.Db(), 999, 999);
  addSized(catalogue.Db(), 3145728, 25);
  catalogue.Db().DeleteSupport(2);
  const QString rule(41, '-');
  EXPECT_EQ(show(), QStringList({"Statistiques sur l'ensemble de la base", "Total supports    : 2",
                                 "Total fichiers    : 35", "Taille totale     : 4.00 Mo",
                                 "[Supports effaces : 1]", rule, "Total :     10240.00 Mo",
                                 "Used  :      6144.00 Mo", "Free  :      4096.00 Mo", rule}));
  EXPECT_EQ(drives.asked.back(), ProgramFolder());
}

TEST(StatScreenshot, TheExampleInEnglishAndFrench) {
  TestProgramFolder folder(BuiltLanguageLibrary());
  TfrmData data;
  TestCatalogue catalogue;
  addSized(catalogue.Db(), 1048576, 10);
  addSized(catalogue.Db(), 4'700'000'000, 2500);
  for (const int entry : {0, 1}) {
    data.Texts().LoadLanguage(data.Texts().GetLanguageId(entry));
    TfrmStat dialog;
    dialog.ComputeStats();
    EXPECT_FALSE(SaveScreenshot(dialog, entry == 0 ? "stat_en" : "stat_fr").empty());
  }
}

}  // namespace
