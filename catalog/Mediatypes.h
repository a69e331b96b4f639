// What a walk of a medium finds and what the catalogue stores of it: one
// entry per file or folder, and the facts of the volume.
//
// Texts are Windows-1252 bytes. Sizes are 64-bit from the file system on.
#pragma once

#include <cstdint>
#include <string>

// One file or folder found on a medium.
struct TFileEntry {
  std::string signature;     // MD5 of the contents, 32 lower-case hex digits, once computed
  double date = -1.0;        // last write, days since 30 December 1899 with a fraction
  int64_t size = -1;         // bytes; 0 for a folder
  int32_t attributes = -1;   // Windows attribute bits: 0x10 is a folder
  int32_t databaseId = -1;   // F_ID once stored
  int32_t parentIndex = -1;  // entry of the folder holding this one
  std::string drive;         // the walk's root folder, as the file system names it (not stored)
  std::string directory;     // the containing folder, '\' first and last
  std::string name;
  std::string extension;  // from the name's last '.', the '.' included
};

inline constexpr int32_t kDirectoryAttribute = 0x10;

// The facts of a volume.
struct TVolumeInfo {
  std::string volumeName;  // at most 511 bytes
  uint32_t serialNumber = 0;
  uint32_t maxComponentLength = 0;
  uint32_t fileSystemFlags = 0;
  std::string fileSystemName;
  // 0 unknown, 1 no such folder, 2 removable, 3 fixed, 4 remote, 5 CD-ROM,
  // 6 RAM disk; removable to unknownDrive below decode it.
  uint32_t driveType = 0;
  bool casePreserved = false;
  bool caseSensitive = false;
  bool unicodeOnDisk = false;
  bool persistentAcls = false;
  bool fileCompression = false;
  bool volumeCompressed = false;
  bool removable = false;
  bool fixed = false;
  bool remote = false;
  bool cdRom = false;
  bool ramDisk = false;
  bool unknownDrive = false;
};
