#include "features/indexing/TDriveEntry.h"

#include "platform/media.h"

void TDriveEntry::DetectType() { kind_ = KindOfDriveType(platform::driveType(name_)); }

int32_t TDriveEntry::KindOfDriveType(uint32_t driveType) {
  switch (driveType) {
    case platform::kDriveRemovable:
      return kDriveKindRemovable;
    case platform::kDriveFixed:
      return kDriveKindFixed;
    case platform::kDriveCdRom:
      return kDriveKindCdRom;
    case platform::kDriveRemote:
      return kDriveKindNetwork;
    case platform::kDriveRamDisk:
      return kDriveKindRamDisk;
    default:
      return kDriveKindOther;
  }
}
