// Every text the program shows, in each language a user may choose: the
// real program is started and a short use of every form and dialog is
// walked (the main window with its menus and tool bar, the media list with
// its popup menu, the medium editor, the preferences, the about box, the
// statistics, an export of the whole catalogue and of one medium, imports
// of a damaged archive, of one with an overlong line and of one that
// cannot be read, with the duplicate question, an indexing, a search, two
// browsers, and the boxes all of these raise). Each text with a letter in
// it must be a text of the string table of the language shown, one
// formatted from it, or data the test put there: a caption or a message
// without a text id shows its French to an English user and fails here.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QTableView>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <set>

#include "app/DBWrapperGlobal.h"
#include "app/DateTimeText.h"
#include "app/TIniFile.h"
#include "app/TfrmData.h"
#include "app/TfrmMain.h"
#include "catalog/Udbwrapper.h"
#include "features/archive/ArchiveFormat.h"
#include "features/browser/TfrmSupportDisplay.h"
#include "features/search/TfrmSearch.h"
#include "features/supports/TfrmSupportList.h"
#include "tests/features/archive/archive_fixture.h"
#include "tests/support/disk_file.h"
#include "tests/support/fake_media.h"
#include "tests/support/form_children.h"
#include "tests/support/program_run.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/shown_texts.h"
#include "tests/support/test_catalogue.h"
#include "tests/support/test_program_folder.h"

namespace {

namespace fs = std::filesystem;
using testing_support::fileBlock;
using testing_support::header;
using testing_support::volumeBlock;

constexpr uint32_t kAlphaSerial = 0x11112222;

struct Language {
  const char* name;
  const language_texts::Table& table;
  int entry;  // of the built library
};
const Language kEnglish{"English", language_texts::kEnglish, 0};
const Language kFrench{"French", language_texts::kFrench, 1};

// The texts the test puts where the program shows them.
const char* const kData[] = {
    "ALPHA DISC",
    "EMPTY DISC",
    "GAMMA DISC",
    "DELTA DISC",
    "my alpha",
    "first line",
    "second line",
    "notes.txt",
    "photo.jpg",
    "gamma.txt",
    "delta.txt",
    "sub",
    "in.cex",
    "long.cex",
    "folder.cex",
    "out.cex",
    "*.txt",
    "English",
    "Français",
    "Kavri Vantrelodisk",
    "*.cex",  // an archive's name pattern in the file dialogs' filters
    // The loader's name of a language the library does not name: the one
    // entry of the preferences without a library.
    "Default",
};

// Checks texts against one language's table and says each text that is
// not of it once.
class TextCheck {
 public:
  TextCheck(const Language& language, const QStringList& data)
      : language_(language), table_(language.table) {
    for (const QString& text : data) table_.AddData(text);
  }
  void Text(const QString& where, const QString& text) {
    seen_.insert(text);
    if (table_.Accepts(text) || !reported_.insert(where + text).second) return;
    ADD_FAILURE() << "not " << language_.name << " (" << where.toStdString()
                  << "): " << text.toStdString();
  }
  void Objects(const QObject& root) {
    for (const ShownText& shown : ShownTexts(root)) Text(shown.where, shown.text);
  }
  // The different texts seen.
  size_t Seen() const { return seen_.size(); }

 private:
  const Language& language_;
  LanguageTable table_;
  std::set<QString> reported_;
  std::set<QString> seen_;
};

QAction* mainAction(const char* name) { return Find<QAction>(*frmMain, name); }

TfrmSearch* lastSearch() {
  TfrmSearch* found = nullptr;
  for (QMdiSubWindow* child : frmMain->ChildArea().subWindowList(QMdiArea::CreationOrder)) {
    if (auto* form = qobject_cast<TfrmSearch*>(child->widget())) found = form;
  }
  return found;
}

TfrmSupportDisplay* browserOf(int32_t supportId) {
  for (QMdiSubWindow* child : frmMain->ChildArea().subWindowList()) {
    auto* form = qobject_cast<TfrmSupportDisplay*>(child->widget());
    if (form != nullptr && form->GetSupportId() == supportId) return form;
  }
  return nullptr;
}

class ProgramWalk {
 public:
  explicit ProgramWalk(const QStringList& data) : data_(data) {}

