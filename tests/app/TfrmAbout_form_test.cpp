#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>

#include "app/ModalRunner.h"
#include "app/TfrmAbout.h"
#include "app/TfrmData.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/test_program_folder.h"

namespace {

QString aboutText(TfrmAbout& about) {
  return about.findChild<QTextEdit*>("reDispAbout")->toPlainText();
}

TEST(TfrmAbout, ShowsTheProductAndTheAboutTextOfTheLanguage) {
  TestProgramFolder folder(BuiltLanguageLibrary());
  TfrmData data;
  TfrmAbout about;
  EXPECT_EQ(about.findChild<QLabel*>("lblProdName")->text(), "Kavri Vantrelodisk");
  EXPECT_EQ(about.findChild<QLabel*>("lblProdVersion")->text(), " v1.01");
  EXPECT_FALSE(about.findChild<QLabel*>("imgIcon")->pixmap().isNull());
  EXPECT_EQ(about.windowTitle(), "About");
  EXPECT_TRUE(aboutText(about).startsWith("Kavri Vantrelodisk catalogues your CDs"));
  EXPECT_TRUE(aboutText(about).endsWith("Thank you for using Kavri Vantrelodisk!"));

  data.Texts().LoadLanguage(data.Texts().GetLanguageId(1));
  about.ApplyLanguage();
  EXPECT_EQ(about.windowTitle(), "A propos");
  EXPECT_TRUE(aboutText(about).contains(QString::fromUtf8("son numéro de série")));

  ScriptedModals modals(
      [&](QDialog&) { QTest::mouseClick(about.findChild<QPushButton*>("btnOk"), Qt::LeftButton); });
  EXPECT_EQ(RunModal(about), QDialog::Accepted);
}

TEST(TfrmAbout, WithoutTheLibraryTheAboutTextIsEmpty) {
  TestProgramFolder folder;
  TfrmData data;
  TfrmAbout about;
  EXPECT_EQ(about.windowTitle(), "A propos");
  EXPECT_TRUE(aboutText(about).isEmpty());
}

}  // namespace
