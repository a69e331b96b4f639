#include "features/indexing/VolumeInfo.h"

#include "platform/ansi.h"
#include "platform/media.h"

namespace {

// Volume names are stored in a 511-character field of the design's record.
constexpr size_t kMaxVolumeName = 511;

void decodeDriveType(TVolumeInfo& volume) {
  volume.removable = volume.driveType == platform::kDriveRemovable;
  volume.fixed = volume.driveType == platform::kDriveFixed;
  volume.remote = volume.driveType == platform::kDriveRemote;
  volume.cdRom = volume.driveType == platform::kDriveCdRom;
  volume.ramDisk = volume.driveType == platform::kDriveRamDisk;
  volume.unknownDrive =
      volume.driveType == platform::kDriveUnknown || volume.driveType == platform::kDriveNoRootDir;
}

void decodeFlags(TVolumeInfo& volume) {
  const uint32_t flags = volume.fileSystemFlags;
  volume.caseSensitive = (flags & platform::kFsCaseSensitive) != 0;
  volume.casePreserved = (flags & platform::kFsCasePreserved) != 0;
  volume.unicodeOnDisk = (flags & platform::kFsUnicodeOnDisk) != 0;
  volume.persistentAcls = (flags & platform::kFsPersistentAcls) != 0;
  volume.fileCompression = (flags & platform::kFsFileCompression) != 0;
  volume.volumeCompressed = (flags & platform::kFsVolumeCompressed) != 0;
}

}  // namespace

bool GetVolumeInfo(const std::string& root, TVolumeInfo& volume) {
  volume = TVolumeInfo();
  platform::VolumeFacts facts;
  const bool asked = platform::volumeFacts(root, facts);
  volume.driveType = facts.driveType;
  decodeDriveType(volume);
  if (!asked) return false;
  volume.volumeName = platform::utf8ToAnsi(facts.label).substr(0, kMaxVolumeName);
  volume.serialNumber = facts.serial;
  volume.maxComponentLength = facts.maxComponentLength;
  volume.fileSystemFlags = facts.fileSystemFlags;
  volume.fileSystemName = facts.fileSystem;
  decodeFlags(volume);
  return true;
}

bool GetDriveSpace(const std::string& path, uint64_t& freeBytes, uint64_t& totalBytes) {
  return platform::volumeSpace(path, freeBytes, totalBytes);
}
