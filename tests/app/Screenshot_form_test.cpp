// Pictures of the shell's dialogs in both languages of the built library,
// for a person to look at (build/artifacts/*.png).
#include <gtest/gtest.h>

#include "app/TfrmAbout.h"
#include "app/TfrmData.h"
#include "app/TfrmParameters.h"
#include "tests/support/screenshot.h"
#include "tests/support/test_program_folder.h"

namespace {

TEST(ShellScreenshot, DialogsInEnglishAndFrench) {
  TestProgramFolder folder(BuiltLanguageLibrary());
  TfrmData data;
  CStandardTextResources& texts = data.Texts();
  const struct {
    int entry;
    const char* suffix;
  } languages[] = {{0, "en"}, {1, "fr"}};
  for (const auto& language : languages) {
    texts.LoadLanguage(texts.GetLanguageId(language.entry));
    TfrmParameters parameters;
    parameters.ApplyLanguage();
    parameters.SetToolBarCheck(true);
    EXPECT_FALSE(SaveScreenshot(parameters, std::string("parameters_") + language.suffix).empty());
    TfrmAbout about;
    EXPECT_FALSE(SaveScreenshot(about, std::string("about_") + language.suffix).empty());
  }
}

}  // namespace
