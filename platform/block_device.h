// The block device behind a mount and the drive kind it gives, as sysfs
// tells them: /sys/dev/block/MAJ:MIN links to the device's folder under
// /sys/devices, whose path names the buses it sits on; a partition's folder
// lies inside its disk's, which holds the `removable` attribute.
#pragma once

#include <cstdint>
#include <string>

#include "platform/mountinfo.h"

namespace platform {

struct BlockDevice {
  std::string name;         // as "sdb1"; empty when the mount has none
  std::string sysfsFolder;  // its folder under /sys/devices; empty when unknown
};

// The device of a mount: from its major:minor, or from a source under /dev
// (whose links are followed) when the major is 0, as for btrfs.
BlockDevice blockDeviceOf(const MountPoint& mount);

// The drive type (platform/media.h) of a mount on `device`.
uint32_t driveTypeOf(const MountPoint& mount, const BlockDevice& device);

// Follows the links of a device path under /dev below the media root, as
// /dev/mapper/data -> ../dm-0; the device's name, as "dm-0".
std::string deviceNameOf(const std::string& devPath);

}  // namespace platform
