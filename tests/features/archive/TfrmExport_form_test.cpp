// The export dialog over a real catalogue, in English: the save dialog and
// the overwrite question, one support and the failures, the settings kept.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <filesystem>

#include "app/ModalRunner.h"
#include "app/TIniFile.h"
#include "app/TfrmData.h"
#include "features/archive/TfrmExport.h"
#include "tests/support/disk_file.h"
#include "tests/support/form_children.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/test_catalogue.h"
#include "tests/support/test_program_folder.h"

using testing_support::diskFileExists;
using testing_support::readDiskFile;
using testing_support::writeDiskFile;

namespace {

const QString kDone = "Export FINISHED!";

// Types `name` into the save dialog, in the current folder, and presses
// Enter.
void chooseInSaveDialog(QDialog& save, const char* name) {
  static_cast<QFileDialog&>(save).setDirectory(QDir::currentPath());
  auto* edit = Child<QLineEdit>(save, "fileNameEdit");
  edit->setText(name);
  QTest::keyClick(edit, Qt::Key_Return);
}

class ExportFormTest : public ::testing::Test {
 protected:
  ExportFormTest() {
    catalogue.AddSupport("DISC1", 1, {"a.txt", "sub\\b.txt"});
    catalogue.AddSupport("EMPTY", 2);
    dialog.show();
  }

  // Exports to `path` as typed, answering the overwrite question with
  // `answer`; the boxes shown.
  std::vector<BoxRequest> exportTo(const char* path, BoxAnswer answer = BoxAnswer::Closed) {
    ScriptedMessageBoxes boxes({answer});
    Child<QLineEdit>(dialog, "edtTargetArchive")->setText(path);
    Click(dialog, "btnSave");
    return boxes.Shown();
  }

  TestProgramFolder folder{BuiltLanguageLibrary()};
  TfrmData data;
  TestCatalogue catalogue;
  TfrmExport dialog;
};

TEST_F(ExportFormTest, ThePathTheSaveDialogChoseIsWrittenWithoutAskingAndKept) {
  dialog.SetExportScope(-1);
  ScriptedMessageBoxes boxes;
  ScriptedModals modals([&](QDialog& shown) {
    if (&shown != &dialog) return chooseInSaveDialog(shown, "chosen.cex");
    Click(dialog, "btnSelectTarget");
    Click(dialog, "btnSave");
    Click(dialog, "btnSave");  // the file exists now; the save dialog asked
    Click(dialog, "btnClose");
  });
  EXPECT_EQ(RunModal(dialog), QDialog::Rejected);
  EXPECT_TRUE(boxes.Shown().empty());
  const QStringList once{"Exporting: DISC1", "Exporting: EMPTY", kDone};
  EXPECT_EQ(ListLines(dialog, "lbTrace"), once + once);
  EXPECT_EQ(Child<QLabel>(dialog, "lblProgress")->text(), "Medium: 2/2");
  const std::string path = std::filesystem::absolute("chosen.cex").string();
  EXPECT_TRUE(readDiskFile(path).starts_with("TOTAL_SUPPORT=2\r\nCATALOG_EXPORT=101\r\n@VOLUME="));

  const TIniFile ini(folder.IniPath());
  EXPECT_EQ(ini.ReadString("Export", "DefaultArchive", ""), path);
  EXPECT_EQ(ini.ReadString("Export", "DefaultDir", ""), std::filesystem::current_path().string());
  TfrmExport again;
  EXPECT_EQ(Child<QLineEdit>(again, "edtTargetArchive")->text().toStdString(), path);
}

TEST_F(ExportFormTest, AnExistingFileIsReplacedOnlyWhenTheUserAgrees) {
  const struct {
    const char* name;
    const char* chosenBefore;  // in the save dialog, before typing
    const char* typed;
    BoxAnswer answer;
    bool asked;
    bool written;
  } cases[] = {
      {"a new file", nullptr, "new.cex", BoxAnswer::Closed, false, true},
      {"an existing file, No", nullptr, "old.cex", BoxAnswer::No, true, false},
      {"an existing file, Yes", nullptr, "old.cex", BoxAnswer::Yes, true, true},
      {"typed after the save dialog chose another", "other.cex", "old.cex", BoxAnswer::No, true,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeDiskFile("old.cex", "kept");
    dialog.SetExportScope(-1);
    if (c.chosenBefore != nullptr) {
      ScriptedModals modals([&](QDialog& save) { chooseInSaveDialog(save, c.chosenBefore); });
      Click(dialog, "btnSelectTarget");
    }
    const std::vector<BoxRequest> shown = exportTo(c.typed, c.answer);
    ASSERT_EQ(shown.size(), c.asked ? 1u : 0u);
    if (c.asked) {
      EXPECT_EQ(shown[0].text + "|" + shown[0].caption,
                "Do you want to overwrite this file?|Warning");
    }
    EXPECT_EQ(readDiskFile(c.typed).starts_with("TOTAL_SUPPORT=2"), c.written);
  }
}

// A support without files is written with its volume block, and the
// language's name of the whole catalogue never replaces its number. A
// support that is not there, or a file that cannot be made, shows the
// cannot-write box and leaves no file.
TEST_F(ExportFormTest, OneSupportAndTheFailures) {
  const struct {
    int32_t scope;
    const char* label;
    const char* path;
    bool written;
  } cases[] = {
      {2, "medium no. 00002", "empty.cex", true},
      {99, "medium no. 00099", "none.cex", false},
      {-1, "the whole catalogue", "no/such/folder/all.cex", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    dialog.SetExportScope(c.scope);
    dialog.ApplyLanguage();
    EXPECT_EQ(Child<QLabel>(dialog, "lblWhatToExport")->text(), QString::fromUtf8(c.label));
    const std::vector<BoxRequest> shown = exportTo(c.path);
    EXPECT_EQ(ListLines(dialog, "lbTrace").contains(kDone), c.written);
    if (c.written) {
      EXPECT_TRUE(shown.empty());
      EXPECT_TRUE(readDiskFile(c.path).starts_with(
          "TOTAL_SUPPORT=1\r\nCATALOG_EXPORT=101\r\n@VOLUME=(\r\nS_ID=2\r\n"));
    } else {
      ASSERT_EQ(shown.size(), 1u);
      EXPECT_EQ(shown[0].text, QString("Cannot write the file:\n") + c.path);
      EXPECT_FALSE(diskFileExists(c.path));
    }
  }
}

}  // namespace
