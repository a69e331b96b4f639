#include "tests/support/fake_media.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace testing_support {
namespace {

namespace fs = std::filesystem;

std::string absolute(const std::string& folder) {
  fs::create_directories(folder);
  return fs::canonical(folder).string();
}

// As the kernel writes paths into mountinfo.
std::string escapeMountField(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\\') {
      char octal[5];
      std::snprintf(octal, sizeof octal, "\\%03o", static_cast<unsigned char>(c));
      out += octal;
    } else {
      out += c;
    }
  }
  return out;
}

// As udev writes names under /dev/disk/by-*: bytes of UTF-8 characters and
// a few safe ones stay, every other byte becomes \xHH.
std::string escapeUdevName(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') ||
                       (byte >= 'A' && byte <= 'Z') || byte >= 0x80 ||
                       std::string_view("#+-.:=@_").find(c) != std::string_view::npos;
    if (plain) {
      out += c;
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", byte);
      out += hex;
    }
  }
  return out;
}

}  // namespace

FakeMedia::FakeMedia(const std::string& folder) : root_(absolute(folder)), scope_(root_) {
  write("/proc/self/mountinfo", "");
}

void FakeMedia::write(const std::string& path, const std::string& content, bool append) {
  const fs::path file = root_ + path;
  fs::create_directories(file.parent_path());
  std::ofstream out(file, append ? std::ios::app | std::ios::binary : std::ios::binary);
  out << content;
}

void FakeMedia::link(const std::string& path, const std::string& target) {
  const fs::path file = root_ + path;
  fs::create_directories(file.parent_path());
  std::error_code ignored;
  fs::remove(file, ignored);
  fs::create_symlink(target, file);
}

void FakeMedia::addMountLine(const std::string& line) {
  write("/proc/self/mountinfo", line + "\n", true);
}

void FakeMedia::addMount(const std::string& path, const std::string& fsType,
                         const std::string& source, const std::string& device,
                         const std::string& options) {
  static int id = 100;
  ++id;
  addMountLine(std::to_string(id) + " 1 " + device + " / " + escapeMountField(path) + " " +
               options + " shared:1 - " + fsType + " " + escapeMountField(source) + " " + options);
}

void FakeMedia::addDisk(const std::string& busPath, const std::string& disk,
                        const std::string& device, bool removable) {
  const std::string folder = "/sys/devices/" + busPath + "/block/" + disk;
  write(folder + "/removable", removable ? "1\n" : "0\n");
  write(folder + "/dev", device + "\n");
  link("/sys/dev/block/" + device, "../../devices/" + busPath + "/block/" + disk);
  link("/sys/class/block/" + disk, "../../devices/" + busPath + "/block/" + disk);
}

void FakeMedia::addPartition(const std::string& busPath, const std::string& disk,
                             const std::string& partition, const std::string& device) {
  const std::string relative = "devices/" + busPath + "/block/" + disk + "/" + partition;
  write("/sys/" + relative + "/dev", device + "\n");
  write("/sys/" + relative + "/partition", "1\n");
  link("/sys/dev/block/" + device, "../../" + relative);
  link("/sys/class/block/" + partition, "../../" + relative);
}

void FakeMedia::addLabelLink(const std::string& label, const std::string& deviceName) {
  link("/dev/disk/by-label/" + escapeUdevName(label), "../../" + deviceName);
}

void FakeMedia::addUuidLink(const std::string& uuid, const std::string& deviceName) {
  link("/dev/disk/by-uuid/" + uuid, "../../" + deviceName);
}

void FakeMedia::addDeviceImage(const std::string& deviceName, const std::string& bytes) {
  write("/dev/" + deviceName, bytes);
}

std::string FakeMedia::addRemovableDrive(const std::string& folder, const std::string& label,
                                         uint32_t serial) {
  const int stick = ++sticks_;
  const std::string disk = std::string("sd") + static_cast<char>('a' + stick);
  const std::string partition = disk + "1";
  const std::string bus = "pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(stick) + "/1-" +
                          std::to_string(stick) + ":1.0/host" + std::to_string(stick);
  const int minor = 16 * stick;
  addDisk(bus, disk, "8:" + std::to_string(minor), true);
  addPartition(bus, disk, partition, "8:" + std::to_string(minor + 1));
  char uuid[10];
  std::snprintf(uuid, sizeof uuid, "%04X-%04X", serial >> 16, serial & 0xFFFFu);
  addUuidLink(uuid, partition);
  if (!label.empty()) addLabelLink(label, partition);
  const std::string path = fs::canonical(folder).string();
  addMount(path, "vfat", "/dev/" + partition, "8:" + std::to_string(minor + 1));
  return path;
}

}  // namespace testing_support
