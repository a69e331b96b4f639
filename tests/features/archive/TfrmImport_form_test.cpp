// The import dialog over a real catalogue, with the real duplicate
// question: the answers and "don't ask again", Stop and a close during an
// import, every failure's box, and a round trip through both dialogs.
#include <gtest/gtest.h>

#include <QCheckBox>
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

const QString kFinished = "Finished";

QString supportCounts(int read, int added, int passed) {
  return QString::fromUtf8("SUPPORTS : %1  traité(s), %2 importé(s), %3 passé(s)")
      .arg(read, 5)
      .arg(added)
      .arg(passed);
}

QString fileCounts(int read, int added, int passed) {
  return QString::fromUtf8("FICHIERS : %1  traité(s), %2 importé(s), %3 passé(s)")
      .arg(read, 5)
      .arg(added)
      .arg(passed);
}

// The trace lines that say what became of each support.
QStringList supportLines(const QStringList& trace) {
  QStringList lines;
  for (const QString& line : trace) {
    if (line.startsWith("Ajout SUPPORT") || line.startsWith("Passe SUPPORT")) lines << line;
  }
  return lines;
}

class ImportFormTest : public ::testing::Test {
 protected:
  // Runs the dialog as the main window does and imports `path`; each
  // duplicate question goes to `answer`. The boxes shown.
  std::vector<BoxRequest> importFile(const QString& path,
                                     std::function<void(QDialog&)> answer = {}) {
    ScriptedMessageBoxes boxes;
    ScriptedModals modals([&](QDialog& shown) {
      if (&shown == &question) {
        if (answer) answer(shown);
        return;
      }
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
                                        std::function<void(QDialog&)> answer = {}) {
    writeDiskFile("in.cex", archive);
    return importFile("in.cex", std::move(answer));
  }
  QStringList trace() { return ListLines(dialog, "lbTrace"); }

  TestProgramFolder folder;
  TfrmData data;
  TestCatalogue catalogue;
  TfrmWarnSupportInDB question;
  TfrmImport dialog;
};

TEST_F(ImportFormTest, DuplicatesFollowTheAnswersGivenToTheQuestion) {
  // A and B are in the catalogue; C2 has the serial of C, which the import
  // adds first.
  const std::string archive = header(4) + volumeBlock("A", 1, 1) + fileBlock("a") +
                              volumeBlock("B", 2, 1) + fileBlock("b") + volumeBlock("C", 3, 1) +
                              fileBlock("c") + volumeBlock("C2", 3, 1) + fileBlock("c2");
  enum Answer { kImport, kImportAlways, kSkip, kSkipAlways, kCloseBox };
  const struct {
    const char* name;
    std::vector<Answer> answers;
    QStringList supports;
    int added;
  } cases[] = {
      {"import, don't ask again",
       {kImportAlways},
       {"Ajout SUPPORT : A", "Ajout SUPPORT : B", "Ajout SUPPORT : C", "Ajout SUPPORT : C2"},
       4},
      {"skip, don't ask again",
       {kSkipAlways},
       {"Passe SUPPORT : A", "Passe SUPPORT : B", "Ajout SUPPORT : C", "Passe SUPPORT : C2"},
       1},
      // The box ticked in the run before is unticked again; the close box
      // passes the support over and asks again next time.
      {"close box, then one by one",
       {kCloseBox, kImport, kSkip},
       {"Passe SUPPORT : A", "Ajout SUPPORT : B", "Ajout SUPPORT : C", "Passe SUPPORT : C2"},
       2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    catalogue.Db().EmptyBase();
    catalogue.AddSupport("A", 1);
    catalogue.AddSupport("B", 2);
    size_t asked = 0;
    importArchive(archive, [&](QDialog&) {
      ASSERT_LT(asked, c.answers.size());
      const Answer answer = c.answers[asked++];
      if (answer == kImportAlways || answer == kSkipAlways) Click(question, "cbNoMoreAsk");
      if (answer == kCloseBox) {
        question.close();
      } else {
        Click(question,
              answer == kImport || answer == kImportAlways ? "btnImportAgain" : "btnNoImport");
      }
    });
    EXPECT_EQ(asked, c.answers.size());
    EXPECT_EQ(supportLines(trace()), c.supports);
    EXPECT_EQ(trace().mid(trace().size() - 3),
              (QStringList{kFinished, supportCounts(4, c.added, 4 - c.added),
                           fileCounts(4, c.added, 4 - c.added)}));
    EXPECT_EQ(catalogue.Db().GetSupportCount(), 2 + c.added);
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
  EXPECT_EQ(trace().mid(trace().size() - 3),
            (QStringList{kFinished, supportCounts(2, 2, 0), fileCounts(4, 4, 0)}));
  EXPECT_EQ(trace()[trace().size() - 4], QString::fromUtf8("   1 Fichier(s) Ajouté(s)"));
  EXPECT_TRUE(Child<QPushButton>(dialog, "btnImport")->isVisibleTo(&dialog));
  EXPECT_FALSE(Child<QPushButton>(dialog, "btnStop")->isVisibleTo(&dialog));
  TSupportRecord b;
  ASSERT_TRUE(catalogue.Db().GotoSupport(2));
  catalogue.Db().ReadCurrentSupport(b);
  EXPECT_EQ(b.volume, "B");
  EXPECT_EQ(b.fileCount, 1);
  EXPECT_EQ(TIniFile(folder.IniPath()).ReadString("Import", "DefaultArchive", ""), "in.cex");
}

TEST_F(ImportFormTest, EveryWayAnImportFailsIsShown) {
  const QString notFound = QString::fromUtf8("Fichier infrouvable:\n");
  const struct {
    const char* name;
    const char* archive;  // null: no file
    bool cannotOpen;
    const char* path;
    QStringList box;  // text and caption
    QStringList trace;
  } cases[] = {
      {"no path", nullptr, false, "", {notFound, "Attention"}, {}},
      {"no file", nullptr, false, "missing.cex", {notFound + "missing.cex", "Attention"}, {}},
      {"unreadable", "x", true, "in.cex", {notFound + "in.cex", "Attention"}, {}},
      {"format 0",
       "TOTAL_SUPPORT=1\r\nCATALOG_EXPORT=0\r\n",
       false,
       "in.cex",
       {"Format Export invalide", "Error"},
       {"Format d'export 0", kFinished, supportCounts(0, 0, 0), fileCounts(0, 0, 0)}},
      {"format 102",
       "TOTAL_SUPPORT=1\r\nCATALOG_EXPORT=102\r\n@VOLUME=(\r\n",
       false,
       "in.cex",
       {"Format Export invalide", "Error"},
       {"Format d'export 102", kFinished, supportCounts(0, 0, 0), fileCounts(0, 0, 0)}},
      {"format -3",
       "TOTAL_SUPPORT=1\r\nCATALOG_EXPORT=-3\r\n",
       false,
       "in.cex",
       {},
       {"Format d'export -3", kFinished, supportCounts(0, 0, 0), fileCounts(0, 0, 0)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove("in.cex");
    if (c.archive != nullptr) writeDiskFile("in.cex", c.archive);
    testing_support::FakeOs fake;
    platform::ScopedOs os(fake);
    if (c.cannotOpen) fake.openError = EACCES;
    const std::vector<BoxRequest> shown = importFile(QString::fromUtf8(c.path));
    ASSERT_EQ(shown.size(), c.box.isEmpty() ? 0u : 1u);
    if (!c.box.isEmpty()) {
      EXPECT_EQ((QStringList{shown[0].text, shown[0].caption}), c.box);
    }
    EXPECT_EQ(trace(), c.trace);
  }
  EXPECT_EQ(catalogue.Db().GetSupportCount(), 0);
}

// Damage is passed over and counted: a file block before any support, a
// support block whose run of keys breaks off (with its files).
TEST_F(ImportFormTest, ADamagedArchiveReportsWhatItPassedOver) {
  std::string cut = volumeBlock("CUT", 9, 1);
  cut.replace(cut.find("S_TYPE="), 1, "X");
  importArchive(header(2) + fileBlock("orphan") + volumeBlock("A", 1, 1) + fileBlock("a") + cut +
                fileBlock("lost"));
  EXPECT_EQ(trace(), (QStringList{"Format d'export 101", "Ajout SUPPORT : A",
                                  QString::fromUtf8("   1 Fichier(s) Ajouté(s)"),
                                  "Passe SUPPORT : ", QString::fromUtf8("   1 Fichier(s) Passé(s)"),
                                  QString::fromUtf8("Blocs endommagés passés : 2"), kFinished,
                                  supportCounts(2, 1, 1), fileCounts(3, 1, 2)}));
  EXPECT_EQ(catalogue.Db().GetSupportCount(), 1);
}

std::string withoutIds(const std::string& archive) {
  static const std::regex id("(S_ID|F_ID|F_SUPID)=[0-9]+");
  return std::regex_replace(archive, id, "$1=");
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
  EXPECT_NE(before, after);
  EXPECT_EQ(withoutIds(before), withoutIds(after));
  EXPECT_NE(before.find("S_COMMENT.LINE.2=third"), std::string::npos);
}

TEST(ImportFormScreenshot, TheImportAndItsQuestionInEnglishAndFrench) {
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
  }
}

}  // namespace
