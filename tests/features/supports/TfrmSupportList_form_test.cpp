#include <gtest/gtest.h>

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <limits>
#include <map>

#include "app/DBWrapperGlobal.h"
#include "app/ProgramFolder.h"
#include "app/TIniFile.h"
#include "app/TfrmMain.h"
#include "catalog/Owntablehandle.h"
#include "catalog/Udbwrapper.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/field4value.h"
#include "features/supports/TSupportGridModel.h"
#include "features/supports/TfrmSupportEdit.h"
#include "features/supports/TfrmSupportList.h"
#include "platform/ansi.h"
#include "tests/support/disk_file.h"
#include "tests/support/program_run.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/test_catalogue.h"
#include "tests/support/test_program_folder.h"

namespace {

QTableView* grid() { return Find<QTableView>(*frmSupportList, "sgSupportData"); }

QString cell(int row, int column) {
  return grid()->model()->index(row - 1, column).data().toString();
}

QStringList titles() {
  QStringList all;
  for (int c = 0; c < TSupportGridModel::kColumns; c++)
    all << grid()->model()->headerData(c, Qt::Horizontal).toString();
  return all;
}

QStringList row(int r) {
  QStringList cells;
  for (int c = 0; c < TSupportGridModel::kColumns; c++) cells << cell(r, c);
  return cells;
}

void select(int row) { grid()->selectRow(row - 1); }

const QStringList kTitles = {
    "ID",          "Type",     "Nom volume",       QString::fromUtf8("N° série"),
    "Nb Fichiers", "Votre ID", "Date recensement", "Commentaires",
    "Taille"};

// The files not deleted, counted by support.
std::map<int32_t, int> liveFilesBySupport(const TDBWrapper& db) {
  std::map<int32_t, int> counts;
  const TOwnTableHandle files(db.Files());
  for (int rc = data4top(files.get()); rc == 0; rc = data4skip(files.get(), 1)) {
    if (!data4deleted(files.get())) counts[field4long(files.field("F_SUPPID"))]++;
  }
  return counts;
}

// A support with every value set (texts in UTF-8); its id.
int32_t addSupport(const std::string& volume, int64_t size, const std::string& text = "") {
  TSupportRecord support;
  support.type = "CD/DVD";
  support.volume = platform::utf8ToAnsi(volume);
  support.volumeSerial = static_cast<int32_t>(0xA1B2C3D4u);
  support.size = size;
  support.fileCount = 42;
  support.userId = "mine";
  support.dateRecorded = 45000.75;  // 15 March 2023, 18:00
  support.text = platform::utf8ToAnsi(text);
  return dbWrapper->AddSupportRecord(support);
}

TEST(TfrmSupportList, CellsShowTheSupportInTheGridsFormats) {
  TestProgramFolder folder;
  RunProgram([] {
    addSupport("Musique été", 1234567, "first line\r\nsecond line");
    addSupport("SECOND", 2);
    frmSupportList->RefreshList();
    const QLocale locale;
    const QString recorded = locale.toString(QDate(2023, 3, 15), QLocale::ShortFormat) + " " +
                             locale.toString(QTime(18, 0), QLocale::ShortFormat);
    EXPECT_EQ(row(1), (QStringList{"00001", "CD/DVD", "Musique été", "A1B2-C3D4", "42", "mine",
                                   recorded, "first line second line", "1234567"}));
    for (int c = 0; c < TSupportGridModel::kColumns; c++) {
      const auto align = grid()->model()->index(0, c).data(Qt::TextAlignmentRole);
      EXPECT_EQ(align.value<Qt::Alignment>() & Qt::AlignHorizontal_Mask,
                c == 4 || c == 8 ? Qt::AlignRight : Qt::AlignLeft);
    }
    // Whoever moves the current support, a row shows its own.
    EXPECT_GT(frmSupportList->LoadRow(1), 0);
    ASSERT_TRUE(dbWrapper->GotoSupport(2));
    EXPECT_EQ(cell(1, 2), "Musique été");
    EXPECT_EQ(frmSupportList->LoadRow(3), -1);
  });
}

TEST(TfrmSupportList, ColumnLayoutSurvivesARestart) {
  TestProgramFolder folder;
  RunProgram([] {
    addSupport("DISC", 5);
    frmSupportList->RefreshList();
    // Columns in data order, at least 100 pixels wide and as wide as their
    // titles.
    EXPECT_EQ(titles(), kTitles);
    QHeaderView* header = grid()->horizontalHeader();
    for (int c = 0; c < TSupportGridModel::kColumns; c++) {
      EXPECT_GE(header->sectionSize(c), 100);
      EXPECT_GT(header->sectionSize(c), header->fontMetrics().horizontalAdvance(kTitles[c]));
    }
    header->resizeSection(0, 60);
    const int serialWidth = header->sectionSize(3);
    // The title of display column 0 dropped on display column 3: the two
    // change places, widths with them; the others stay.
    header->moveSection(0, 3);
    QStringList swapped = kTitles;
    swapped.swapItemsAt(0, 3);
    EXPECT_EQ(titles(), swapped);
    EXPECT_EQ(row(1)[0], "A1B2-C3D4");
    EXPECT_EQ(row(1)[3], "00001");
    for (int c = 0; c < TSupportGridModel::kColumns; c++) EXPECT_EQ(header->visualIndex(c), c);
    EXPECT_EQ(header->sectionSize(3), 60);
    EXPECT_EQ(header->sectionSize(0), serialWidth);

    // Closing the window minimises it, and keeps the layout.
    QMdiSubWindow* child = frmMain->ChildArea().subWindowList()[0];
    EXPECT_FALSE(child->close());
    EXPECT_TRUE(child->isMinimized());
    EXPECT_EQ(TIniFile(IniFilePath()).ReadInteger("SupportList", "Width.0", -1), 60);
    Find<QAction>(*frmMain, "itmSupportList")->trigger();
    EXPECT_FALSE(child->isMinimized());
  });
  const TIniFile ini(folder.IniPath());
  EXPECT_EQ(ini.ReadInteger("SupportList", "Order.0", -1), 3);
  EXPECT_EQ(ini.ReadInteger("SupportList", "Order.3", -1), 0);
  RunProgram([] {
    QStringList swapped = kTitles;
    swapped.swapItemsAt(0, 3);
    EXPECT_EQ(titles(), swapped);
    EXPECT_EQ(grid()->horizontalHeader()->sectionSize(3), 60);
  });

  // A hidden column: the others in order without a gap, the last slot
  // empty.
  testing_support::writeDiskFile(folder.IniPath(), "[SupportList]\nDisp.2=0\n");
  RunProgram([] {
    QStringList shown = kTitles;
    shown.removeAt(2);
    EXPECT_EQ(titles(), shown + QStringList{""});
    EXPECT_EQ(row(1)[2], "A1B2-C3D4");
    EXPECT_EQ(row(1)[8], "");
  });
}

TEST(TfrmSupportList, DeleteAsksThenRemovesTheSupportWithItsFiles) {
  TestProgramFolder folder;
  {
    TestCatalogue catalogue;
    catalogue.AddSupport("ONE", 1, {"a.txt", "sub\\b.txt"});
    catalogue.AddSupport("TWO", 2, {"c.txt", "d.txt", "e.txt"});
    catalogue.AddSupport("THREE", 3, {"f.txt"});
  }
  ScriptedMessageBoxes boxes({BoxAnswer::No, BoxAnswer::Yes});
  RunProgram([] {
    EXPECT_EQ(grid()->model()->rowCount(), 3);
    select(2);
    Find<QAction>(*frmSupportList, "itmDeleteSupport")->trigger();
    EXPECT_EQ(grid()->model()->rowCount(), 3);
    // The grid repaints under the box: the support asked about is the one
    // deleted, whatever row was read last.
    ScopedMessageBoxes painting([](const BoxRequest&) {
      frmSupportList->LoadRow(3);
      return BoxAnswer::Yes;
    });
    Find<QAction>(*frmSupportList, "itmDeleteSupport")->trigger();
    EXPECT_EQ(grid()->model()->rowCount(), 2);
    EXPECT_EQ(cell(2, 2), "THREE");
    EXPECT_EQ(dbWrapper->GetSupportCount(), 2);
    TSupportRecord gone;
    EXPECT_FALSE(dbWrapper->ReadSupportById(2, gone));
  });

  TestCatalogue catalogue;
  catalogue.Db().CountSupports();
  EXPECT_EQ(catalogue.Db().GetSupportCount(), 2);
  EXPECT_EQ(liveFilesBySupport(catalogue.Db()), (std::map<int32_t, int>{{1, 2}, {3, 1}}));
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].text, "Confirmez vous l'effacement de ce support 00002");
  EXPECT_EQ(boxes.Shown()[0].caption, "Attention");
  EXPECT_EQ(boxes.Shown()[0].buttons, BoxButtons::YesNo);
}

