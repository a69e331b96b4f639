// Dates through an archive: a date stored in whole seconds shows the same
// second in the browser, the search results and the supports list after an
// export, an emptying and an import, and a second export writes the same
// archive.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QTreeWidget>
#include <regex>

#include "app/DateTimeText.h"
#include "app/TfrmData.h"
#include "features/archive/ArchiveExport.h"
#include "features/archive/ArchiveImport.h"
#include "features/browser/TfrmSupportDisplay.h"
#include "features/search/TfrmSearch.h"
#include "features/supports/TSupportGridModel.h"
#include "tests/support/disk_file.h"
#include "tests/support/form_children.h"
#include "tests/support/test_catalogue.h"
#include "tests/support/test_program_folder.h"

namespace {

// Whole seconds near the edges of six decimals of a day (a second is
// 0.0000115740... days): each is a support's recording date and the date
// of its one file.
const struct {
  int32_t day;
  int32_t second;  // of the day
} kDates[] = {
    {45000, 0},        // midnight: an exact six-decimal value
    {45000, 86399},    // 23:59:59, .999988 a hair below
    {37164, 82368},    // 22:52:48, .953333 a hair below
    {45000, 1},        // .000012, above
    {45000, 2},        // .000023, below
    {45000, 27},       // .0003125 exactly: the sixth decimal's half
    {45000, 45240},    // 12:34:00, below: a minute's first second
    {45000, 45241},    // above
    {-109205, 43199},  // 1 January 1601, 11:59:59
    {2958465, 86399},  // 31 December 9999, 23:59:59
    {2958465, 81},     // the sixth decimal's half, at the largest day
    {1, 3599},         // 31 December 1899
};

// The day count of a whole second: day and time of day, the time counted
// forward from the day's midnight (a count below 0 has its day before the
// point, its time after it), as the catalogue stores it.
double dayCount(int32_t day, int32_t second) {
  const double time = second / 86400.0;
  return day < 0 ? day - time : day + time;
}

// Every date the user sees, one line per date: the browser's list and its
// status bar, the search results, the supports list, and the recording
// date with its seconds; then the file's date as other tools read it from
// the table.
QStringList shownDates(TestCatalogue& catalogue) {
  QStringList lines(static_cast<qsizetype>(std::size(kDates)));
  TfrmSearch search;
  search.show();
  Child<QLineEdit>(search, "edtFileMask")->setText("*");
  Click(search, "btnGo");
  QAbstractItemModel& hits = *Child<QTableView>(search, "sgResults")->model();
  EXPECT_EQ(hits.rowCount(), static_cast<int>(std::size(kDates)));
  for (int row = 0; row < hits.rowCount(); ++row) {
    const int i = hits.index(row, 1).data().toString().mid(1).toInt();
    lines[i] += "search " + hits.index(row, 3).data().toString();
  }
  for (int32_t n = 1; catalogue.Db().GotoSupport(n); n++) {
    TSupportRecord support;
    catalogue.Db().ReadCurrentSupport(support);
    const int i = QString::fromStdString(support.volume).mid(1).toInt();
    lines[i] += " | supports " + TSupportGridModel::CellText(support, 6) + " (" +
                DateTimeText(support.dateRecorded, QLocale::LongFormat) + ")";
    TfrmSupportDisplay browser;
    browser.LoadSupport(support.id);
    browser.LocateFile("\\", "f" + std::to_string(i));
    const QTreeWidgetItem* file = Child<QTreeWidget>(browser, "lView")->currentItem();
    lines[i] += " | browser " + (file != nullptr ? file->text(2) : QString()) + " (" +
                Child<QLabel>(browser, "statusPanel3")->text() + ")";
    TFileRecord stored;
    if (catalogue.Db().FindFirstFileOfSupport(support.id) == TFound::kRecord)
      catalogue.Db().ReadCurrentFile(stored);
    lines[i] += " | stored " + QString::number(stored.date, 'f', 10);
  }
  return lines;
}

TEST(ArchiveDates, WholeSecondsShowTheSameAfterAnExportAndAnImport) {
  TestProgramFolder folder;
  TfrmData data;
  TestCatalogue catalogue;
  const QLocale previous;
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
  for (size_t i = 0; i < std::size(kDates); i++) {
    const double date = dayCount(kDates[i].day, kDates[i].second);
    TSupportRecord support;
    support.volume = "D" + std::to_string(i);
    support.volumeSerial = static_cast<int32_t>(i + 1);
    support.fileCount = 1;
    support.size = 10;
    support.dateRecorded = date;
    const int32_t id = catalogue.Db().AddSupportRecord(support);
    catalogue.AddRow(id, "\\", "f" + std::to_string(i), 10, date);
  }
  const QStringList before = shownDates(catalogue);
  ASSERT_EQ(
      archive::ExportArchive(catalogue.Db(), "before.cex", archive::kWholeCatalogue, {}).status,
      archive::ExportStatus::kDone);
  ASSERT_TRUE(catalogue.Db().EmptyBase());
  ASSERT_EQ(archive::ImportArchive(catalogue.Db(), "before.cex", {}).status,
            archive::ImportStatus::kFinished);
  EXPECT_EQ(shownDates(catalogue), before);
  EXPECT_TRUE(before[2].contains("22:52:48")) << before[2].toStdString();

  ASSERT_EQ(
      archive::ExportArchive(catalogue.Db(), "after.cex", archive::kWholeCatalogue, {}).status,
      archive::ExportStatus::kDone);
  const std::regex ids("(S_ID|F_ID|F_SUPID)=[0-9]+");
  EXPECT_EQ(std::regex_replace(testing_support::readDiskFile("after.cex"), ids, "$1="),
            std::regex_replace(testing_support::readDiskFile("before.cex"), ids, "$1="));
  QLocale::setDefault(previous);
}

}  // namespace
