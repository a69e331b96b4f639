// The export dialog over a real catalogue: the save dialog, the overwrite
// question, the scopes and their failures, and the settings it keeps.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <filesystem>
#include <optional>

#include "app/ModalRunner.h"
#include "app/TIniFile.h"
#include "app/TfrmData.h"
#include "features/archive/TfrmExport.h"
#include "tests/support/disk_file.h"
#include "tests/support/form_children.h"
#include "tests/support/screenshot.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/test_catalogue.h"
#include "tests/support/test_program_folder.h"

using testing_support::diskFileExists;
using testing_support::readDiskFile;
using testing_support::writeDiskFile;

namespace {

const QString kDone = QString::fromUtf8("Exportation TERMINEE !");

// Types `name` into the save dialog, in the current folder; the name edit.
QLineEdit* typeFileName(QDialog& saveDialog, const char* name) {
  static_cast<QFileDialog&>(saveDialog).setDirectory(QDir::currentPath());
  auto* edit = Child<QLineEdit>(saveDialog, "fileNameEdit");
  edit->setText(name);
  return edit;
}

class ExportFormTest : public ::testing::Test {
 protected:
  ExportFormTest() {
    useLanguage(kFrench);
    catalogue.AddSupport("DISC1", 1, {"a.txt", "sub\\b.txt"});
    catalogue.AddSupport("EMPTY", 2);
  }

  // Exports to `path` as typed, answering the overwrite question with
  // `answer`; the boxes shown.
  std::vector<BoxRequest> exportTo(const QString& path, BoxAnswer answer = BoxAnswer::Closed) {
    ScriptedMessageBoxes boxes({answer});
    Child<QLineEdit>(dialog, "edtTargetArchive")->setText(path);
    Click(dialog, "btnSave");
    return boxes.Shown();
  }

  static constexpr int kEnglish = 0;
  static constexpr int kFrench = 1;
  void useLanguage(int entry) {
    data.Texts().LoadLanguage(data.Texts().GetLanguageId(entry));
    dialog.ApplyLanguage();
  }

