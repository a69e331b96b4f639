// The indexing dialog on a real catalogue, with plain folders of the test
// listed as drives (FakeMedia) and the message pump replaced, so that a
// test sees the progress and clicks in the middle of a step.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
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

// Names a Linux medium may hold, and what the catalogue keeps of them.
struct OddName {
  const char* native;  // below the medium's root, UTF-8
  bool folder;
  const char* name;  // stored, Windows-1252
  const char* path;
  const char* ext;
};
const OddName kOddNames[] = {
    {"with space.txt", false, "with space.txt", "\\", ".txt"},
    {"accentu\xC3\xA9.txt", false, "accentu\xE9.txt", "\\", ".txt"},
    {"[1].txt", false, "[1].txt", "\\", ".txt"},
    {"%d%s.txt", false, "%d%s.txt", "\\", ".txt"},
    {"back\\slash.txt", false, "back?slash.txt", "\\", ".txt"},
    {"new\nline.txt", false, "new?line.txt", "\\", ".txt"},
    {"\xE6\x97\xA5\xE6\x9C\xAC.txt", false, "??.txt", "\\", ".txt"},
    {"v1.0", true, "v1.0", "\\", ""},
    {"dossier \xC3\xA9", true, "dossier \xE9", "\\", ""},
    {"dossier \xC3\xA9/inner.tar.gz", false, "inner.tar.gz", "\\dossier \xE9\\", ".gz"},
};

// A medium of exactly `entries` entries: the odd names, then a folder of
// plain files; file i holds i bytes. Returns the sum of the sizes.
int64_t makeMedium(const std::string& root, int entries) {
  int64_t total = 0;
  int made = 0;
  for (const OddName& odd : kOddNames) {
    if (odd.folder) {
      fs::create_directories(fs::path(root) / odd.native);
    } else {
      writeFile(fs::path(root) / odd.native, 7);
      total += 7;
    }
    made++;
  }
  fs::create_directories(fs::path(root) / "bulk");
  for (int i = 0; ++made < entries; i++) {
    writeFile(fs::path(root) / "bulk" / ("f" + std::to_string(i) + ".dat"), i);
    total += i;
  }
  return total;
}

template <class Widget>
Widget* child(QWidget& form, const char* name) {
  auto* widget = form.findChild<Widget*>(QString::fromLatin1(name));
  EXPECT_NE(widget, nullptr) << name;
  return widget;
}
void click(QWidget& form, const char* name) {
  QTest::mouseClick(child<QPushButton>(form, name), Qt::LeftButton);
}
// The user picks a drive and starts the scan.
void scan(QWidget& form, int drive = 0) {
  child<QComboBox>(form, "lbDriveList")->setCurrentIndex(drive);
  click(form, "btnIndexStart");
}
QStringList trace(QWidget& form) {
  QStringList lines;
  auto* list = child<QListWidget>(form, "lbTrace");
  for (int i = 0; i < list->count(); i++) lines << list->item(i)->text();
  return lines;
}
QString status(QWidget& form) { return child<QStatusBar>(form, "statBar")->currentMessage(); }
// Which of Start, Sign, Reset and Insert are enabled, as "S-RI".
std::string buttons(QWidget& form) {
  const std::pair<const char*, char> steps[] = {{"btnIndexStart", 'S'},
                                                {"btnAuthenticate", 'A'},
                                                {"btnReset", 'R'},
                                                {"btnInsertDatabase", 'I'}};
  std::string state;
  for (const auto& [name, letter] : steps)
    state += child<QPushButton>(form, name)->isEnabled() ? letter : '-';
  return state;
}

class IndexingDialogTest : public ::testing::Test {
 protected:
  // The rows of a support, in the order they were stored.
  std::vector<TFileRecord> rowsOf(int32_t support) {
    std::vector<TFileRecord> rows;
    TDBWrapper& db = catalogue.Db();
    for (bool more = db.SeekFirstFileOfSupport(support); more; more = db.Skip(1)) {
      TFileRecord row;
      db.ReadCurrentFile(row);
      if (row.supportId != support) break;
      rows.push_back(row);
    }
    return rows;
  }
  int32_t fileRecords() {
    TOwnTableHandle files(catalogue.Db().Files());
    return data4recCount(files.get());
  }
  // A medium of `entries` entries listed as a removable drive.
  std::string stick(int entries, int64_t* total = nullptr) {
    const int64_t size = makeMedium("stick", entries);
    if (total != nullptr) *total = size;
    return media.addRemovableDrive("stick", "Cl\xC3\xA9", kSerial);
  }

  TestProgramFolder folder;
  TfrmData data;
  TestCatalogue catalogue;
  FakeMedia media;
};

