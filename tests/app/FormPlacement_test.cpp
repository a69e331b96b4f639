#include "app/FormPlacement.h"

#include <gtest/gtest.h>

#include "app/ProgramFolder.h"
#include "app/TIniFile.h"
#include "tests/support/disk_file.h"

namespace {

TEST(FormPlacement, ReadsWhatWasAskedAndKeepsTheRest) {
  testing_support::writeDiskFile("app.ini",
                                 "[MainForm]\nLeft=10\nTop=20\nWidth=700\nHeight=500\n"
                                 "[Partial]\nWidth=800\n");
  const TIniFile ini("app.ini");
  const FormBounds designed{220, 205, 650, 260};

  FormBounds bounds = designed;
  EXPECT_TRUE(ReadFormPlacement(ini, "MainForm", true, false, bounds));
  EXPECT_EQ(bounds, (FormBounds{10, 20, 650, 260}));

  bounds = designed;
  EXPECT_TRUE(ReadFormPlacement(ini, "MainForm", false, true, bounds));
  EXPECT_EQ(bounds, (FormBounds{220, 205, 700, 500}));

  bounds = designed;
  EXPECT_TRUE(ReadFormPlacement(ini, "Partial", true, true, bounds));
  EXPECT_EQ(bounds, (FormBounds{220, 205, 800, 260}));

  bounds = designed;
  EXPECT_FALSE(ReadFormPlacement(ini, "Missing", true, true, bounds));
  EXPECT_EQ(bounds, designed);
}

TEST(FormPlacement, WritesOnlyWhatWasAsked) {
  {
    TIniFile ini("app.ini");
    WriteFormPlacement(ini, "A", true, false, FormBounds{1, 2, 3, 4});
    WriteFormPlacement(ini, "B", false, true, FormBounds{1, 2, 3, 4});
  }
  EXPECT_EQ(testing_support::readDiskFile("app.ini"),
            "[A]\nLeft=1\nTop=2\n[B]\nWidth=3\nHeight=4\n");
}

TEST(ProgramFolder, IniFileIsTheExecutableWithItsExtensionReplaced) {
  const struct {
    const char* executable;
    const char* folder;
    const char* ini;
  } cases[] = {
      {"/opt/kavri/vantrelodisk", "/opt/kavri/", "/opt/kavri/vantrelodisk.ini"},
      {"/opt/kavri/Vantrelodisk.exe", "/opt/kavri/", "/opt/kavri/Vantrelodisk.ini"},
      {"/opt/k.1/vantrelodisk", "/opt/k.1/", "/opt/k.1/vantrelodisk.ini"},
  };
  for (const auto& c : cases) {
    ScopedProgramPath path(c.executable);
    EXPECT_EQ(ProgramFolder(), c.folder);
    EXPECT_EQ(IniFilePath(), c.ini);
  }
  EXPECT_FALSE(ProgramPath().empty());
  EXPECT_EQ(ProgramFolder().back(), '/');
}

}  // namespace
