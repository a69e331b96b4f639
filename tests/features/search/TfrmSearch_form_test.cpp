// The search window driven as a user drives it, on a real catalogue.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTableView>

#include "app/MessagePump.h"
#include "app/TIniFile.h"
#include "app/TfrmData.h"
#include "features/search/TfrmSearch.h"
#include "platform/ansi.h"
#include "tests/support/form_children.h"
#include "tests/support/screenshot.h"
#include "tests/support/test_catalogue.h"
#include "tests/support/test_program_folder.h"

namespace {

// 15 March 2023 as a day count and as a date.
constexpr double kDay = 45000;
QDate dateOf(double days) { return QDate::fromJulianDay(2415019 + static_cast<qint64>(days)); }

// A search window that destroys itself when closed, as in the program.
class SearchWindow {
 public:
  SearchWindow() : form_(new TfrmSearch) { form_->show(); }
  ~SearchWindow() { delete form_.data(); }

  TfrmSearch& form() { return *form_; }
  bool alive() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return !form_.isNull();
  }
  void search(const QString& mask) {
    Child<QLineEdit>(*form_, "edtFileMask")->clear();
    QTest::keyClicks(Child<QLineEdit>(*form_, "edtFileMask"), mask);
    Click(*form_, "btnGo");
  }
  QTableView& grid() { return *Child<QTableView>(*form_, "sgResults"); }
  QString cell(int row, int column) { return grid().model()->index(row, column).data().toString(); }
  QString title(int column) {
    return grid().model()->headerData(column, Qt::Horizontal).toString();
  }
  QStringList names() {
    QStringList found;
    for (int row = 0; row < grid().model()->rowCount(); ++row) found << cell(row, 1);
    return found;
  }
  QString found() { return Child<QLabel>(*form_, "lblFileFound")->text(); }

 private:
  QPointer<TfrmSearch> form_;
};

TEST(TfrmSearch, TypingAMaskAndClickingGoListsTheHitsWithTheirMedium) {
  TestProgramFolder folder(BuiltLanguageLibrary());
  TfrmData data;  // English
  TestCatalogue catalogue;
  catalogue.AddSupport("DISC ONE", 0x12345678, {"readme.txt", "report.doc", "sub\\notes.txt"});
  const int32_t usb = catalogue.AddSupport("USB", 0xABCD0001, {"Report.TXT"});
  SearchWindow window;
  const struct {
    const char* mask;
    QStringList names;
  } cases[] = {
      {"*.txt", {"readme.txt", "notes.txt", "Report.TXT"}},
      {"  rep*", {"report.doc", "Report.TXT"}},  // in the name tag's order
      {"[nr]e*.txt", {"readme.txt", "Report.TXT"}},
      {"notes", {}},
  };
  for (const auto& c : cases) {
    window.search(c.mask);
    EXPECT_EQ(window.names(), c.names) << c.mask;
    EXPECT_EQ(window.form().windowTitle(), "Search - " + QString(c.mask).trimmed());
    EXPECT_EQ(window.found(), QStringLiteral("Found: %1").arg(c.names.size()));
  }
  window.search("Report.txt");
  const QStringList row{"1",  "Report.TXT", "USB",       window.cell(0, 3),
                        "10", "\\",         "ABCD-0001", QString::asprintf("%05d", usb)};
  for (int column = 0; column < 8; ++column) EXPECT_EQ(window.cell(0, column), row[column]);
  EXPECT_FALSE(window.cell(0, 3).isEmpty());
  EXPECT_EQ(window.title(6), "Volume serial");
}

