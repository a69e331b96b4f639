// The indexing dialog on a real catalogue, with plain folders of the test
// listed as drives (FakeMedia) and the message pump replaced, so that a
// test sees the progress and clicks in the middle of a step.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStatusBar>
#include <climits>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/MessagePump.h"
#include "app/TfrmData.h"
#include "catalog/Owntablehandle.h"
#include "engine/storage/data4record.h"
#include "features/indexing/TfrmIndexing.h"
#include "tests/support/fake_media.h"
#include "tests/support/fake_os.h"
#include "tests/support/form_children.h"
#include "tests/support/screenshot.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/test_catalogue.h"
#include "tests/support/test_program_folder.h"

namespace {

namespace fs = std::filesystem;
using testing_support::FakeMedia;

constexpr uint32_t kSerial = 0x1234ABCD;

void writeFile(const fs::path& path, size_t bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
}

// Names a Linux medium may hold (UTF-8; a trailing '/' makes a folder), and
// the name, path and extension the catalogue keeps of them.
const struct {
  const char* native;
  const char* name;
  const char* path;
  const char* ext;
} kOddNames[] = {
    {"with space.txt", "with space.txt", "\\", ".txt"},
    {"accentu\xC3\xA9.txt", "accentu\xE9.txt", "\\", ".txt"},
    {"[1].txt", "[1].txt", "\\", ".txt"},
    {"%d%s.txt", "%d%s.txt", "\\", ".txt"},
    {"back\\slash.txt", "back?slash.txt", "\\", ".txt"},
    {"new\nline.txt", "new?line.txt", "\\", ".txt"},
    {"\xE6\x97\xA5\xE6\x9C\xAC.txt", "??.txt", "\\", ".txt"},
    {"v1.0/", "v1.0", "\\", ""},
    {"dossier \xC3\xA9/inner.tar.gz", "inner.tar.gz", "\\dossier \xE9\\", ".gz"},
};

// A medium of exactly `entries` entries (at least 12): the odd names, the
// folder "dossier é", then a folder of files, file i holding i bytes.
// Returns the sum of the sizes.
int64_t makeMedium(const std::string& root, int entries) {
  int64_t total = 0;
  for (const auto& odd : kOddNames) {
    const std::string native = odd.native;
    if (native.back() == '/') {
      fs::create_directories(fs::path(root) / native);
    } else {
      writeFile(fs::path(root) / native, 7);
      total += 7;
    }
  }
  for (int i = 0; i < entries - 11; i++) {
    writeFile(fs::path(root) / "bulk" / ("f" + std::to_string(i)), i);
    total += i;
  }
  return total;
}

// The user picks a drive and starts the scan.
void scan(QWidget& form, int drive = 0) {
  Child<QComboBox>(form, "lbDriveList")->setCurrentIndex(drive);
  Click(form, "btnIndexStart");
}
QString status(QWidget& form) { return Child<QStatusBar>(form, "statBar")->currentMessage(); }
// Which of Start, Sign, Reset and Insert are enabled, as "S-RI".
std::string buttons(QWidget& form) {
  std::string state;
  for (const char* name : {"btnIndexStart", "btnAuthenticate", "btnReset", "btnInsertDatabase"})
    state += Child<QPushButton>(form, name)->isEnabled() ? "SARI"[state.size()] : '-';
  return state;
}
QString fr(const char* text) { return QString::fromUtf8(text); }

class IndexingDialogTest : public ::testing::Test {
 protected:
  // The rows of a support, in the order they were stored.
  std::vector<TFileRecord> rowsOf(int32_t support) {
    std::vector<TFileRecord> rows;
    TDBWrapper& db = catalogue.Db();
    for (bool more = db.FindFirstFileOfSupport(support) == TFound::kRecord; more;
         more = db.NextFile() == TFound::kRecord) {
      db.ReadCurrentFile(rows.emplace_back());
      if (rows.back().supportId != support) return {rows.begin(), rows.end() - 1};
    }
    return rows;
  }
  int32_t fileRecords() { return data4recCount(TOwnTableHandle(catalogue.Db().Files()).get()); }

