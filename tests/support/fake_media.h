// A fake /proc, /sys and /dev for the media layer (platform/media.h),
// written below a folder of the test's and read instead of the real ones
// while the object lives. The layer's own parsing runs on it unchanged;
// mount points stay real paths of this machine.
//
// The seam for tests of the program: addRemovableDrive lists a plain folder
// as a removable drive with a given label and serial number, and nothing
// else is a drive until more is added.
#pragma once

#include <cstdint>
#include <string>

#include "platform/media.h"

namespace testing_support {

class FakeMedia {
 public:
  // The tree goes into `folder` (made; relative to the current folder).
  explicit FakeMedia(const std::string& folder = "fake-media");
  FakeMedia(const FakeMedia&) = delete;
  FakeMedia& operator=(const FakeMedia&) = delete;

  // The absolute folder that stands for "/".
  const std::string& root() const { return root_; }

  // A line of /proc/self/mountinfo, written as given (escapes included).
  void addMountLine(const std::string& line);
  // A mount of `source` (major:minor `device`, as "8:17") on `path`;
  // path and source are escaped as the kernel escapes them.
  void addMount(const std::string& path, const std::string& fsType, const std::string& source,
                const std::string& device, const std::string& options = "rw");

  // A disk in sysfs: /sys/devices/<busPath>/block/<disk>, linked from
  // /sys/dev/block/<device> and /sys/class/block/<disk>. The disk's
  // `removable` attribute says `removable`.
  void addDisk(const std::string& busPath, const std::string& disk, const std::string& device,
               bool removable);
  // A partition inside a disk added before (which has no `removable` of its
  // own, as in the kernel's sysfs).
  void addPartition(const std::string& busPath, const std::string& disk,
                    const std::string& partition, const std::string& device);
  // udev's /dev/disk/by-label/<label> and by-uuid/<uuid> links to
  // /dev/<deviceName>; the label is encoded as udev encodes it.
  void addLabelLink(const std::string& label, const std::string& deviceName);
  void addUuidLink(const std::string& uuid, const std::string& deviceName);
  // A file standing as /dev/<deviceName>: an image libblkid can read.
  void addDeviceImage(const std::string& deviceName, const std::string& bytes);

  // Lists the existing folder `folder` as a drive: a USB stick whose one
  // vfat partition is mounted there, labelled `label` (UTF-8) with the
  // serial number `serial`. Returns the drive's path (the folder's
  // absolute, canonical path), which DriveEnumerator lists as a removable
  // drive and GetVolumeInfo and DirEnumerator::Enumerate take as its root.
  std::string addRemovableDrive(const std::string& folder, const std::string& label,
                                uint32_t serial);

 private:
  void write(const std::string& path, const std::string& content, bool append = false);
  void link(const std::string& path, const std::string& target);

  std::string root_;
  platform::ScopedMediaRoot scope_;
  int sticks_ = 0;
};

}  // namespace testing_support
