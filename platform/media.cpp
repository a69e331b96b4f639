#include "platform/media.h"

#include <fcntl.h>

#include <algorithm>
#include <string_view>

#include "platform/block_device.h"
#include "platform/descriptor.h"
#include "platform/mountinfo.h"
#include "platform/os.h"
#include "platform/volume_id.h"

namespace platform {
namespace {

std::string& root() {
  static std::string folder;
  return folder;
}

std::vector<MountPoint> mountTable() {
  std::string text;
  if (!readSmallFile(mediaPath("/proc/self/mountinfo"), text)) return {};
  return parseMountInfo(text);
}

// What the file system answers for the flags GetVolumeInformationA gives;
// a read-only mount adds kFsReadOnlyVolume.
uint32_t fileSystemFlagsOf(std::string_view type) {
  struct Known {
    std::string_view type;
    uint32_t flags;
  };
  constexpr uint32_t kPosix = kFsCaseSensitive | kFsCasePreserved;
  constexpr uint32_t kWindowsLong = kFsCasePreserved | kFsUnicodeOnDisk;
  static constexpr Known kKnown[] = {
      {"vfat", kWindowsLong},
      {"exfat", kWindowsLong},
      {"msdos", 0},
      {"ntfs", kPosix | kFsUnicodeOnDisk | kFsPersistentAcls | kFsFileCompression},
      {"ntfs3", kPosix | kFsUnicodeOnDisk | kFsPersistentAcls | kFsFileCompression},
      {"iso9660", kFsUnicodeOnDisk},
      {"udf", kPosix | kFsUnicodeOnDisk},
      {"btrfs", kPosix | kFsPersistentAcls | kFsFileCompression},
      {"ext2", kPosix | kFsPersistentAcls},
      {"ext3", kPosix | kFsPersistentAcls},
      {"ext4", kPosix | kFsPersistentAcls},
      {"xfs", kPosix | kFsPersistentAcls},
  };
  for (const Known& known : kKnown) {
    if (known.type == type) return known.flags;
  }
  return kPosix;
}

}  // namespace

const std::string& mediaRoot() { return root(); }

std::string mediaPath(const std::string& absolute) { return root() + absolute; }

ScopedMediaRoot::ScopedMediaRoot(std::string folder) : previous_(std::move(root())) {
  root() = std::move(folder);
}

ScopedMediaRoot::~ScopedMediaRoot() { root() = std::move(previous_); }

bool readSmallFile(const std::string& path, std::string& content, size_t limit) {
  content.clear();
  const Descriptor file(os().openFile(path.c_str(), O_RDONLY, 0));
  if (!file.valid()) return false;
  // Files of /proc and /sys tell no size: read until the end.
  char buffer[16384];
  int64_t got = 0;
  while (content.size() < limit &&
         (got = os().readAt(file.get(), buffer, std::min(sizeof buffer, limit - content.size()),
                            content.size())) > 0)
    content.append(buffer, static_cast<size_t>(got));
  return got >= 0;
}

std::vector<Drive> listDrives() {
  std::vector<Drive> drives;
  for (const MountPoint& mount : mountTable()) {
    if (isPseudoFileSystem(mount.fsType)) continue;
    drives.push_back({mount.path, driveTypeOf(mount, blockDeviceOf(mount)), mount.source});
  }
  std::sort(drives.begin(), drives.end(),
            [](const Drive& a, const Drive& b) { return a.path < b.path; });
  return drives;
}

uint32_t driveType(const std::string& path) {
  const std::vector<MountPoint> mounts = mountTable();
  const std::string real = os().canonicalPath(path.c_str());
  const MountPoint* mount = nullptr;
  if (!real.empty()) {
    mount = mountHolding(mounts, real);
  } else {
    const auto same = std::find_if(mounts.begin(), mounts.end(),
                                   [&](const MountPoint& m) { return m.path == path; });
    if (same == mounts.end()) return kDriveNoRootDir;
    mount = &*same;
  }
  if (mount == nullptr || isPseudoFileSystem(mount->fsType)) return kDriveUnknown;
  return driveTypeOf(*mount, blockDeviceOf(*mount));
}

bool volumeFacts(const std::string& path, VolumeFacts& facts) {
  facts = VolumeFacts();
  const std::string real = os().canonicalPath(path.c_str());
  if (real.empty()) {
    facts.driveType = kDriveNoRootDir;
    return false;
  }
  const std::vector<MountPoint> mounts = mountTable();
  const MountPoint* mount = mountHolding(mounts, real);
  const bool drive = mount != nullptr && !isPseudoFileSystem(mount->fsType);
  const BlockDevice device = drive ? blockDeviceOf(*mount) : BlockDevice();
  if (drive) facts.driveType = driveTypeOf(*mount, device);
  VolumeStatus status;
  if (os().volumeStatus(real.c_str(), status) != 0) return false;
  facts.maxComponentLength = status.nameMax;
  if (status.readOnly) facts.fileSystemFlags |= kFsReadOnlyVolume;
  if (!drive) return true;
  const VolumeId id = readVolumeId(*mount, device);
  facts.label = id.label;
  facts.serial = id.serial;
  facts.fileSystem = mount->fsType;
  facts.fileSystemFlags |= fileSystemFlagsOf(id.type);
  if (mount->readOnly) facts.fileSystemFlags |= kFsReadOnlyVolume;
  return true;
}

bool volumeSpace(const std::string& path, uint64_t& freeBytes, uint64_t& totalBytes) {
  freeBytes = totalBytes = 0;
  VolumeStatus status;
  if (os().volumeStatus(path.c_str(), status) != 0) return false;
  freeBytes = status.blocksAvailable * status.fragmentSize;
  totalBytes = status.blocks * status.fragmentSize;
  return true;
}

}  // namespace platform