  TestProgramFolder folder;
  TfrmData data;
  TestCatalogue catalogue;
  FakeMedia media;
};

// The main path, as the main window runs it (reset, show, pick the stick,
// scan, type the comments, insert), for a medium whose serial two supports
// already carry: a warning, and the medium is stored all the same.
TEST_F(IndexingDialogTest, IndexingAMediumStoresItsSupportAndEveryEntryInWalkOrder) {
  catalogue.AddSupport("FIRST", kSerial);
  catalogue.AddSupport("SECOND", kSerial);
  const int64_t total = makeMedium("stick", 250);
  const std::string root = media.addRemovableDrive("stick", "Cl\xC3\xA9", kSerial);
  TfrmIndexing dialog;
  dialog.ApplyLanguage();
  dialog.ResetIndexing();
  ScriptedMessageBoxes boxes({BoxAnswer::Ok});
  QStringList pumped;
  ScopedMessagePump pump([&] {
    auto* bar = Child<QProgressBar>(dialog, "pgInsertion");
    pumped << (bar->isVisibleTo(&dialog) ? QString("bar %1").arg(bar->value()) : status(dialog));
  });
  ScriptedModals modals([&](QDialog&) {
    EXPECT_EQ(status(dialog), "Ready");
    EXPECT_EQ(buttons(dialog), "S---");
    scan(dialog);
    EXPECT_EQ(buttons(dialog), "--RI");
    // Pasted: QTest types ASCII only.
    Child<QLineEdit>(dialog, "edtShortComment")->insert(fr("Clé n°1"));
    auto* memo = Child<QPlainTextEdit>(dialog, "meLongComment");
    QTest::keyClicks(memo, "line 1");
    QTest::keyClick(memo, Qt::Key_Return);
    QTest::keyClicks(memo, "line 2");
    Click(dialog, "btnInsertDatabase");
    EXPECT_EQ(buttons(dialog), "--R-");
    Click(dialog, "btnCancel");
  });
  EXPECT_EQ(RunModal(dialog), QDialog::Rejected);

  EXPECT_EQ(pumped, (QStringList{"100 files processed", "200 files processed", "bar 0", "bar 100",
                                 "bar 200"}));
  EXPECT_EQ(Child<QProgressBar>(dialog, "pgInsertion")->value(), 250);
  EXPECT_EQ(
      ListLines(dialog, "lbTrace"),
      (QStringList{"Scanning    :" + QString::fromStdString(root), fr("Volume Name : Clé"),
                   "Volume ID   : 1234-ABCD", fr("Scanning terminé : 250 fichier(s) trouvé(s)"),
                   fr("Taille totale : %1 octet(s) de données").arg(total)}));
  EXPECT_EQ(status(dialog), "250 files processed");
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].text,
            fr("La base contient déjà :\n2 support(s) avec le même N° de série !"));
  EXPECT_EQ(boxes.Shown()[0].caption, "Attention !");
  EXPECT_EQ(boxes.Shown()[0].modality, BoxModality::System);

  TDBWrapper& db = catalogue.Db();
  ASSERT_EQ(db.GetSupportCount(), 3);
  ASSERT_TRUE(db.GotoSupport(3));
  TSupportRecord support;
  db.ReadCurrentSupport(support);
  EXPECT_EQ(support.type, "FD");
  EXPECT_EQ(support.volume, "Cl\xE9");
  EXPECT_EQ(static_cast<uint32_t>(support.volumeSerial), kSerial);
  EXPECT_EQ(support.fileCount, 250);
  EXPECT_EQ(support.size, total);
  EXPECT_EQ(support.userId,
            "Cl\xE9 n\xB0"
            "1");
  EXPECT_EQ(support.text, "line 1\r\nline 2");

  // One row per entry, in the order of a walk of the same medium.
  const std::vector<TFileRecord> rows = rowsOf(support.id);
  DirEnumerator walk;
  ASSERT_EQ(walk.Enumerate(root), 250);
  ASSERT_EQ(rows.size(), 250u);
  EXPECT_EQ(fileRecords(), 250);
  std::map<std::string, TFileRecord> byName;
  for (size_t i = 0; i < rows.size(); i++) {
    EXPECT_EQ(rows[i].name + rows[i].path, walk.GetEntry(i)->name + walk.GetEntry(i)->directory);
    EXPECT_TRUE(i == 0 || rows[i].id > rows[i - 1].id);
    byName[rows[i].name] = rows[i];
  }
  for (const auto& odd : kOddNames) {
    const TFileRecord& row = byName[odd.name];
    EXPECT_EQ(row.path + "|" + row.ext, std::string(odd.path) + "|" + odd.ext) << odd.name;
    EXPECT_EQ(row.size, std::string(odd.native).back() == '/' ? 0 : 7) << odd.name;
  }
}