  // Uses every form in `language`; then, with `next`, chooses that
  // language in the preferences.
  void Walk(const Language& language, const Language* next) {
    TextCheck check(language, data_);
    std::vector<BoxRequest> shown;
    BoxAnswer answer = BoxAnswer::No;
    ScopedMessageBoxes boxes([&](const BoxRequest& request) {
      shown.push_back(request);
      return answer;
    });
    const Language* chosen = nullptr;
    ScriptedModals modals([&](QDialog& dialog) {
      check.Objects(dialog);
      if (drive(dialog, chosen)) check.Objects(dialog);
    });

    for (const char* item : {"itmPreferences", "itmAbout", "itmInfoBase", "itmExportBase"})
      mainAction(item)->trigger();
    Find<QTableView>(*frmSupportList, "sgSupportData")->selectRow(0);
    Find<QAction>(*frmSupportList, "itmEditSuppProp")->trigger();
    answer = BoxAnswer::Yes;  // the archive written above is replaced
    Find<QAction>(*frmSupportList, "itmSupportExport")->trigger();
    answer = BoxAnswer::No;
    for (const char* archive : {"in.cex", "long.cex", "folder.cex"}) {
      archive_ = archive;
      mainAction("itmImportBase")->trigger();
    }
    mainAction("itmSupportIndex")->trigger();

    mainAction("itmNewSearch")->trigger();
    TfrmSearch* search = lastSearch();
    Child<QLineEdit>(*search, "edtFileMask")->setText("*.txt");
    Click(*search, "btnGo");
    // A browser opened in a language before shows its folder's line in the
    // next one too.
    if (browserOf(1) == nullptr) {
      frmMain->ShowSupportDisplay(1, std::string(), std::string());
      QTreeWidget* tree = Child<QTreeWidget>(*browserOf(1), "tview");
      emit tree->itemClicked(tree->topLevelItem(0), 0);
    }
    frmMain->ShowSupportDisplay(2, std::string(), std::string());  // no file: a box
    Find<QAction>(*frmSupportList, "itmDeleteSupport")->trigger();
    mainAction("itmEmptyBase")->trigger();
    emit Find<QMenu>(*frmMain, "itmDisplay")->aboutToShow();  // the window list

    check.Objects(*frmMain);
    // Far fewer would mean that forms or their parts are no longer walked.
    EXPECT_GT(check.Seen(), 140u);
    EXPECT_GE(shown.size(), 5u);
    for (const BoxRequest& box : shown) {
      check.Text("box caption", box.caption);
      check.Text("box", box.text);
    }
    if (next == nullptr) return;
    chosen = next;
    mainAction("itmPreferences")->trigger();
  }

 private:
  // Plays the user's part in `dialog`; true when its texts are to be seen
  // again afterwards (not once another language is chosen).
  bool drive(QDialog& dialog, const Language* chosen) {
    const QString form = dialog.objectName();
    if (form == "frmParameters") {
      if (chosen == nullptr) return false;
      Child<QComboBox>(dialog, "cbLanguageSelect")->setCurrentIndex(chosen->entry);
      Click(dialog, "btnOk");
      return false;
    }
    if (form == "frmExport") {
      Child<QLineEdit>(dialog, "edtTargetArchive")->setText("out.cex");
      Click(dialog, "btnSave");
    } else if (form == "frmImport") {
      Child<QLineEdit>(dialog, "edtTargetArchive")->setText(archive_);
      Click(dialog, "btnImport");
    } else if (form == "frmWarnSupportInDB") {
      Click(dialog, "btnNoImport");
    } else if (form == "frmIndexing") {
      Child<QComboBox>(dialog, "lbDriveList")->setCurrentIndex(0);
      Click(dialog, "btnIndexStart");
      Click(dialog, "btnInsertDatabase");
    }
    return true;
  }

  QStringList data_;
  QString archive_;
};

TEST(InterfaceLanguage, EveryTextShownIsOfTheLanguageChosen) {
  testing_support::FakeMedia media;
  fs::create_directories("medium/sub");
  std::ofstream("medium/delta.txt") << "delta";
  std::ofstream("medium/sub/notes.txt") << "notes";
  const std::string drive = media.addRemovableDrive("medium", "DELTA DISC", kAlphaSerial);
  // Holds the first medium again, a damaged block and a new medium.
  std::string damaged = volumeBlock("BROKEN", 9, 1);
  damaged.replace(damaged.find("S_TYPE="), 1, "X");
  testing_support::writeDiskFile(
      "in.cex", header(3) + volumeBlock("ALPHA DISC", kAlphaSerial, 1) + fileBlock("notes.txt") +
                    damaged + volumeBlock("GAMMA DISC", 5, 1) + fileBlock("gamma.txt"));
  testing_support::writeDiskFile("long.cex",
                                 header(1) + std::string(archive::kMaxLineBytes + 1, 'x') + "\r\n");
  fs::create_directory("folder.cex");  // opens, but cannot be read

  QStringList data;
  for (const char* text : kData) data << QString::fromUtf8(text);
  data << QString::fromStdString(drive) << QString::fromStdString(fs::current_path().string())
       << "ALPHA DISC disc"
       << "GAMMA DISC disc"
       << " v1.01" << DateTimeText(45000.5);

  const struct {
    const char* name;
    bool library;
    const Language& first;
    const Language* then;
  } runs[] = {
      {"without the library: the program's own French", false, kFrench, nullptr},
      {"English, then French", true, kEnglish, &kFrench},
      {"French, then English", true, kFrench, &kEnglish},
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(run.name);
    for (const char* left : {"data", "vantrelodisk.ini", "QuendrixResDemo.dll", "out.cex"})
      fs::remove_all(left);
    TestProgramFolder folder(run.library ? BuiltLanguageLibrary() : std::string());
    TIniFile(folder.IniPath()).WriteInteger("Misc", "LangID", run.first.entry);
    {
      TestCatalogue catalogue;
      const int32_t alpha =
          catalogue.AddSupport("ALPHA DISC", kAlphaSerial, {"notes.txt", "sub\\photo.jpg"});
      catalogue.Db().UpdateSupportInfo(alpha, "my alpha", "first line\r\nsecond line");
      catalogue.AddSupport("EMPTY DISC", 0x33334444);
    }
    ProgramWalk walk(data);
    EXPECT_EQ(RunProgram([&] {
                walk.Walk(run.first, run.then);
                if (run.then != nullptr) walk.Walk(*run.then, nullptr);
              }),
              0);
  }
}

}  // namespace