// The main path, as the main window runs it: reset, show, pick the stick,
// scan, type the comments, insert.
TEST_F(IndexingDialogTest, IndexingAMediumStoresItsSupportAndEveryEntryInWalkOrder) {
  int64_t total = 0;
  const std::string root = stick(250, &total);
  TfrmIndexing dialog;
  dialog.ApplyLanguage();
  dialog.ResetIndexing();
  QStringList pumped;
  ScopedMessagePump pump([&] {
    auto* bar = child<QProgressBar>(dialog, "pgInsertion");
    pumped << (bar->isVisibleTo(&dialog) ? QString("bar %1").arg(bar->value()) : status(dialog));
  });
  ScriptedModals modals([&](QDialog&) {
    EXPECT_EQ(status(dialog), "Ready");
    EXPECT_EQ(buttons(dialog), "S---");
    scan(dialog);
    EXPECT_EQ(buttons(dialog), "--RI");
    // Typed, or pasted: QTest types ASCII only.
    child<QLineEdit>(dialog, "edtShortComment")->insert(QString::fromUtf8("Clé n°1"));
    auto* memo = child<QPlainTextEdit>(dialog, "meLongComment");
    QTest::keyClicks(memo, "line 1");
    QTest::keyClick(memo, Qt::Key_Return);
    QTest::keyClicks(memo, "line 2");
    click(dialog, "btnInsertDatabase");
    EXPECT_EQ(buttons(dialog), "--R-");
    auto* bar = child<QProgressBar>(dialog, "pgInsertion");
    EXPECT_EQ(bar->value(), bar->maximum());
    click(dialog, "btnCancel");
  });
  EXPECT_EQ(RunModal(dialog), QDialog::Rejected);

  EXPECT_EQ(pumped, (QStringList{"100 files processed", "200 files processed", "bar 0", "bar 100",
                                 "bar 200"}));
  EXPECT_EQ(trace(dialog),
            (QStringList{"Scanning    :" + QString::fromStdString(root),
                         QString::fromUtf8("Volume Name : Clé"), "Volume ID   : 1234-ABCD",
                         QString::fromUtf8("Scanning terminé : 250 fichier(s) trouvé(s)"),
                         QString::fromUtf8("Taille totale : %1 octet(s) de données").arg(total)}));
  EXPECT_EQ(status(dialog), "250 files processed");

  TDBWrapper& db = catalogue.Db();
  ASSERT_EQ(db.GetSupportCount(), 1);
  ASSERT_TRUE(db.GotoSupport(1));
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
  for (int32_t i = 0; i < 250; i++) {
    EXPECT_EQ(rows[i].name, walk.GetEntry(i)->name);
    EXPECT_EQ(rows[i].path, walk.GetEntry(i)->directory);
    if (i > 0) {
      EXPECT_GT(rows[i].id, rows[i - 1].id);
    }
    byName[rows[i].name] = rows[i];
  }
  for (const OddName& odd : kOddNames) {
    ASSERT_EQ(byName.count(odd.name), 1u) << odd.name;
    const TFileRecord& row = byName[odd.name];
    EXPECT_EQ(row.path, odd.path) << odd.name;
    EXPECT_EQ(row.ext, odd.ext) << odd.name;
    EXPECT_EQ(row.attributes & 0x10, odd.folder ? 0x10 : 0) << odd.name;
    EXPECT_EQ(row.size, odd.folder ? 0 : 7) << odd.name;
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
  auto* drives = child<QComboBox>(dialog, "lbDriveList");
  EXPECT_EQ(drives->count(), 0);
  click(dialog, "btnIndexStart");
  EXPECT_TRUE(trace(dialog).isEmpty());
  EXPECT_EQ(buttons(dialog), "S---");

  fs::create_directory("empty");
  media.addRemovableDrive("empty", "", kSerial);
  dialog.ResetIndexing();
  ASSERT_EQ(drives->count(), 1);
  EXPECT_EQ(drives->currentIndex(), -1);  // a removable drive is never chosen for the user
  scan(dialog);
  EXPECT_EQ(trace(dialog).mid(3),
            (QStringList{QString::fromUtf8("Scanning terminé : 0 fichier(s) trouvé(s)"),
                         QString::fromUtf8("Taille totale : 0 octet(s) de données")}));
  EXPECT_EQ(status(dialog), "0 files processed");
  EXPECT_EQ(buttons(dialog), "S---");
  EXPECT_TRUE(boxes.Shown().empty());
  EXPECT_EQ(catalogue.Db().GetSupportCount(), 1);
}

TEST_F(IndexingDialogTest, ASerialAlreadyCataloguedIsAWarningOnly) {
  catalogue.AddSupport("FIRST", kSerial);
  catalogue.AddSupport("SECOND", kSerial);
  catalogue.AddSupport("OTHER", kSerial + 1);
  stick(3);
  TfrmIndexing dialog;
  dialog.show();
  ScriptedMessageBoxes boxes({BoxAnswer::Ok});
  scan(dialog);
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].text,
            QString::fromUtf8("La base contient déjà :\n2 support(s) avec le même N° de série !"));
  EXPECT_EQ(boxes.Shown()[0].caption, "Attention !");
  EXPECT_EQ(boxes.Shown()[0].modality, BoxModality::System);
  EXPECT_EQ(buttons(dialog), "--RI");
  click(dialog, "btnInsertDatabase");
  EXPECT_EQ(catalogue.Db().CountSupportsWithSerial(kSerial, nullptr), 3);
}

