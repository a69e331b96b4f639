#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "app/LanguageLibraryCheck.h"
#include "app/LocalText.h"
#include "app/TIniFile.h"
#include "app/TfrmData.h"
#include "app/TfrmParameters.h"
#include "platform/os.h"
#include "tests/support/disk_file.h"
#include "tests/support/fake_os.h"
#include "tests/support/form_children.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/test_program_folder.h"

namespace {

QStringList items(QComboBox& box) {
  QStringList lines;
  for (int i = 0; i < box.count(); i++) lines << box.itemText(i);
  return lines;
}

TEST(TfrmParameters, ChosenLanguageAppliesAtOnceAndOkKeepsItForTheNextStart) {
  TestProgramFolder folder(BuiltLanguageLibrary());
  auto data = std::make_unique<TfrmData>();
  TfrmParameters dialog;
  dialog.ApplyLanguage();
  auto* languages = Child<QComboBox>(dialog, "cbLanguageSelect");
  EXPECT_EQ(items(*languages), (QStringList{"English", QString::fromUtf8("Français")}));
  EXPECT_EQ(languages->currentIndex(), 0);
  EXPECT_EQ(dialog.windowTitle(), "Settings");

  ScriptedModals modals([&](QDialog&) {
    languages->setCurrentIndex(1);
    EXPECT_EQ(dialog.windowTitle(), "Parametres");
    EXPECT_EQ(Child<QCheckBox>(dialog, "cbDisplayToolBars")->text(), "Voir barre d'outils");
    QTest::mouseClick(Child<QPushButton>(dialog, "btnOk"), Qt::LeftButton);
  });
  EXPECT_EQ(RunModal(dialog), QDialog::Accepted);
  EXPECT_EQ(TIniFile(folder.IniPath()).ReadInteger("Misc", "LangID", -1), 1);

  data.reset();
  data = std::make_unique<TfrmData>();
  EXPECT_EQ(data->Texts().GetCurrentLanguage(), data->Texts().GetLanguageId(1));
  EXPECT_EQ(LocalText(183, "x"), "Choisissez votre langage");
}

// A choice the disk refuses is said once, in the language just chosen, with
// its cause in words; the settings file keeps every setting it held, and
// the next start speaks the language kept there.
TEST(TfrmParameters, LanguageTheDiskRefusesIsSaidOnceAndTheFileStaysAsItWas) {
  TestProgramFolder folder(BuiltLanguageLibrary());
  const std::string before = "[MainForm]\r\nLeft=30\r\n[Misc]\r\nLangID=0\r\nToolBars=0\r\n";
  testing_support::writeDiskFile(folder.IniPath(), before);
  auto data = std::make_unique<TfrmData>();
  TfrmParameters dialog;
  dialog.ApplyLanguage();
  {
    testing_support::FakeOs fake;
    platform::ScopedOs scope(fake);
    fake.diskSpace = 7;  // a few bytes of the work file, then no more
    ScriptedMessageBoxes boxes;
    ScriptedModals modals([&](QDialog&) {
      Child<QComboBox>(dialog, "cbLanguageSelect")->setCurrentIndex(1);
      QTest::mouseClick(Child<QPushButton>(dialog, "btnOk"), Qt::LeftButton);
    });
    EXPECT_EQ(RunModal(dialog), QDialog::Accepted);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    const BoxRequest& box = boxes.Shown()[0];
    EXPECT_EQ(box.caption, "Parametres");
    EXPECT_TRUE(box.text.startsWith("Le réglage n'a pas pu être enregistré"))
        << box.text.toStdString();
    EXPECT_TRUE(box.text.contains("(disque plein)")) << box.text.toStdString();
    EXPECT_TRUE(box.text.endsWith(QString::fromStdString(folder.IniPath())));
  }
  EXPECT_EQ(testing_support::readDiskFile(folder.IniPath()), before);
  EXPECT_FALSE(testing_support::diskFileExists(folder.IniPath() + ".new"));

  data.reset();
  data = std::make_unique<TfrmData>();
  EXPECT_EQ(data->Texts().GetCurrentLanguage(), data->Texts().GetLanguageId(0));
  EXPECT_EQ(LocalText(183, "x"), "Choose your language");
}

TEST(TfrmParameters, LanguageChosenStaysLoadedAfterCancelButIsNotKept) {
  TestProgramFolder folder(BuiltLanguageLibrary());
  TfrmData data;
  TfrmParameters dialog;
  ScriptedModals modals([&](QDialog&) {
    Child<QComboBox>(dialog, "cbLanguageSelect")->setCurrentIndex(1);
    QTest::keyClick(&dialog, Qt::Key_Escape);
  });
  EXPECT_EQ(RunModal(dialog), QDialog::Rejected);
  EXPECT_EQ(LocalText(184, "x"), "Voir barre d'outils");
  EXPECT_EQ(TIniFile(folder.IniPath()).ReadInteger("Misc", "LangID", -1), -1);
}

TEST(TfrmParameters, ToolBarBoxActsOnlyWhenTheUserClicksIt) {
  TestProgramFolder folder;
  TfrmData data;
  TfrmParameters dialog;
  QSignalSpy clicked(&dialog, &TfrmParameters::toolBarClicked);
  auto* box = Child<QCheckBox>(dialog, "cbDisplayToolBars");
  dialog.SetToolBarCheck(true);
  dialog.SetToolBarCheck(false);
  dialog.SetToolBarCheck(true);
  EXPECT_EQ(clicked.count(), 0);
  EXPECT_TRUE(box->isChecked());

  dialog.show();
  // On the box itself: the widget may be wider than its box and text.
  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
  EXPECT_EQ(clicked.count(), 1);
  EXPECT_FALSE(box->isChecked());
}

// Without the library the one language is the program's own French, and
// the dialog keeps its French captions.
TEST(TfrmParameters, WithoutTheLibraryTheOnlyLanguageIsDefault) {
  TestProgramFolder folder;
  TfrmData data;
  TfrmParameters dialog;
  dialog.ApplyLanguage();
  auto* languages = Child<QComboBox>(dialog, "cbLanguageSelect");
  EXPECT_EQ(items(*languages), QStringList{"Default"});
  EXPECT_TRUE(languages->isEnabled());
  EXPECT_EQ(dialog.windowTitle(), "Parametres");
  EXPECT_EQ(Child<QLabel>(dialog, "lblSelectLanguage")->text(), "Choisissez votre langage");
}

// A setting naming an entry the library lacks loads no language: no line
// is chosen, and OK leaves the setting alone.
TEST(TfrmParameters, SettingBeyondTheLibrarysEntriesSelectsNoLine) {
  TestProgramFolder folder(SmallLanguageLibrary());
  testing_support::writeDiskFile(folder.IniPath(), "[Misc]\nLangID=3\n");
  TfrmData data;
  EXPECT_EQ(LocalText(8, "x"), "x");
  TfrmParameters dialog;
  EXPECT_EQ(items(*Child<QComboBox>(dialog, "cbLanguageSelect")), QStringList{"Default"});
  EXPECT_EQ(Child<QComboBox>(dialog, "cbLanguageSelect")->currentIndex(), -1);
  QTest::mouseClick(Child<QPushButton>(dialog, "btnOk"), Qt::LeftButton);
  EXPECT_EQ(testing_support::readDiskFile(folder.IniPath()), "[Misc]\nLangID=3\n");
}

// A library that offers no language: the choice is greyed out.
class NoLanguageOs : public platform::Os {
 public:
  int runWithTimeLimit(const std::vector<std::string>&, int64_t, size_t,
                       platform::ChildEnd& end) override {
    language_snapshot::Snapshot none;
    none.languages.resize(1);
    end.exitCode = language_check::kPassed;
    end.output = language_check::CheckerReport(none);
    return 0;
  }
};

TEST(TfrmParameters, LibraryWithoutLanguagesGreysTheChoiceOut) {
  TestProgramFolder folder;
  testing_support::writeDiskFile(TfrmData::kLanguageLibrary, "a library that passes its check");
  NoLanguageOs os;
  platform::ScopedOs scope(os);
  TfrmData data;
  TfrmParameters dialog;
  auto* languages = Child<QComboBox>(dialog, "cbLanguageSelect");
  EXPECT_FALSE(languages->isEnabled());
  EXPECT_EQ(languages->count(), 0);
  EXPECT_EQ(Child<QLabel>(dialog, "lblSelectLanguage")->palette().color(QPalette::WindowText),
            QColor(0x80, 0x80, 0x80));
}

}  // namespace
