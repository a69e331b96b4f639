// The import dialog over a real catalogue, with the real duplicate
// question: the answers and "don't ask again", Stop and a close during an
// import, the failures, and a round trip through both dialogs.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <cerrno>
#include <functional>
#include <regex>

#include "app/MessagePump.h"
#include "app/ModalRunner.h"
#include "app/TIniFile.h"
#include "app/TfrmData.h"
#include "features/archive/TfrmExport.h"
#include "features/archive/TfrmImport.h"
#include "features/archive/TfrmWarnSupportInDB.h"
#include "platform/os.h"
#include "tests/features/archive/archive_fixture.h"
#include "tests/support/disk_file.h"
#include "tests/support/fake_os.h"
#include "tests/support/form_children.h"
#include "tests/support/screenshot.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/test_catalogue.h"
#include "tests/support/test_program_folder.h"

using testing_support::fileBlock;
using testing_support::header;
using testing_support::readDiskFile;
using testing_support::volumeBlock;
using testing_support::writeDiskFile;

namespace {

// The last three trace lines: the end and the counts of supports and files.
// The closing lines; files neither added nor passed are waiting to be written.
QStringList endLines(int supports, int supportsAdded, int files, int filesAdded,
                     int filesWaiting = 0) {
  const QString counts = QString::fromUtf8("%1 : %2  traité(s), %3 importé(s), %4 passé(s)");
  return {
      "Finished",
      counts.arg("SUPPORTS").arg(supports, 5).arg(supportsAdded).arg(supports - supportsAdded),
      counts.arg("FICHIERS").arg(files, 5).arg(filesAdded).arg(files - filesAdded - filesWaiting)};
}

class ImportFormTest : public ::testing::Test {
 protected:
  // Runs the dialog as the main window does and imports `path`; each
  // duplicate question goes to `answer`. The boxes shown.
  std::vector<BoxRequest> importFile(const char* path, std::function<void()> answer = {}) {
    ScriptedMessageBoxes boxes;
    ScriptedModals modals([&](QDialog& shown) {
      if (&shown == &question) return answer ? answer() : void();
      Child<QLineEdit>(dialog, "edtTargetArchive")->setText(path);
      Click(dialog, "btnImport");
      Click(dialog, "btnClose");
    });
    dialog.ApplyLanguage();
    dialog.ResetTrace();
    RunModal(dialog);
    return boxes.Shown();
  }
  std::vector<BoxRequest> importArchive(const std::string& archive,
                                        std::function<void()> answer = {}) {
    writeDiskFile("in.cex", archive);
    return importFile("in.cex", std::move(answer));
  }
  QStringList trace() { return ListLines(dialog, "lbTrace"); }
  QStringList lastLines(int n) { return trace().mid(trace().size() - n); }