// Close (or the window's close) while a step runs: the walk stops after the
// current entry and nothing is stored; an insertion runs to its end. Reset,
// which would discard the entries being stored, is unavailable meanwhile.
// Either way the dialog closes once the step has returned.
TEST_F(IndexingDialogTest, ClosingWhileAStepRunsWaitsForTheStepToReturn) {
  const struct {
    bool duringInsertion;
    int32_t supports;
    int32_t rows;
    const char* found;
  } cases[] = {{false, 0, 0, "Scanning terminé : 100 fichier(s) trouvé(s)"},
               {true, 1, 250, "Scanning terminé : 250 fichier(s) trouvé(s)"}};
  stick(250);
  for (const auto& c : cases) {
    catalogue.Db().EmptyBase();
    TfrmIndexing dialog;
    dialog.ResetIndexing();
    bool closed = false;
    ScopedMessagePump pump([&] {
      const bool inserting = child<QProgressBar>(dialog, "pgInsertion")->isVisibleTo(&dialog);
      if (closed || inserting != c.duringInsertion) return;
      EXPECT_EQ(buttons(dialog), "----");
      closed = true;
      dialog.close();
      click(dialog, "btnReset");
      EXPECT_TRUE(dialog.isVisible());
    });
    ScriptedModals modals([&](QDialog&) {
      scan(dialog);
      if (dialog.isVisible()) click(dialog, "btnInsertDatabase");
    });
    EXPECT_EQ(RunModal(dialog), QDialog::Rejected) << c.duringInsertion;
    EXPECT_TRUE(closed);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(trace(dialog).value(3), QString::fromUtf8(c.found));
    EXPECT_EQ(catalogue.Db().GetSupportCount(), c.supports);
    EXPECT_EQ(fileRecords(), c.rows);
  }
}

// Names and folder paths longer than the catalogue's fields are stored cut;
// the trace says how many entries that will be before anything is stored.
TEST_F(IndexingDialogTest, OverlongNamesAndPathsAreCountedInTheTrace) {
  const std::string longName = std::string(251, 'n');
  const std::string outer = std::string(130, 'a'), inner = std::string(130, 'b');
  writeFile(fs::path("deep") / longName, 1);
  writeFile(fs::path("deep") / outer / inner / "f.txt", 1);
  media.addRemovableDrive("deep", "DEEP", kSerial);
  TfrmIndexing dialog;
  dialog.show();
  scan(dialog);
  ASSERT_EQ(trace(dialog).size(), 6);
  EXPECT_EQ(trace(dialog)[5],
            QString::fromUtf8("2 nom(s) ou chemin(s) de plus de 250 caractères seront coupés"));
  click(dialog, "btnInsertDatabase");

  ASSERT_TRUE(catalogue.Db().GotoSupport(1));
  TSupportRecord support;
  catalogue.Db().ReadCurrentSupport(support);
  std::map<std::string, std::string> pathOf;
  for (const TFileRecord& row : rowsOf(support.id)) pathOf[row.name] = row.path;
  EXPECT_EQ(pathOf.size(), 4u);
  EXPECT_EQ(pathOf[longName.substr(0, 250)], "\\");
  EXPECT_EQ(pathOf["f.txt"], ("\\" + outer + "\\" + inner + "\\").substr(0, 250));
}