TEST(TfrmSupportList, EditorWritesTheTextsOnlyOnOk) {
  TestProgramFolder folder;
  RunProgram([] {
    addSupport("FIRST", 1, "old\r\ncomment");
    addSupport("SECOND", 2);
    frmSupportList->RefreshList();
    select(1);
    const struct {
      bool ok;
      QString typed;
      std::string userId;
      std::string text;
    } cases[] = {
        {false, "ignored", "mine", "old\r\ncomment"},
        {true, QString(300, QChar(0xE9)), std::string(249, '\xE9'), "old\r\ncomment\r\nmore"},
    };
    for (const auto& c : cases) {
      ScriptedModals modals([&](QDialog& dialog) {
        EXPECT_EQ(Find<QLabel>(dialog, "stTitle")->text(), "FIRST");
        QLineEdit* shortComment = Find<QLineEdit>(dialog, "edtShortComment");
        EXPECT_EQ(shortComment->text(), "mine");
        QPlainTextEdit* longComment = Find<QPlainTextEdit>(dialog, "meLongComment");
        EXPECT_EQ(longComment->toPlainText(), "old\ncomment");
        shortComment->selectAll();
        shortComment->insert(c.typed);
        longComment->moveCursor(QTextCursor::End);
        QTest::keyClick(longComment, Qt::Key_Return);
        QTest::keyClicks(longComment, "more");
        frmSupportList->LoadRow(2);  // painting under the dialog
        QTest::mouseClick(Find<QPushButton>(dialog, c.ok ? "btnOk" : "btnClose"), Qt::LeftButton);
      });
      Find<QAction>(*frmSupportList, "itmEditSuppProp")->trigger();
      TSupportRecord stored;
      ASSERT_TRUE(dbWrapper->ReadSupportById(1, stored));
      EXPECT_EQ(stored.userId, c.userId);
      EXPECT_EQ(stored.text, c.text);
      EXPECT_TRUE(dbWrapper->ReadSupportById(2, stored));
      EXPECT_EQ(stored.userId, "mine");
    }
    EXPECT_EQ(cell(1, 5), QString(249, QChar(0xE9)));
  });
}

// The indexing dialog and an import store short comments of the field's
// full 250 characters; the editor types one less. Editing only the long
// comment must keep the short one whole.
TEST(TfrmSupportList, EditorKeepsAStoredShortCommentLongerThanItTypes) {
  TestProgramFolder folder;
  RunProgram([] {
    TSupportRecord support;
    support.volume = "FULL";
    support.userId = std::string(249, 'u') + "!";
    ASSERT_GE(dbWrapper->AddSupportRecord(support), 1);
    frmSupportList->RefreshList();
    select(1);
    ScriptedModals modals([](QDialog& dialog) {
      QTest::keyClicks(Find<QPlainTextEdit>(dialog, "meLongComment"), "new");
      QTest::mouseClick(Find<QPushButton>(dialog, "btnOk"), Qt::LeftButton);
    });
    Find<QAction>(*frmSupportList, "itmEditSuppProp")->trigger();
    TSupportRecord stored;
    ASSERT_TRUE(dbWrapper->ReadSupportById(support.id, stored));
    EXPECT_EQ(stored.userId, support.userId);
    EXPECT_EQ(stored.text, "new");
  });
}

}  // namespace
