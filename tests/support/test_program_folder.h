// Makes the test's own folder the program folder: the program believes its
// executable is ./vantrelodisk, so its ini file is ./vantrelodisk.ini and
// its language library ./QuendrixResDemo.dll. The library's check runs the
// program built (./vantrelodisk is not there).
#pragma once

#include <string>

#include "app/LanguageLibraryCheck.h"
#include "app/ProgramFolder.h"

class TestProgramFolder {
 public:
  // Copies `languageLibrary` into the folder under the library's name when
  // it is not empty.
  explicit TestProgramFolder(const std::string& languageLibrary = std::string());

  const std::string& Folder() const { return folder_; }
  std::string IniPath() const { return folder_ + "vantrelodisk.ini"; }

 private:
  std::string folder_;
  ScopedProgramPath path_;
  language_check::ScopedLanguageCheck check_;
};

// The language library built with the program (English, then French).
std::string BuiltLanguageLibrary();
// The program built, in its program folder.
std::string BuiltProgram();
// A small library of one language with 300 strings "string <i>", string 7
// missing, and no language names.
std::string SmallLanguageLibrary();
// A library whose answers are out of every range: the loader must hold
// them to its limits.
std::string HostileLanguageLibrary();
// Libraries that harm whoever loads them (test_language_library.cpp):
// "hanging", "exiting" or "crashing".
std::string HarmfulLanguageLibrary(const std::string& kind);