// A support that cannot be stored takes no file with it.
TEST_F(IndexingDialogTest, ASupportThatCannotBeStoredStoresNoFile) {
  TSupportRecord last;
  last.id = INT32_MAX;  // the support ids are used up
  catalogue.Db().AddSupportRecord(last);
  catalogue.Reopen();
  catalogue.Db().CountSupports();
  stick(3);
  TfrmIndexing dialog;
  dialog.show();
  ScriptedMessageBoxes boxes({BoxAnswer::Ok});
  scan(dialog);
  click(dialog, "btnInsertDatabase");
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].text,
            QString::fromUtf8("Le support n'a pas pu être ajouté à la base de données : aucun "
                              "fichier n'a été ajouté."));
  EXPECT_EQ(boxes.Shown()[0].caption, "Attention !");
  EXPECT_EQ(catalogue.Db().GetSupportCount(), 1);
  EXPECT_EQ(fileRecords(), 0);
  EXPECT_EQ(buttons(dialog), "--R-");
}

// Removable and CD-ROM drives are offered, the first CD-ROM chosen; the
// drive the user chose stays chosen while its device is mounted, wherever.
TEST_F(IndexingDialogTest, DriveListKeepsTheChosenDeviceAcrossMountPoints) {
  for (const char* folderName : {"cd1", "cd2", "usb", "fixed", "usb-again"})
    fs::create_directory(folderName);
  media.addDisk("pci0000:00/0000:00:17.0/ata1/host0", "sda", "8:0", false);
  media.addMount(fs::canonical("fixed").string(), "ext4", "/dev/sda", "8:0");
  media.addMount(fs::canonical("cd1").string(), "iso9660", "/dev/sr0", "11:0");
  media.addMount(fs::canonical("cd2").string(), "iso9660", "/dev/sr1", "11:1");
  media.addRemovableDrive("usb", "USB", 1);
  const auto shown = [](QComboBox& drives) {
    QStringList lines;
    for (int i = 0; i < drives.count(); i++)
      lines << fs::path(drives.itemText(i).toStdString()).filename().c_str();
    return lines;
  };
  TfrmIndexing dialog;
  auto* drives = child<QComboBox>(dialog, "lbDriveList");
  EXPECT_EQ(shown(*drives), (QStringList{"cd1", "cd2", "usb"}));
  EXPECT_EQ(drives->currentIndex(), 0);
  const QList<QIcon>& pictures = data.imgListSupport();
  EXPECT_EQ(drives->itemIcon(1).cacheKey(), pictures[TfrmData::kCdRomPicture].cacheKey());
  EXPECT_EQ(drives->itemIcon(2).cacheKey(), pictures[TfrmData::kRemovablePicture].cacheKey());

  drives->setCurrentIndex(2);
  {
    FakeMedia next("fake-media-next");  // the stick is back, mounted elsewhere
    next.addMount(fs::canonical("cd1").string(), "iso9660", "/dev/sr0", "11:0");
    next.addRemovableDrive("usb-again", "USB", 1);
    dialog.ResetIndexing();
    EXPECT_EQ(shown(*drives), (QStringList{"cd1", "usb-again"}));
    EXPECT_EQ(drives->currentText().toStdString(), fs::canonical("usb-again").string());
  }
  FakeMedia gone("fake-media-gone");
  gone.addMount(fs::canonical("cd2").string(), "iso9660", "/dev/sr1", "11:1");
  dialog.ResetIndexing();
  EXPECT_EQ(shown(*drives), QStringList{"cd2"});
  EXPECT_EQ(drives->currentIndex(), 0);
}

// Pictures for a person to look at: the dialog after a scan and after the
// insertion, in English and in French.
TEST(IndexingScreenshot, AfterAScan) {
  TestProgramFolder folder(BuiltLanguageLibrary());
  TfrmData data;
  TestCatalogue catalogue;
  FakeMedia media;
  makeMedium("stick", 250);
  media.addRemovableDrive("stick", "Cl\xC3\xA9 USB", kSerial);
  ScriptedMessageBoxes boxes;  // the second scan's warning
  CStandardTextResources& texts = data.Texts();
  for (const auto& [entry, suffix] : {std::pair{0, "en"}, std::pair{1, "fr"}}) {
    texts.LoadLanguage(texts.GetLanguageId(entry));
    TfrmIndexing dialog;
    dialog.ApplyLanguage();
    dialog.findChild<QComboBox*>("lbDriveList")->setCurrentIndex(0);
    dialog.findChild<QLineEdit*>("edtShortComment")
        ->setText(QString::fromUtf8("Clé de sauvegarde"));
    QTest::mouseClick(dialog.findChild<QPushButton*>("btnIndexStart"), Qt::LeftButton);
    EXPECT_FALSE(SaveScreenshot(dialog, std::string("indexing_") + suffix).empty());
    click(dialog, "btnInsertDatabase");
    EXPECT_FALSE(SaveScreenshot(dialog, std::string("indexing_inserted_") + suffix).empty());
  }
}

}  // namespace