// No drive: Start does nothing. A drive with nothing on it: the walk finds
// nothing, gives no warning (even for a serial already catalogued) and the
// later steps stay unavailable.
TEST_F(IndexingDialogTest, NothingToIndexLeavesTheLaterStepsUnavailable) {
  catalogue.AddSupport("OLD", kSerial);
  TfrmIndexing dialog;
  dialog.show();
  ScriptedMessageBoxes boxes;
  Click(dialog, "btnIndexStart");
  EXPECT_TRUE(ListLines(dialog, "lbTrace").isEmpty());
  EXPECT_EQ(buttons(dialog), "S---");

  fs::create_directory("empty");
  media.addRemovableDrive("empty", "", kSerial);
  dialog.ResetIndexing();
  EXPECT_EQ(Child<QComboBox>(dialog, "lbDriveList")->currentIndex(), -1);  // only CD-ROMs are
  scan(dialog);
  EXPECT_EQ(ListLines(dialog, "lbTrace").mid(3),
            (QStringList{fr("Scanning terminé : 0 fichier(s) trouvé(s)"),
                         fr("Taille totale : 0 octet(s) de données")}));
  EXPECT_EQ(buttons(dialog), "S---");
  EXPECT_TRUE(boxes.Shown().empty());
}

// Close (or the window's close) while a step runs: the walk stops after the
// current entry and nothing is stored; an insertion runs to its end. Reset,
// which would discard the entries being stored, is unavailable meanwhile.
// Either way the dialog closes once the step has returned.
TEST_F(IndexingDialogTest, ClosingWhileAStepRunsWaitsForTheStepToReturn) {
  const struct {
    bool duringInsertion;
    int32_t rows;
  } cases[] = {{false, 0}, {true, 250}};
  makeMedium("stick", 250);
  media.addRemovableDrive("stick", "", kSerial);
  for (const auto& c : cases) {
    TfrmIndexing dialog;
    bool closed = false;
    ScopedMessagePump pump([&] {
      const bool inserting = Child<QProgressBar>(dialog, "pgInsertion")->isVisibleTo(&dialog);
      if (closed || inserting != c.duringInsertion) return;
      EXPECT_EQ(buttons(dialog), "----");
      closed = true;
      dialog.close();
      Click(dialog, "btnReset");
      EXPECT_TRUE(dialog.isVisible());
    });
    ScriptedModals modals([&](QDialog&) {
      scan(dialog);
      if (dialog.isVisible()) Click(dialog, "btnInsertDatabase");
    });
    EXPECT_EQ(RunModal(dialog), QDialog::Rejected);
    EXPECT_TRUE(closed && !dialog.isVisible());
    EXPECT_EQ(ListLines(dialog, "lbTrace").value(3),
              fr("Scanning terminé : %1 fichier(s) trouvé(s)").arg(c.rows ? 250 : 100));
    EXPECT_EQ(fileRecords(), c.rows) << c.duringInsertion;
  }
}

