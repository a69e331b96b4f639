#include "platform/block_device.h"

#include <algorithm>
#include <string_view>

#include "platform/media.h"
#include "platform/os.h"

namespace platform {
namespace {

constexpr int kMaxLinks = 16;

std::string baseName(std::string_view path) {
  const size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string folderOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? std::string_view(".")
                                                     : path.substr(0, slash));
}

bool oneOf(std::string_view type, std::initializer_list<std::string_view> types) {
  return std::find(types.begin(), types.end(), type) != types.end();
}

bool attributeIsOne(const std::string& path) {
  std::string value;
  return readSmallFile(path, value, 64) && !value.empty() && value[0] == '1';
}

// A partition has no `removable` of its own: its disk, one folder up, has.
bool flaggedRemovable(const std::string& sysfsFolder) {
  return attributeIsOne(sysfsFolder + "/removable") ||
         attributeIsOne(folderOf(sysfsFolder) + "/removable");
}

// Card readers and USB sticks often call themselves fixed: the bus tells.
bool onRemovableBus(const std::string& sysfsFolder) {
  const std::string devices = os().canonicalPath(mediaPath("/sys/devices").c_str());
  if (devices.empty() || sysfsFolder.compare(0, devices.size(), devices) != 0) return false;
  std::string_view rest = std::string_view(sysfsFolder).substr(devices.size());
  while (!rest.empty()) {
    const size_t start = rest.find_first_not_of('/');
    if (start == std::string_view::npos) break;
    rest.remove_prefix(start);
    const std::string_view component = rest.substr(0, rest.find('/'));
    if (component.substr(0, 3) == "usb" || component.substr(0, 3) == "mmc") return true;
    rest.remove_prefix(component.size());
  }
  return false;
}

}  // namespace

std::string deviceNameOf(const std::string& devPath) {
  std::string path = mediaPath(devPath);
  std::string target;
  for (int i = 0; i < kMaxLinks && os().readLink(path.c_str(), target) == 0; ++i)
    path = target[0] == '/' ? mediaPath(target) : folderOf(path) + "/" + target;
  return baseName(path);
}

BlockDevice blockDeviceOf(const MountPoint& mount) {
  BlockDevice device;
  if (mount.major != 0) {
    const std::string link =
        "/sys/dev/block/" + std::to_string(mount.major) + ":" + std::to_string(mount.minor);
    device.sysfsFolder = os().canonicalPath(mediaPath(link).c_str());
    if (!device.sysfsFolder.empty()) device.name = baseName(device.sysfsFolder);
  }
  if (device.name.empty() && mount.source.compare(0, 5, "/dev/") == 0) {
    device.name = deviceNameOf(mount.source);
    device.sysfsFolder = os().canonicalPath(mediaPath("/sys/class/block/" + device.name).c_str());
  }
  return device;
}

uint32_t driveTypeOf(const MountPoint& mount, const BlockDevice& device) {
  const std::string_view type = mount.fsType;
  if (oneOf(type, {"iso9660", "udf"})) return kDriveCdRom;
  if (oneOf(type, {"nfs", "nfs4", "cifs", "smb3", "smbfs", "9p", "sshfs", "fuse.sshfs"}))
    return kDriveRemote;
  if (oneOf(type, {"tmpfs", "ramfs"})) return kDriveRamDisk;
  if (device.name.empty() && mount.major == 0) return kDriveUnknown;
  if (device.name.compare(0, 2, "sr") == 0) return kDriveCdRom;
  if (!device.sysfsFolder.empty() &&
      (flaggedRemovable(device.sysfsFolder) || onRemovableBus(device.sysfsFolder)))
    return kDriveRemovable;
  return kDriveFixed;
}

}  // namespace platform