  TestProgramFolder folder{BuiltLanguageLibrary()};
  TfrmData data;
  TestCatalogue catalogue;
  TfrmExport dialog;
};

TEST_F(ExportFormTest, WritesThePathTheSaveDialogChoseAndKeepsItForTheNextTime) {
  const QString path = QString::fromStdString(std::filesystem::absolute("chosen.cex").string());
  dialog.SetExportScope(-1);
  dialog.ApplyLanguage();
  ScriptedMessageBoxes boxes;
  ScriptedModals modals([&](QDialog& shown) {
    if (qobject_cast<QFileDialog*>(&shown) != nullptr) {
      QTest::keyClick(typeFileName(shown, "chosen.cex"), Qt::Key_Return);
      return;
    }
    Click(dialog, "btnSelectTarget");
    EXPECT_EQ(Child<QLineEdit>(dialog, "edtTargetArchive")->text(), path);
    // The second time the file exists: the save dialog has asked already.
    Click(dialog, "btnSave");
    Click(dialog, "btnSave");
    Click(dialog, "btnClose");
  });
  EXPECT_EQ(RunModal(dialog), QDialog::Rejected);
  EXPECT_TRUE(boxes.Shown().empty());
  EXPECT_EQ(ListLines(dialog, "lbTrace"),
            (QStringList{"Exportation : DISC1", "Exportation : EMPTY", kDone, "Exportation : DISC1",
                         "Exportation : EMPTY", kDone}));
  EXPECT_EQ(Child<QLabel>(dialog, "lblProgress")->text(), "Support : 2/2");
  EXPECT_FALSE(Child<QProgressBar>(dialog, "pgBar")->isVisible());
  const std::string archive = readDiskFile(path.toStdString());
  EXPECT_TRUE(archive.starts_with("TOTAL_SUPPORT=2\r\nCATALOG_EXPORT=101\r\n@VOLUME=(\r\n"));
  EXPECT_NE(archive.find("F_NAME=b.txt\r\nF_EXT=.txt\r\nF_PATH=\\sub\\\r\n"), std::string::npos);

  const TIniFile ini(folder.IniPath());
  EXPECT_EQ(ini.ReadString("Export", "DefaultArchive", ""), path.toStdString());
  EXPECT_EQ(ini.ReadString("Export", "DefaultDir", ""), std::filesystem::current_path().string());
  TfrmExport again;
  EXPECT_EQ(Child<QLineEdit>(again, "edtTargetArchive")->text(), path);
}

TEST_F(ExportFormTest, AnExistingFileIsReplacedOnlyWhenTheUserAgrees) {
  const struct {
    const char* name;
    const char* confirmedBySaveDialog;  // before the path was typed
    const char* typed;
    BoxAnswer answer;
    bool asked;
    bool written;
  } cases[] = {
      {"a new file", nullptr, "new.cex", BoxAnswer::Closed, false, true},
      {"an existing file, No", nullptr, "old.cex", BoxAnswer::No, true, false},
      {"an existing file, closed", nullptr, "old.cex", BoxAnswer::Closed, true, false},
      {"an existing file, Yes", nullptr, "old.cex", BoxAnswer::Yes, true, true},
      {"typed after the dialog chose another", "other.cex", "old.cex", BoxAnswer::No, true, false},
      {"as the dialog chose it", "old.cex", "old.cex", BoxAnswer::Closed, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove("new.cex");
    writeDiskFile("old.cex", "kept");
    dialog.SetExportScope(-1);
    dialog.show();
    if (c.confirmedBySaveDialog != nullptr) {
      // The save dialog's own overwrite question answered Yes.
      ScriptedModals modals([&](QDialog& save) {
        typeFileName(save, c.confirmedBySaveDialog);
        save.done(QDialog::Accepted);
      });
      Click(dialog, "btnSelectTarget");
    }
    const std::string target = std::filesystem::absolute(c.typed).string();
    const std::vector<BoxRequest> shown = exportTo(QString::fromStdString(target), c.answer);
    ASSERT_EQ(shown.size(), c.asked ? 1u : 0u);
    if (c.asked) {
      EXPECT_EQ(shown[0].text, "Confirmez vous l'ecrasement de ce fichier");
      EXPECT_EQ(shown[0].caption, "Attention");
      EXPECT_EQ(shown[0].buttons, BoxButtons::YesNo);
    }
    EXPECT_EQ(readDiskFile(target).starts_with("TOTAL_SUPPORT=2"), c.written);
    EXPECT_EQ(ListLines(dialog, "lbTrace").contains(kDone), c.written);
  }
}

// A support without files is written with its volume block; a support that
// is not there, or a file that cannot be made, is an error and no archive.
// The language's name of the whole catalogue never replaces a support's.
TEST_F(ExportFormTest, ScopesAndTheirFailures) {
  useLanguage(kEnglish);
  const int32_t deleted = catalogue.AddSupport("GONE", 3, {"c.txt"});
  catalogue.Db().DeleteSupport(deleted);
  const struct {
    int32_t scope;
    const char* label;
    const char* path;
    std::optional<std::string> archiveStart;  // none: the cannot-write box
  } cases[] = {
      {-1, "the whole catalogue", "all.cex", "TOTAL_SUPPORT=2\r\n"},
      {2, "support N°00002", "empty.cex",
       "TOTAL_SUPPORT=1\r\nCATALOG_EXPORT=101\r\n@VOLUME=(\r\nS_ID=2\r\n"},
      {deleted, "support N°00003", "deleted.cex", std::nullopt},
      {99, "support N°00099", "none.cex", std::nullopt},
      {-1, "the whole catalogue", "no/such/folder/all.cex", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    dialog.SetExportScope(c.scope);
    dialog.ApplyLanguage();
    dialog.show();
    EXPECT_EQ(Child<QLabel>(dialog, "lblWhatToExport")->text(), QString::fromUtf8(c.label));
    const std::vector<BoxRequest> shown = exportTo(c.path);
    EXPECT_EQ(ListLines(dialog, "lbTrace").contains("Export FINISHED!"),
              c.archiveStart.has_value());
    if (c.archiveStart) {
      EXPECT_TRUE(shown.empty());
      EXPECT_TRUE(readDiskFile(c.path).starts_with(*c.archiveStart));
      EXPECT_EQ(readDiskFile(c.path).find("c.txt"), std::string::npos);
    } else {
      ASSERT_EQ(shown.size(), 1u);
      EXPECT_EQ(shown[0].text, QString("Cannot write the file:\n") + c.path);
      EXPECT_EQ(shown[0].caption, "Warning");
      EXPECT_FALSE(diskFileExists(c.path));
    }
  }
}

TEST(ExportFormScreenshot, AfterAnExportInEnglishAndFrench) {
  TestProgramFolder folder(BuiltLanguageLibrary());
  TfrmData data;
  TestCatalogue catalogue;
  catalogue.AddSupport("PHOTOS 2004", 0xDEADBEEF, {"a.jpg", "b.jpg"});
  catalogue.AddSupport("Musique \xE9t\xE9", 7, {"c.mp3"});
  for (const int entry : {0, 1}) {
    data.Texts().LoadLanguage(data.Texts().GetLanguageId(entry));
    TfrmExport dialog;
    dialog.SetExportScope(-1);
    dialog.ApplyLanguage();
    dialog.show();
    Child<QLineEdit>(dialog, "edtTargetArchive")
        ->setText(QString::fromStdString(std::filesystem::absolute("catalogue.cex").string()));
    ScriptedMessageBoxes boxes({BoxAnswer::Yes});
    Click(dialog, "btnSave");
    EXPECT_FALSE(SaveScreenshot(dialog, entry == 0 ? "export_en" : "export_fr").empty());
  }
}

}  // namespace
