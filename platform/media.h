// The media layer: what Windows tells of drives and volumes (which drives
// there are and their kinds; a volume's label, serial number, file system
// and space), told from Linux's mount table, sysfs and udev's links.
//
// A drive is a mount point. Drive kinds:
//   CD-ROM     an iso9660 or udf file system, or an sr device;
//   remote     nfs, nfs4, cifs, smb3, smbfs, 9p, sshfs (fuse.sshfs);
//   RAM disk   tmpfs, ramfs;
//   removable  a block device whose sysfs folder, or its disk's (for a
//              partition), says removable, or that sits on a usb or mmc bus;
//   fixed      any other block device;
//   unknown    anything else (an overlay, a fuse file system).
// Pseudo file systems (proc, sysfs, cgroup...) are no drives.
//
// /proc, /sys and /dev are read below the media root, which tests point at
// a fake tree of the same shape; mount points are real paths in any case.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Drive types, numbered as GetDriveTypeA numbers them.
enum DriveType : uint32_t {
  kDriveUnknown = 0,
  kDriveNoRootDir = 1,  // the path names no existing folder
  kDriveRemovable = 2,
  kDriveFixed = 3,
  kDriveRemote = 4,
  kDriveCdRom = 5,
  kDriveRamDisk = 6,
};

// File-system flags, with the values GetVolumeInformationA gives them.
inline constexpr uint32_t kFsCaseSensitive = 0x1;
inline constexpr uint32_t kFsCasePreserved = 0x2;
inline constexpr uint32_t kFsUnicodeOnDisk = 0x4;
inline constexpr uint32_t kFsPersistentAcls = 0x8;
inline constexpr uint32_t kFsFileCompression = 0x10;
inline constexpr uint32_t kFsVolumeCompressed = 0x8000;
inline constexpr uint32_t kFsReadOnlyVolume = 0x80000;

struct Drive {
  std::string path;  // the mount point
  uint32_t type = kDriveUnknown;
  // What is mounted there, as the mount table names it ("/dev/sr0"): the
  // same drive under the next medium's mount point.
  std::string device;
};

// Every drive, sorted by path.
std::vector<Drive> listDrives();

// The type of the drive that holds `path`. kDriveNoRootDir when `path` does
// not exist and is no mount point.
uint32_t driveType(const std::string& path);

struct VolumeFacts {
  std::string label;  // UTF-8, as the file system gives it; empty for none
  // As Windows computes it, or derived where it cannot be had
  // (platform/volume_id.h).
  uint32_t serial = 0;
  std::string fileSystem;  // the mount's type, as "vfat" or "iso9660"
  uint32_t fileSystemFlags = 0;
  uint32_t maxComponentLength = 0;
  uint32_t driveType = kDriveUnknown;
};

// The facts of the volume that holds the folder `path`; false when it
// cannot be asked (no such folder), with only `driveType` filled.
bool volumeFacts(const std::string& path, VolumeFacts& facts);

// Bytes available to the caller and bytes in all on the volume that holds
// `path`; false (both 0) when it cannot be asked.
bool volumeSpace(const std::string& path, uint64_t& freeBytes, uint64_t& totalBytes);

// The folder below which /proc, /sys and /dev are read: empty for the real
// ones.
const std::string& mediaRoot();

// `absolute` (as "/sys/dev/block") below the media root.
std::string mediaPath(const std::string& absolute);

// The whole content of a small file (at most `limit` bytes read); false
// when it cannot be read.
bool readSmallFile(const std::string& path, std::string& content, size_t limit = 1 << 20);

// Reads /proc, /sys and /dev below `root` for the lifetime of the guard.
// Tests only; not thread-safe.
class ScopedMediaRoot {
 public:
  explicit ScopedMediaRoot(std::string root);
  ~ScopedMediaRoot();
  ScopedMediaRoot(const ScopedMediaRoot&) = delete;
  ScopedMediaRoot& operator=(const ScopedMediaRoot&) = delete;

 private:
  std::string previous_;
};

}  // namespace platform