// Names and folder paths longer than the catalogue's fields are stored cut;
// the trace says how many entries that will be before anything is stored.
// A support that cannot be stored takes no file with it.
TEST_F(IndexingDialogTest, WhatTheCatalogueCannotHoldIsToldBeforehand) {
  const std::string longName(251, 'n'), outer(130, 'a'), inner(130, 'b');
  writeFile(fs::path("deep") / longName, 1);
  writeFile(fs::path("deep") / outer / inner / "f.txt", 1);
  media.addRemovableDrive("deep", "DEEP", kSerial);
  TfrmIndexing dialog;
  dialog.show();
  ScriptedMessageBoxes boxes;
  scan(dialog);
  EXPECT_EQ(ListLines(dialog, "lbTrace").value(5),
            fr("2 nom(s) ou chemin(s) de plus de 250 caractères seront coupés"));
  Click(dialog, "btnInsertDatabase");
  std::map<std::string, std::string> pathOf;
  for (const TFileRecord& row : rowsOf(1)) pathOf[row.name] = row.path;
  EXPECT_EQ(pathOf.size(), 4u);
  EXPECT_EQ(pathOf[longName.substr(0, 250)], "\\");
  EXPECT_EQ(pathOf["f.txt"], ("\\" + outer + "\\" + inner + "\\").substr(0, 250));

  TSupportRecord last;
  last.id = INT32_MAX;  // the support ids are used up
  catalogue.Db().AddSupportRecord(last);
  catalogue.Reopen();
  dialog.ResetIndexing();
  scan(dialog);
  Click(dialog, "btnInsertDatabase");
  ASSERT_EQ(boxes.Shown().size(), 2u);  // the warning for the first support, then
  EXPECT_EQ(boxes.Shown()[1].text, fr("Le support n'a pas pu être ajouté à la base de données : "
                                      "aucun fichier n'a été ajouté."));
  EXPECT_EQ(fileRecords(), 4);
  EXPECT_EQ(buttons(dialog), "--R-");
}

// A disk that fills while the rows are stored: the trace tells how many
// entries the disk holds, how many wait in memory for it and how many the
// catalogue refused, and the bar stops at those the disk holds.
TEST_F(IndexingDialogTest, AnInsertionTheDiskCannotTakeIsToldFromASuccess) {
  makeMedium("stick", 250);
  media.addRemovableDrive("stick", "", kSerial);
  TfrmIndexing dialog;
  dialog.show();
  ScriptedMessageBoxes boxes;
  scan(dialog);
  {
    testing_support::FakeOs os;
    platform::ScopedOs scoped(os);
    os.diskSpace = 16 * 1024;
    Click(dialog, "btnInsertDatabase");
  }
  const QString last = ListLines(dialog, "lbTrace").constLast();
  const QRegularExpression line(
      fr("^Ecriture dans la base impossible : (\\d+) élément\\(s\\) enregistré\\(s\\), (\\d+) en "
         "attente d'écriture, (\\d+) refusé\\(s\\)$"));
  const QRegularExpressionMatch counts = line.match(last);
  ASSERT_TRUE(counts.hasMatch()) << last.toStdString();
  const int recorded = counts.captured(1).toInt();
  auto* bar = Child<QProgressBar>(dialog, "pgInsertion");
  EXPECT_EQ(recorded + counts.captured(2).toInt() + counts.captured(3).toInt(), bar->maximum());
  EXPECT_EQ(bar->value(), recorded);
  EXPECT_LT(bar->value(), bar->maximum());
}

