#include "features/indexing/DriveEnumerator.h"

#include "platform/media.h"

void DriveEnumerator::Refresh() {
  Clear();
  // The listing tells every kind at once: asking again per drive would read
  // the mount table once for each.
  for (const platform::Drive& drive : platform::listDrives()) {
    drives_.push_back(std::make_unique<TDriveEntry>(drive.path, drive.device));
    drives_.back()->SetKind(TDriveEntry::KindOfDriveType(drive.type));
  }
}

TDriveEntry* DriveEnumerator::GetDrive(int32_t index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return drives_[static_cast<size_t>(index)].get();
}