TEST(TfrmSearch, DateAndSizeFiltersTakeTheTickedBoundsOnly) {
  TestProgramFolder folder;
  TestCatalogue catalogue;
  const int32_t disc = catalogue.AddSupport("DISC", 1);
  catalogue.AddRow(disc, "\\", "a.dat", 100, kDay);          // midnight
  catalogue.AddRow(disc, "\\", "b.dat", 1000, kDay + 0.75);  // evening
  catalogue.AddRow(disc, "\\", "c.dat", 1001, kDay + 1.0);   // next midnight
  catalogue.AddRow(disc, "\\", "d.dat", 0, kDay - 0.5);      // the day before
  SearchWindow window;
  TfrmSearch& form = window.form();
  const struct {
    bool byDate, minTicked;
    double minDay;
    bool maxTicked;
    double maxDay;
    bool bySize;
    const char *minSize, *maxSize;
    QStringList names;
  } cases[] = {
      {true, true, kDay, true, kDay, false, "", "", {"a.dat", "b.dat"}},
      {true, false, kDay, true, kDay, false, "", "", {"a.dat", "b.dat", "d.dat"}},
      {true, true, kDay + 1, false, kDay, false, "", "", {"c.dat"}},
      {false, true, kDay + 5, true, kDay + 5, true, "", "1000", {"a.dat", "b.dat", "d.dat"}},
      {false, true, kDay, true, kDay, true, "abc", "100", {"a.dat", "d.dat"}},
      {false, true, kDay, true, kDay, true, " 1001", "99999999999999999999", {"c.dat"}},
      {false, true, kDay, true, kDay, false, "5000", "1", {"a.dat", "b.dat", "c.dat", "d.dat"}},
  };
  for (const auto& c : cases) {
    if (Child<QCheckBox>(form, "cbCheckDate")->isChecked() != c.byDate) Click(form, "cbCheckDate");
    if (Child<QCheckBox>(form, "cbCheckSize")->isChecked() != c.bySize) Click(form, "cbCheckSize");
    EXPECT_EQ(Child<QWidget>(form, "pnlDateOptions")->isVisible(), c.byDate);
    EXPECT_EQ(Child<QWidget>(form, "pnlSizeOptions")->isVisible(), c.bySize);
    Child<QCheckBox>(form, "cbDtPick1")->setChecked(c.minTicked);
    Child<QDateEdit>(form, "dtPick1")->setDate(dateOf(c.minDay));
    Child<QCheckBox>(form, "cbDtPick2")->setChecked(c.maxTicked);
    Child<QDateEdit>(form, "dtPick2")->setDate(dateOf(c.maxDay));
    Child<QLineEdit>(form, "edtSizeMin")->setText(c.minSize);
    Child<QLineEdit>(form, "edtSizeMax")->setText(c.maxSize);
    window.search("*.dat");
    EXPECT_EQ(window.names(), c.names) << c.minSize << " " << c.maxSize << " " << c.minDay;
  }
}

// The limit, Stop, and what the window refuses while it searches: a second
// Go, closing; meanwhile the program can tell that a search runs.
TEST(TfrmSearch, LimitAndStopEndTheSearchAndClosingWaitsForTheEnd) {
  TestProgramFolder folder;
  TestCatalogue catalogue;
  std::vector<std::string> names;
  for (int i = 0; i < 1200; ++i) names.push_back(QString::asprintf("f%04d.bin", i).toStdString());
  catalogue.AddSupport("BIG", 7, names);
  SearchWindow window;
  TfrmSearch& form = window.form();
  window.search("*");
  EXPECT_EQ(window.names().size(), 1000);
  Child<QSlider>(form, "tbMaxFiles")->setValue(100);
  EXPECT_EQ(Child<QLabel>(form, "lblMaxFind")->text(), "100");
  window.search("f*");
  EXPECT_EQ(window.names().size(), 100);
  EXPECT_EQ(window.found(), QString::fromUtf8("Trouvé(s) : 100"));

  Child<QSlider>(form, "tbMaxFiles")->setValue(10000);
  int pauses = 0;
  {
    ScopedMessagePump pump([&] {
      if (++pauses > 1) return;
      EXPECT_TRUE(form.IsSearching());
      EXPECT_TRUE(TfrmSearch::AnySearchRunning());
      EXPECT_FALSE(form.close());
      Click(form, "btnStop");
      // Go is back at once, but the running search ends first.
      EXPECT_TRUE(Child<QPushButton>(form, "btnGo")->isVisible());
      Click(form, "btnGo");
    });
    window.search("*");
  }
  EXPECT_EQ(pauses, 1);
  EXPECT_EQ(window.names().size(), 50);  // the records before the first pause
  EXPECT_FALSE(form.IsSearching());
  EXPECT_FALSE(TfrmSearch::AnySearchRunning());
  EXPECT_FALSE(Child<QPushButton>(form, "btnStop")->isVisible());
  EXPECT_FALSE(Child<QProgressBar>(form, "pgSearch")->isVisible());
  EXPECT_TRUE(window.alive());
  Click(form, "btnClose");
  EXPECT_FALSE(window.alive());
}

