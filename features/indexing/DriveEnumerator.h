// DriveEnumerator: the drives of the machine (every mount point that holds
// files, platform/media.h) with their kinds, sorted by path.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "features/indexing/TDriveEntry.h"

class DriveEnumerator {
 public:
  // Reads the drives anew; an unreadable mount table leaves the list empty.
  void Refresh();
  void Clear() { drives_.clear(); }
  int32_t Count() const { return static_cast<int32_t>(drives_.size()); }
  // The drive at `index`, null out of range; valid until Refresh or Clear.
  TDriveEntry* GetDrive(int32_t index) const;

 private:
  std::vector<std::unique_ptr<TDriveEntry>> drives_;
};
