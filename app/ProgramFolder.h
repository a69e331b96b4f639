// The program folder: the folder of the executable, which holds the ini
// file, the language library and the catalogue's data folder.
//
// Paths are the file system's bytes, '/' separated. Tests point the program
// at a temporary folder with ScopedProgramPath.
#pragma once

#include <string>

// The executable's full name; empty when the system cannot tell it.
std::string ProgramPath();

// The executable's folder with a trailing '/' ("./" when unknown).
std::string ProgramFolder();

// The ini file: the executable's full name with its extension replaced by
// ".ini" ("vantrelodisk" gives "vantrelodisk.ini").
std::string IniFilePath();

// The help file, named the same way with ".chm".
std::string HelpFilePath();

// Makes the program believe, for the guard's lifetime, that its executable
// is `path` (a file that need not exist). Tests only; guards nest.
class ScopedProgramPath {
 public:
  explicit ScopedProgramPath(std::string path);
  ~ScopedProgramPath();
  ScopedProgramPath(const ScopedProgramPath&) = delete;
  ScopedProgramPath& operator=(const ScopedProgramPath&) = delete;

 private:
  std::string previous_;
  bool hadPrevious_;
};
