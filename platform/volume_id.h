// A volume's label, UUID and Windows serial number: read from the device's
// superblock through libblkid when the device can be read (as root, or in
// the disk group), else from udev's /dev/disk/by-label and /dev/disk/by-uuid
// links, whose names encode unsafe bytes as \xHH.
//
// The serial number as Windows computes it, where the UUID carries it:
//   FAT, exFAT  "ABCD-1234" is 0xABCD1234;
//   NTFS        16 hexadecimal digits, of which Windows shows the low 32 bits;
//   iso9660     2048 bytes at sector 16 (the primary volume descriptor,
//               "CD001" at byte 1) summed in four byte lanes, each lane a
//               byte that wraps; serial = lane0 << 24 | lane1 << 16 |
//               lane2 << 8 | lane3, when the device can be read.
// Derived where it cannot be had: a CD or DVD (iso9660, udf) whose
// descriptor cannot be read gets the 32-bit FNV-1a hash of its UUID text (a
// date and time for iso9660); any other file system the first eight
// hexadecimal digits of its UUID. No UUID, serial 0.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/block_device.h"
#include "platform/mountinfo.h"

namespace platform {

struct VolumeId {
  std::string type;  // as the superblock or else the mount names it
  std::string label;
  std::string uuid;
  uint32_t serial = 0;
};

VolumeId readVolumeId(const MountPoint& mount, const BlockDevice& device);

// The serial number a UUID carries or gives (see above).
uint32_t serialFromUuid(std::string_view fsType, std::string_view uuid);

// The checksum serial of a CD's primary volume descriptor; false when the
// device cannot be read or holds none.
bool descriptorSerial(const std::string& device, uint32_t& serial);

// A name under /dev/disk/by-*: \xHH becomes the byte HH.
std::string decodeUdevName(std::string_view name);

}  // namespace platform