  TestProgramFolder folder;
  TfrmData data;
  TestCatalogue catalogue;
  TfrmWarnSupportInDB question;
  TfrmImport dialog;
};

TEST_F(ImportFormTest, DuplicatesFollowTheAnswersGivenToTheQuestion) {
  // A and B are in the catalogue; C2 has the serial of C, added before it.
  const std::string archive = header(4) + volumeBlock("A", 1, 1) + fileBlock("a") +
                              volumeBlock("B", 2, 1) + fileBlock("b") + volumeBlock("C", 3, 1) +
                              fileBlock("c") + volumeBlock("C2", 3, 1) + fileBlock("c2");
  enum Answer { kImport, kImportAlways, kSkip, kSkipAlways, kCloseBox };
  const struct {
    const char* name;
    std::vector<Answer> answers;
    const char* fates;  // of A, B, C and C2: '+' added, '-' passed over
  } cases[] = {
      {"import, don't ask again", {kImportAlways}, "++++"},
      {"skip, don't ask again", {kSkipAlways}, "--+-"},
      // The box ticked in the last run is unticked again; the close box
      // passes the support over and the next duplicate is asked about.
      {"close box, then one by one", {kCloseBox, kImport, kSkip}, "-++-"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    catalogue.Db().EmptyBase();
    catalogue.AddSupport("A", 1);
    catalogue.AddSupport("B", 2);
    size_t asked = 0;
    importArchive(archive, [&] {
      ASSERT_LT(asked, c.answers.size());
      const Answer answer = c.answers[asked++];
      if (answer == kImportAlways || answer == kSkipAlways) Click(question, "cbNoMoreAsk");
      if (answer == kCloseBox) return (void)question.close();
      Click(question,
            answer == kImport || answer == kImportAlways ? "btnImportAgain" : "btnNoImport");
    });
    EXPECT_EQ(asked, c.answers.size());
    QStringList expected;
    int added = 0;
    for (int i = 0; i < 4; i++) {
      const bool imported = c.fates[i] == '+';
      added += imported;
      expected << QString(imported ? "Ajout SUPPORT : " : "Passe SUPPORT : ") +
                      QStringList{"A", "B", "C", "C2"}[i]
               << QString::fromUtf8(imported ? "   1 Fichier(s) Ajouté(s)"
                                             : "   1 Fichier(s) Passé(s)");
    }
    EXPECT_EQ(trace(),
              QStringList("Format d'export 101") + expected + endLines(4, added, 4, added));
    EXPECT_EQ(catalogue.Db().GetSupportCount(), 2 + added);
  }
}

// Stop ends the import after the line being read; the support being read
// keeps the files added so far. A close asked for meanwhile waits for the
// end of the import.
TEST_F(ImportFormTest, StopAndCloseDuringAnImport) {
  std::string archive = header(3);
  for (const char* name : {"A", "B", "C"})
    archive += volumeBlock(name, name[0], 3) + fileBlock("f1") + fileBlock("f2") + fileBlock("f3");
  testing_support::FakeOs fake;
  fake.clockStep = 20;  // every line lets events through
  platform::ScopedOs os(fake);
  bool stopped = false;
  ScopedMessagePump pump([&] {
    if (stopped || !trace().contains("Ajout SUPPORT : B") ||
        Child<QProgressBar>(dialog, "pgBar")->value() != 1)
      return;
    EXPECT_FALSE(Child<QPushButton>(dialog, "btnImport")->isVisible());
    Click(dialog, "btnClose");
    EXPECT_TRUE(dialog.isVisible());
    Click(dialog, "btnStop");
    stopped = true;
  });
  importArchive(archive);
  EXPECT_TRUE(stopped);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(lastLines(4),
            QStringList(QString::fromUtf8("   1 Fichier(s) Ajouté(s)")) + endLines(2, 2, 4, 4));
  EXPECT_TRUE(Child<QPushButton>(dialog, "btnImport")->isVisibleTo(&dialog));
  TSupportRecord b;
  ASSERT_TRUE(catalogue.Db().GotoSupport(2));
  catalogue.Db().ReadCurrentSupport(b);
  EXPECT_EQ(b.fileCount, 1);
  EXPECT_EQ(TIniFile(folder.IniPath()).ReadString("Import", "DefaultArchive", ""), "in.cex");
}

// A file that cannot be opened is reported as one not found; a damaged
// archive imports what is sound and counts what it passed over.
TEST_F(ImportFormTest, FailuresAndDamage) {
  std::string cut = volumeBlock("CUT", 9, 1);
  cut.replace(cut.find("S_TYPE="), 1, "X");
  const struct {
    const char* name;
    std::string archive;  // empty: no file
    bool cannotOpen;
    QString box;  // text|caption
    QStringList lastLines;
    bool fullDisk = false;
  } cases[] = {
      {"no file", "", false, QString::fromUtf8("Fichier infrouvable:\nin.cex|Attention"), {}},
      {"unreadable", "x", true, QString::fromUtf8("Fichier infrouvable:\nin.cex|Attention"), {}},
      {"format 102", header(1, 102), false, "Format Export invalide|Error",
       QStringList("Format d'export 102") + endLines(0, 0, 0, 0)},
      {"damaged", header(2) + fileBlock("orphan") + volumeBlock("A", 1, 1) + cut, false, "",
       QStringList({"Passe SUPPORT : ", QString::fromUtf8("Blocs endommagés passés : 2")}) +
           endLines(2, 1, 1, 0)},
      // The rows are taken, but the file table cannot be written: the
      // import is not a whole one, and no line calls the files added (the
      // support's own line of files added is not written).
      {"a full disk", header(1) + volumeBlock("B", 2, 2) + fileBlock("b1") + fileBlock("b2"), false,
       "",
       QStringList({"Ajout SUPPORT : B",
                    QString::fromUtf8("Ecriture dans la base impossible : importation arrêtée, 0 "
                                      "fichier(s) enregistré(s), 2 en attente d'écriture, 0 "
                                      "refusé(s)")}) +
           endLines(1, 1, 2, 0, 2),
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove("in.cex");
    if (!c.archive.empty()) writeDiskFile("in.cex", c.archive);
    testing_support::FakeOs fake;
    platform::ScopedOs os(fake);
    if (c.cannotOpen) fake.openError = EACCES;
    if (c.fullDisk) fake.failFile(testing_support::FakeOs::Io::write, "DBFILES.dbf", ENOSPC);
    const std::vector<BoxRequest> shown = importFile("in.cex");
    QString box;
    for (const BoxRequest& request : shown) box += request.text + "|" + request.caption;
    EXPECT_EQ(box, c.box);
    EXPECT_EQ(lastLines(c.lastLines.size()), c.lastLines);
  }
  EXPECT_EQ(catalogue.Db().GetSupportCount(), 2);
}

TEST_F(ImportFormTest, ExportEmptyImportExportGivesTheSameArchiveButForTheIds) {
  const int32_t photos = catalogue.AddSupport("PHOTOS", 0xDEADBEEF, {"a.jpg", "sub\\b.jpg"});
  catalogue.Db().UpdateSupportInfo(photos, "holidays", "first\r\n\r\nthird");
  catalogue.AddSupport("EMPTY", 5);
  catalogue.AddSupport("MUSIC", 7, {"c.mp3"});
  TfrmExport exporter;
  exporter.show();
  const auto exportTo = [&](const char* path) {
    exporter.SetExportScope(-1);
    Child<QLineEdit>(exporter, "edtTargetArchive")->setText(path);
    Click(exporter, "btnSave");
    return readDiskFile(path);
  };
  const std::string before = exportTo("before.cex");
  ASSERT_TRUE(catalogue.Db().EmptyBase());
  EXPECT_TRUE(importFile("before.cex").empty());
  const std::string after = exportTo("after.cex");
  const std::regex id("(S_ID|F_ID|F_SUPID)=[0-9]+");
  EXPECT_NE(before, after);
  EXPECT_EQ(std::regex_replace(before, id, "$1="), std::regex_replace(after, id, "$1="));
  EXPECT_NE(before.find("S_COMMENT.LINE.2=third"), std::string::npos);
}

// The import running, its question, its end; then the export.
TEST(ArchiveDialogsScreenshot, InEnglishAndFrench) {
  TestProgramFolder folder(BuiltLanguageLibrary());
  TfrmData data;
  TestCatalogue catalogue;
  catalogue.AddSupport("PHOTOS 2004", 1);
  writeDiskFile("in.cex", header(2) + volumeBlock("PHOTOS 2004", 1, 2) + fileBlock("a.jpg") +
                              fileBlock("b.jpg") + volumeBlock("Musique \xE9t\xE9", 2, 1) +
                              fileBlock("c.mp3"));
  for (const int entry : {0, 1}) {
    data.Texts().LoadLanguage(data.Texts().GetLanguageId(entry));
    const std::string suffix = entry == 0 ? "_en" : "_fr";
    TfrmWarnSupportInDB question;
    TfrmImport dialog;
    dialog.show();
    ScriptedModals modals([&](QDialog&) {
      EXPECT_FALSE(SaveScreenshot(dialog, "import_running" + suffix).empty());
      EXPECT_FALSE(SaveScreenshot(question, "import_question" + suffix).empty());
      Click(question, "btnImportAgain");
    });
    Child<QLineEdit>(dialog, "edtTargetArchive")->setText("in.cex");
    Click(dialog, "btnImport");
    EXPECT_FALSE(SaveScreenshot(dialog, "import" + suffix).empty());
    TfrmExport exporter;
    exporter.SetExportScope(-1);
    exporter.show();
    Child<QLineEdit>(exporter, "edtTargetArchive")->setText("out" + QString::fromStdString(suffix));
    Click(exporter, "btnSave");
    EXPECT_FALSE(SaveScreenshot(exporter, "export" + suffix).empty());
  }
}

}  // namespace
