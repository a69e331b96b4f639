// The kernel's mount table, as /proc/self/mountinfo gives it.
//
// One line a mount, fields separated by single spaces:
//
//   36 35 8:17 / /media/usb\040stick rw,nosuid shared:7 - vfat /dev/sdb1 rw,uid=1000
//   |  |  |    | |                    |         |        | |    |         super options
//   |  |  |    | |                    |         |        | |    source
//   |  |  |    | |                    |         |        | file-system type
//   |  |  |    | |                    |         |        separator
//   |  |  |    | |                    |         optional fields, zero or more
//   |  |  |    | |                    mount options ("ro" or "rw" first)
//   |  |  |    | mount point
//   |  |  |    root of the mount inside its file system
//   |  |  major:minor of the device (major 0: no block device)
//   |  parent mount id
//   mount id
//
// Paths and sources escape space, tab, newline and backslash as a backslash
// and three octal digits (\040, \011, \012, \134).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct MountPoint {
  std::string path;  // unescaped, as the file system names it
  std::string fsType;
  std::string source;  // unescaped
  uint32_t major = 0;
  uint32_t minor = 0;
  bool readOnly = false;
};

// Every mount point of the table, one per path: a later mount on the same
// path hides the earlier one and takes its place. Malformed lines are
// skipped.
std::vector<MountPoint> parseMountInfo(std::string_view text);

// Kernel file systems that hold no files of a medium (proc, sysfs, cgroup...).
bool isPseudoFileSystem(std::string_view fsType);

// The mount whose path is the longest leading part of the absolute `path`,
// compared component by component; null when none is.
const MountPoint* mountHolding(const std::vector<MountPoint>& mounts, std::string_view path);

}  // namespace platform