TEST(TfrmSearch, DoubleClickOnAHitAsksForItsMediumAtTheFile) {
  TestProgramFolder folder;
  TestCatalogue catalogue;
  const int32_t disc = catalogue.AddSupport("DISC", 1);
  const int32_t sub = catalogue.AddRow(disc, "\\", "sub", 0, kDay, true);
  catalogue.AddRow(disc, "\\sub\\", "plain.iso");
  const std::string compact = "@" + std::to_string(sub) + ":deep\\";
  catalogue.AddRow(disc, compact, "packed.iso");
  SearchWindow window;
  std::vector<std::tuple<int32_t, std::string, std::string>> requests;
  QObject::connect(&window.form(), &TfrmSearch::OpenHitRequested,
                   [&](int32_t id, const std::string& path, const std::string& name) {
                     requests.emplace_back(id, path, name);
                   });
  window.search("*.iso");
  // The compact path is shown expanded and handed on as stored.
  EXPECT_EQ(window.cell(1, 5), "\\sub\\deep\\");
  QWidget* viewport = window.grid().viewport();
  for (int row : {1, 0}) {
    DoubleClick(viewport, window.grid().visualRect(window.grid().model()->index(row, 2)).center());
  }
  DoubleClick(viewport, QPoint(10, viewport->height() - 5));  // below the hits
  EXPECT_EQ(requests,
            (decltype(requests){{disc, compact, "packed.iso"}, {disc, "\\sub\\", "plain.iso"}}));
}

TEST(TfrmSearch, MovedColumnsAndWidthsSurviveAReopen) {
  TestProgramFolder folder;
  TestCatalogue catalogue;
  catalogue.AddSupport("DISC", 0x00010002, {"a.txt"});
  {
    SearchWindow window;
    QHeaderView* header = window.grid().horizontalHeader();
    EXPECT_EQ(header->sectionSize(1), 100);
    header->resizeSection(1, 250);
    header->moveSection(0, 3);  // the user drags "N°" onto "Date": they swap
    window.search("a.txt");
    EXPECT_EQ(window.title(0), "Date");
    EXPECT_EQ(window.cell(0, 3), "1");
    EXPECT_TRUE(window.form().close());
  }
  TIniFile ini(folder.IniPath());
  EXPECT_EQ(ini.ReadInteger("SearchGrid", "Order.0", -1), 3);
  EXPECT_EQ(ini.ReadInteger("SearchGrid", "Width.1", -1), 250);
  ini.WriteInteger("SearchGrid", "Disp.2", 0);
  ini.UpdateFile();

  SearchWindow window;
  window.search("a.txt");
  EXPECT_EQ(window.grid().horizontalHeader()->sectionSize(1), 250);
  // Data column 2 hidden: the others close up, the last slot stays empty.
  const QStringList titles{"Date",
                           "Nom fichier",
                           QString::fromUtf8("N°"),
                           "Taille",
                           "Path",
                           QString::fromUtf8("N°série Volume"),
                           "ID Volume",
                           ""};
  const QStringList cells{window.cell(0, 0), "a.txt", "1", "10", "\\", "0001-0002", "00001", ""};
  for (int column = 0; column < 8; ++column) {
    EXPECT_EQ(window.title(column), titles[column]) << column;
    EXPECT_EQ(window.cell(0, column), cells[column]) << column;
  }
}

TEST(SearchScreenshot, HitsWithBothFiltersOpenInTheMainWindowsArea) {
  TestProgramFolder folder;
  TestCatalogue catalogue;
  const auto ansi = [](const char* utf8) { return platform::utf8ToAnsi(utf8); };  // as stored
  const int32_t disc = catalogue.AddSupport(ansi("Disque été"), 0x1A2B3C4D);
  catalogue.AddRow(disc, "\\", ansi("Résumé.txt"), 2048, kDay + 0.5);
  catalogue.AddRow(disc, ansi("\\Vidéos\\"), ansi("Noël 2022.avi"), 734003200, kDay + 0.25);
  catalogue.AddRow(disc, ansi("\\Vidéos\\"), ansi("Œuvres.txt"), 12, kDay);
  const int32_t usb = catalogue.AddSupport(ansi("CLÉ USB"), 0x0000FFFF);
  catalogue.AddRow(usb, "\\Documents\\Administratif\\", ansi("Facture n°17.txt"), 5120, kDay - 3);
  QMdiArea area;
  area.resize(960, 560);
  auto* form = new TfrmSearch;
  area.addSubWindow(form)->resize(900, 500);
  Child<QCheckBox>(*form, "cbCheckDate")->setChecked(true);
  Child<QCheckBox>(*form, "cbCheckSize")->setChecked(true);
  Child<QLineEdit>(*form, "edtSizeMax")->setText("1000000000");
  Child<QDateEdit>(*form, "dtPick1")->setDate(dateOf(kDay - 10));
  QTest::keyClicks(Child<QLineEdit>(*form, "edtFileMask"), "*.*");
  Click(*form, "btnGo");
  EXPECT_EQ(Child<QTableView>(*form, "sgResults")->model()->rowCount(), 4);
  Child<QTableView>(*form, "sgResults")->selectRow(1);
  EXPECT_FALSE(SaveScreenshot(area, "search_fr").empty());
}

}  // namespace
