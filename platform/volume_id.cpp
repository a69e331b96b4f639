#include "platform/volume_id.h"

#include <fcntl.h>

#include <array>

#include "platform/descriptor.h"
#include "platform/media.h"
#include "platform/os.h"

namespace platform {
namespace {

constexpr uint64_t kDescriptorOffset = 16 * 2048;
constexpr size_t kDescriptorSize = 2048;

bool isCdFileSystem(std::string_view type) { return type == "iso9660" || type == "udf"; }

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

uint32_t fnv1a(std::string_view text) {
  uint32_t hash = 2166136261u;
  for (const char c : text) {
    hash ^= static_cast<uint8_t>(c);
    hash *= 16777619u;
  }
  return hash;
}

// The name in `folder` (a /dev/disk/by-* folder) whose link leads to the
// device `name`; empty when none does.
std::string linkNameFor(const std::string& folder, const std::string& name) {
  const std::string real = mediaPath(folder);
  for (const std::string& link : os().listFolder(real)) {
    if (deviceNameOf(folder + "/" + link) == name) return decodeUdevName(link);
  }
  return {};
}

}  // namespace

std::string decodeUdevName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' &&
        hexValue(name[i + 2]) >= 0 && hexValue(name[i + 3]) >= 0) {
      out += static_cast<char>(hexValue(name[i + 2]) << 4 | hexValue(name[i + 3]));
      i += 3;
    } else {
      out += name[i];
    }
  }
  return out;
}

uint32_t serialFromUuid(std::string_view fsType, std::string_view uuid) {
  if (uuid.empty()) return 0;
  if (isCdFileSystem(fsType)) return fnv1a(uuid);
  std::string digits;
  for (const char c : uuid) {
    if (hexValue(c) >= 0) digits += c;
  }
  const bool ntfsSerial = digits.size() == 16 && uuid.size() == 16;
  if (digits.size() < 8) return fnv1a(uuid);
  const std::string_view chosen = std::string_view(digits).substr(ntfsSerial ? 8 : 0, 8);
  uint32_t serial = 0;
  for (const char c : chosen) serial = serial << 4 | static_cast<uint32_t>(hexValue(c));
  return serial;
}

bool descriptorSerial(const std::string& device, uint32_t& serial) {
  const Descriptor file(os().openFile(device.c_str(), O_RDONLY, 0));
  if (!file.valid()) return false;
  std::array<uint8_t, kDescriptorSize> block{};
  const int64_t got = readFully(file.get(), block.data(), block.size(), kDescriptorOffset);
  if (got != static_cast<int64_t>(block.size())) return false;
  if (block[0] != 1 || std::string_view(reinterpret_cast<const char*>(&block[1]), 5) != "CD001")
    return false;
  std::array<uint8_t, 4> lanes{};
  for (size_t i = 0; i < block.size(); ++i)
    lanes[i % 4] = static_cast<uint8_t>(lanes[i % 4] + block[i]);
  serial = static_cast<uint32_t>(lanes[0]) << 24 | static_cast<uint32_t>(lanes[1]) << 16 |
           static_cast<uint32_t>(lanes[2]) << 8 | lanes[3];
  return true;
}

VolumeId readVolumeId(const MountPoint& mount, const BlockDevice& device) {
  VolumeId id;
  id.type = mount.fsType;
  if (device.name.empty()) return id;
  const std::string devicePath = mediaPath("/dev/" + device.name);
  VolumeProbe probe;
  const bool readable = os().probeVolume(devicePath.c_str(), probe) == 0;
  if (readable) {
    if (!probe.type.empty()) id.type = probe.type;
    id.label = probe.label;
    id.uuid = probe.uuid;
  } else {
    id.label = linkNameFor("/dev/disk/by-label", device.name);
    id.uuid = linkNameFor("/dev/disk/by-uuid", device.name);
  }
  if (!(isCdFileSystem(id.type) && readable && descriptorSerial(devicePath, id.serial)))
    id.serial = serialFromUuid(id.type, id.uuid);
  return id;
}

}  // namespace platform