// Removable and CD-ROM drives are offered, the first CD-ROM chosen; the
// drive the user chose stays chosen while its device is mounted, wherever.
TEST_F(IndexingDialogTest, DriveListKeepsTheChosenDeviceAcrossMountPoints) {
  for (const char* name : {"cd1", "cd2", "usb", "fixed", "usb-again"}) fs::create_directory(name);
  const auto mount = [](FakeMedia& on, const char* name, const char* type, const char* device) {
    on.addMount(fs::canonical(name).string(), type, device, "11:0");
  };
  mount(media, "fixed", "ext4", "/dev/sda");
  mount(media, "cd1", "iso9660", "/dev/sr0");
  mount(media, "cd2", "iso9660", "/dev/sr1");
  media.addRemovableDrive("usb", "USB", 1);
  TfrmIndexing dialog;
  auto* drives = Child<QComboBox>(dialog, "lbDriveList");
  const auto shown = [&] {
    QStringList names;
    for (int i = 0; i < drives->count(); i++) names << QFileInfo(drives->itemText(i)).fileName();
    return names;
  };
  EXPECT_EQ(shown(), (QStringList{"cd1", "cd2", "usb"}));
  EXPECT_EQ(drives->currentIndex(), 0);
  const QList<QIcon>& pictures = data.imgListSupport();
  EXPECT_EQ(drives->itemIcon(1).cacheKey(), pictures[TfrmData::kCdRomPicture].cacheKey());
  EXPECT_EQ(drives->itemIcon(2).cacheKey(), pictures[TfrmData::kRemovablePicture].cacheKey());

  drives->setCurrentIndex(2);
  {
    FakeMedia next("fake-media-next");  // the stick is back, mounted elsewhere
    mount(next, "cd1", "iso9660", "/dev/sr0");
    next.addRemovableDrive("usb-again", "USB", 1);
    dialog.ResetIndexing();
    EXPECT_EQ(shown(), (QStringList{"cd1", "usb-again"}));
    EXPECT_EQ(drives->currentIndex(), 1);
  }
  FakeMedia gone("fake-media-gone");
  mount(gone, "cd2", "iso9660", "/dev/sr1");
  dialog.ResetIndexing();
  EXPECT_EQ(shown(), QStringList{"cd2"});
  EXPECT_EQ(drives->currentIndex(), 0);
}

// Every line a finished scan writes (six with over-long names), and one
// more that an insertion adds, are seen at the dialog's designed size
// without scrolling, in both languages, even when a long mount point makes
// the list scroll sideways.
TEST(IndexingTrace, EveryLineOfAScanIsSeenWithoutScrolling) {
  TestProgramFolder folder(BuiltLanguageLibrary());
  TfrmData data;
  TestCatalogue catalogue;
  FakeMedia media;
  const std::string root = "stick-mounted-under-a-long-path-" + std::string(60, 'm');
  makeMedium(root, 20);
  writeFile(fs::path(root) / std::string(251, 'n'), 1);
  media.addRemovableDrive(root, "USB", kSerial);
  ScriptedMessageBoxes boxes;
  CStandardTextResources& texts = data.Texts();
  for (int entry : {0, 1}) {
    texts.LoadLanguage(texts.GetLanguageId(entry));
    TfrmIndexing dialog;
    dialog.ApplyLanguage();
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    scan(dialog);
    auto* trace = Child<QListWidget>(dialog, "lbTrace");
    ASSERT_EQ(trace->count(), 6) << entry;
    trace->addItem(QStringLiteral("Stored: 21 row(s), refused: 0 row(s)"));
    trace->doItemsLayout();
    QApplication::processEvents();
    EXPECT_EQ(trace->verticalScrollBar()->maximum(), 0) << entry;
  }
}

// Pictures for a person to look at: the dialog after a scan (with the line
// of over-long names) and after the insertion, in English and in French.
TEST(IndexingScreenshot, AfterAScan) {
  TestProgramFolder folder(BuiltLanguageLibrary());
  TfrmData data;
  TestCatalogue catalogue;
  FakeMedia media;
  makeMedium("stick", 250);
  writeFile(fs::path("stick") / std::string(251, 'n'), 1);
  media.addRemovableDrive("stick", "Cl\xC3\xA9 USB", kSerial);
  ScriptedMessageBoxes boxes;  // the second scan's warning
  CStandardTextResources& texts = data.Texts();
  for (const auto& [entry, suffix] : {std::pair{0, "en"}, std::pair{1, "fr"}}) {
    texts.LoadLanguage(texts.GetLanguageId(entry));
    TfrmIndexing dialog;
    dialog.ApplyLanguage();
    Child<QLineEdit>(dialog, "edtShortComment")->setText(fr("Clé de sauvegarde"));
    scan(dialog);
    EXPECT_FALSE(SaveScreenshot(dialog, std::string("indexing_") + suffix).empty());
    Click(dialog, "btnInsertDatabase");
    EXPECT_FALSE(SaveScreenshot(dialog, std::string("indexing_inserted_") + suffix).empty());
  }
}

}  // namespace
