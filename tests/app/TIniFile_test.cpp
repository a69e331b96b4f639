#include "app/TIniFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "platform/os.h"
#include "tests/support/disk_file.h"
#include "tests/support/fake_os.h"
#include "tests/support/power_cut.h"

namespace {

using testing_support::diskFileExists;
using testing_support::readDiskFile;
using testing_support::writeDiskFile;

// A settings file as the Windows program leaves it, with what people add
// by hand: comments, blank lines, blanks around '=', a last line without
// its line end.
const std::string kWindowsFile =
    "; settings\r\n"
    "[MAINFORM]\r\n"
    "LEFT=220\r\n"
    "Top = 205\r\n"
    "WIDTH=650\r\n"
    "\r\n"
    "[Export]\r\n"
    "DefaultArchive=C:\\Archives\\cat,1.cex\r\n"
    "DefaultDir=C:\\Mes documents\\\r\n"
    "\r\n"
    "[SupportList]\r\n"
    "Disp.0=1\r\n"
    "Order.0=3";

TEST(TIniFile, WindowsFileKeepsEveryByteItDoesNotChange) {
  writeDiskFile("app.ini", kWindowsFile);
  {
    TIniFile ini("app.ini");
    EXPECT_EQ(ini.ReadInteger("MainForm", "Left", 0), 220);
    EXPECT_EQ(ini.ReadInteger("mainform", "top", 0), 205);
    EXPECT_EQ(ini.ReadInteger("MainForm", "Height", 260), 260);
    EXPECT_EQ(ini.ReadString("export", "DEFAULTARCHIVE", ""), "C:\\Archives\\cat,1.cex");
    EXPECT_EQ(ini.ReadString("Export", "DefaultDir", ""), "C:\\Mes documents\\");

    ini.WriteInteger("MainForm", "Top", 17);         // an existing key
    ini.WriteInteger("MainForm", "Height", 300);     // a new key of a section
    ini.WriteInteger("SupportList", "Width.0", 80);  // after a last line without end
    ini.WriteInteger("Misc", "LangID", 1);           // a new section
    ini.WriteInteger("MainForm", "Left", 220);       // the value it has
  }
  EXPECT_EQ(readDiskFile("app.ini"),
            "; settings\r\n"
            "[MAINFORM]\r\n"
            "LEFT=220\r\n"
            "Top = 17\r\n"
            "WIDTH=650\r\n"
            "Height=300\r\n"
            "\r\n"
            "[Export]\r\n"
            "DefaultArchive=C:\\Archives\\cat,1.cex\r\n"
            "DefaultDir=C:\\Mes documents\\\r\n"
            "\r\n"
            "[SupportList]\r\n"
            "Disp.0=1\r\n"
            "Order.0=3\r\n"
            "Width.0=80\r\n"
            "[Misc]\r\n"
            "LangID=1\r\n");
  EXPECT_FALSE(diskFileExists("app.ini.new"));
}

TEST(TIniFile, IntegersAreWholeDecimalNumbersOfThirtyTwoBits) {
  writeDiskFile("app.ini",
                "[N]\nplain=12\nblanks=  -7  \nplus=+3\ntail=12abc\nempty=\nbig=2147483648\n"
                "small=-2147483648\nhex=0x10\n");
  const TIniFile ini("app.ini");
  const struct {
    const char* key;
    int32_t expected;
  } cases[] = {{"plain", 12}, {"blanks", -7}, {"plus", 3},     {"tail", 99},        {"empty", 99},
               {"big", 99},   {"hex", 99},    {"missing", 99}, {"small", INT32_MIN}};
  for (const auto& c : cases) EXPECT_EQ(ini.ReadInteger("N", c.key, 99), c.expected) << c.key;
}

TEST(TIniFile, MissingFileGivesDefaultsAndIsMadeOnlyByAWrite) {
  {
    TIniFile ini("new.ini");
    EXPECT_EQ(ini.ReadInteger("Misc", "ToolBars", 1), 1);
    EXPECT_EQ(ini.ReadString("Import", "DefaultDir", "/home"), "/home");
  }
  EXPECT_FALSE(diskFileExists("new.ini"));
  {
    TIniFile ini("new.ini");
    ini.WriteInteger("Misc", "ToolBars", 0);
    ini.WriteString("Import", "DefaultDir", "/media/cd\r\n[Evil]");
    ini.WriteString("Bad]", "Key", "x");
    ini.WriteString("Import", "Bad=Key", "x");
    EXPECT_TRUE(ini.UpdateFile());
  }
  EXPECT_EQ(readDiskFile("new.ini"), "[Misc]\nToolBars=0\n[Import]\nDefaultDir=/media/cd\n");
}

TEST(TIniFile, FileThatCannotBeReadOrReplacedIsLeftAsItWas) {
  testing_support::FakeOs fake;
  platform::ScopedOs scope(fake);
  writeDiskFile("app.ini", "[Misc]\nLangID=1\n");

  fake.openError = EACCES;
  {
    TIniFile ini("app.ini");
    EXPECT_EQ(ini.ReadInteger("Misc", "LangID", 0), 0);
    ini.WriteInteger("Misc", "LangID", 5);
    EXPECT_FALSE(ini.UpdateFile());
    EXPECT_EQ(ini.WriteError(), EACCES);
  }
  EXPECT_EQ(readDiskFile("app.ini"), "[Misc]\nLangID=1\n");

  writeDiskFile("big.ini", std::string(TIniFile::kMaxBytes + 1, ';'));
  {
    TIniFile ini("big.ini");
    ini.WriteInteger("Misc", "LangID", 5);
    EXPECT_FALSE(ini.UpdateFile());
    EXPECT_EQ(ini.WriteError(), EFBIG);
  }
  EXPECT_EQ(readDiskFile("big.ini").size(), TIniFile::kMaxBytes + 1);

  // A disk that takes a few bytes of the work file, then refuses: the cause
  // is the disk's, not a short count.
  fake.diskSpace = 4;
  {
    TIniFile ini("app.ini");
    ini.WriteInteger("Misc", "LangID", 2);
    EXPECT_FALSE(ini.UpdateFile());
    EXPECT_EQ(ini.WriteError(), ENOSPC);
  }
  fake.diskSpace = -1;
  EXPECT_EQ(readDiskFile("app.ini"), "[Misc]\nLangID=1\n");
  EXPECT_FALSE(diskFileExists("app.ini.new"));

  fake.renameErrno = EXDEV;
  {
    TIniFile ini("app.ini");
    ini.WriteInteger("Misc", "LangID", 2);
    EXPECT_FALSE(ini.UpdateFile());
    EXPECT_EQ(ini.WriteError(), EXDEV);
  }
  EXPECT_EQ(readDiskFile("app.ini"), "[Misc]\nLangID=1\n");
  EXPECT_FALSE(diskFileExists("app.ini.new"));
}

// Whenever the power goes, the file is the old one or the new one whole;
// once UpdateFile said it was written, the new one.
TEST(TIniFile, APowerCutLeavesTheOldFileOrTheNewOneWhole) {
  std::filesystem::create_directory("d");
  writeDiskFile("d/app.ini", kWindowsFile);
  testing_support::PowerCutRecorder recorder("d");
  size_t written = 0;
  {
    platform::ScopedOs door(recorder);
    TIniFile ini("d/app.ini");
    ini.WriteInteger("Misc", "LangID", 1);
    ASSERT_TRUE(ini.UpdateFile());
    written = recorder.Position();
  }
  const std::string after = kWindowsFile + "\r\n[Misc]\r\nLangID=1\r\n";
  for (const size_t at : recorder.SyncPoints()) {
    for (const auto& state : recorder.StatesAt(at)) {
      const auto file = state.files.find("d/app.ini");
      ASSERT_NE(file, state.files.end()) << state.label;
      EXPECT_TRUE(file->second == kWindowsFile || file->second == after) << state.label;
    }
  }
  EXPECT_EQ(recorder.Durable(written).at("d/app.ini"), after);
}

}  // namespace
