#include "platform/media.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "platform/mountinfo.h"
#include "tests/support/fake_media.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using testing_support::FakeMedia;

constexpr char kSataDisk[] = "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0";
constexpr char kUsbPort[] = "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0";
constexpr char kUsbReader[] = "pci0000:00/0000:00:14.0/usb2/2-2/2-2:1.0/host7/target7:0:0/7:0:0:0";
constexpr char kMmcSlot[] = "platform/fe320000.mmc/mmc_host/mmc0/mmc0:aaaa";
constexpr char kSataCd[] = "pci0000:00/0000:00:17.0/ata2/host1/target1:0:0/1:0:0:0";

TEST(MountInfoTest, FieldsAreUnescapedAndALaterMountOfAPathHidesTheEarlier) {
  const std::vector<MountPoint> mounts = parseMountInfo(
      "36 35 8:17 / /media/usb\\040stick rw,nosuid shared:7 - vfat /dev/sdb1 rw\n"
      "37 35 0:50 / /mnt/back\\134slash\\011tab ro,relatime - nfs4 srv:/export\\040x rw\n"
      "38 35 11:0 / /media/cd ro - iso9660 /dev/sr0 ro\n"
      "39 35 0:52 / /two-optional rw shared:1 master:2 - ext4 /dev/sda1 rw\n"
      "40 35 8:1 / /no-separator rw shared:1 ext4 /dev/sda1 rw\n"
      "41 35 x:y / /bad-device rw - ext4 /dev/sda1 rw\n"
      "42 35 8:1 / relative rw - ext4 /dev/sda1 rw\n"
      "43 35\n"
      "\n"
      "44 38 0:60 / /media/cd rw - tmpfs tmpfs rw");

  struct Expected {
    const char* path;
    const char* fsType;
    const char* source;
    uint32_t major, minor;
    bool readOnly;
  };
  const Expected expected[] = {
      {"/media/usb stick", "vfat", "/dev/sdb1", 8, 17, false},
      {"/mnt/back\\slash\ttab", "nfs4", "srv:/export x", 0, 50, true},
      {"/two-optional", "ext4", "/dev/sda1", 0, 52, false},
      {"/media/cd", "tmpfs", "tmpfs", 0, 60, false},
  };
  ASSERT_EQ(mounts.size(), std::size(expected));
  for (size_t i = 0; i < mounts.size(); ++i) {
    EXPECT_EQ(mounts[i].path, expected[i].path);
    EXPECT_EQ(mounts[i].fsType, expected[i].fsType) << expected[i].path;
    EXPECT_EQ(mounts[i].source, expected[i].source) << expected[i].path;
    EXPECT_EQ(mounts[i].major, expected[i].major) << expected[i].path;
    EXPECT_EQ(mounts[i].minor, expected[i].minor) << expected[i].path;
    EXPECT_EQ(mounts[i].readOnly, expected[i].readOnly) << expected[i].path;
  }

  EXPECT_EQ(mountHolding(mounts, "/media/cd/sub")->fsType, "tmpfs");
  EXPECT_EQ(mountHolding(mounts, "/media/cdrom"), nullptr);  // whole components only
  EXPECT_EQ(mountHolding(mounts, "/two-optional"), &mounts[2]);
}

TEST(MediaTest, EveryMountThatHoldsFilesIsADriveOfItsKind) {
  FakeMedia media;
  media.addMount("/proc", "proc", "proc", "0:21");
  media.addMount("/sys", "sysfs", "sysfs", "0:22");
  media.addMount("/dev/pts", "devpts", "devpts", "0:24");
  media.addDisk(kSataDisk, "sda", "8:0", false);
  media.addPartition(kSataDisk, "sda", "sda2", "8:2");
  media.addPartition(kSataDisk, "sda", "sda3", "8:3");
  media.addMount("/", "ext4", "/dev/sda2", "8:2");
  media.addMount("/home", "btrfs", "/dev/sda3", "0:45");  // no block major: found by name
  media.addDisk(kUsbPort, "sdb", "8:16", true);
  media.addPartition(kUsbPort, "sdb", "sdb1", "8:17");
  media.addMount("/media/usb stick", "vfat", "/dev/sdb1", "8:17");
  media.addDisk(kUsbReader, "sdc", "8:32", false);  // says fixed, sits on usb
  media.addPartition(kUsbReader, "sdc", "sdc1", "8:33");
  media.addMount("/media/reader", "exfat", "/dev/sdc1", "8:33");
  media.addDisk(kMmcSlot, "mmcblk0", "179:0", false);
  media.addPartition(kMmcSlot, "mmcblk0", "mmcblk0p1", "179:1");
  media.addMount("/media/sd", "vfat", "/dev/mmcblk0p1", "179:1");
  media.addDisk(kSataCd, "sr0", "11:0", true);
  media.addMount("/media/cdrom", "iso9660", "/dev/sr0", "11:0");
  media.addMount("/media/dvd", "udf", "/dev/sr0", "11:0");
  media.addMount("/media/hybrid", "hfsplus", "/dev/sr0", "11:0");
  media.addMount("/mnt/nfs", "nfs", "srv:/export", "0:60");
  media.addMount("/mnt/share", "cifs", "//srv/share", "0:61");
  media.addMount("/mnt/ssh", "fuse.sshfs", "me@srv:", "0:62");
  media.addMount("/mnt/9p", "9p", "host", "0:63");
  media.addMount("/run", "tmpfs", "tmpfs", "0:64");
  media.addMount("/mnt/ram", "ramfs", "ramfs", "0:65");
  media.addMount("/overlay", "overlay", "overlay", "0:66");
  media.addMount("/mnt/over", "vfat", "/dev/sdb1", "8:17");
  media.addMount("/mnt/over", "tmpfs", "tmpfs", "0:67");

  const std::vector<std::pair<std::string, uint32_t>> expected = {
      {"/", kDriveFixed},
      {"/home", kDriveFixed},
      {"/media/cdrom", kDriveCdRom},
      {"/media/dvd", kDriveCdRom},
      {"/media/hybrid", kDriveCdRom},
      {"/media/reader", kDriveRemovable},
      {"/media/sd", kDriveRemovable},
      {"/media/usb stick", kDriveRemovable},
      {"/mnt/9p", kDriveRemote},
      {"/mnt/nfs", kDriveRemote},
      {"/mnt/over", kDriveRamDisk},
      {"/mnt/ram", kDriveRamDisk},
      {"/mnt/share", kDriveRemote},
      {"/mnt/ssh", kDriveRemote},
      {"/overlay", kDriveUnknown},
      {"/run", kDriveRamDisk},
  };
  std::vector<std::pair<std::string, uint32_t>> drives;
  for (const Drive& drive : listDrives()) drives.emplace_back(drive.path, drive.type);
  EXPECT_EQ(drives, expected);

  EXPECT_EQ(driveType("/media/usb stick"), kDriveRemovable);  // a mount point not on this machine
  EXPECT_EQ(driveType("/no/such/path"), kDriveNoRootDir);
}

// An iso9660 image: a primary volume descriptor at sector 16 named
// `volumeId`, zeros elsewhere, and the set's terminator.
std::string isoImage(const std::string& volumeId) {
  std::string image(18 * 2048, '\0');
  char* primary = &image[16 * 2048];
  primary[0] = 1;
  std::memcpy(primary + 1, "CD001", 5);
  primary[6] = 1;
  std::memcpy(primary + 40, volumeId.data(), volumeId.size());
  char* terminator = &image[17 * 2048];
  terminator[0] = static_cast<char>(255);
  std::memcpy(terminator + 1, "CD001", 5);
  terminator[6] = 1;
  return image;
}

TEST(MediaTest, LabelsAndSerialsComeFromTheDeviceOrElseFromUdevLinks) {
  FakeMedia media;
  struct Case {
    const char* fsType;
    const char* device;  // "" for none
    const char* options;
    const char* uuid;   // udev link; "" for none
    const char* label;  // udev link, UTF-8; "" for none
    bool image;         // a readable CD image stands as the device
    uint32_t serial;
    uint32_t flags;
    uint32_t driveType;
  };
  const Case cases[] = {
      {"vfat", "sdb", "rw", "ABCD-1234", "MY STICK", false, 0xABCD1234, 0x6, kDriveRemovable},
      {"ntfs3", "sdc", "rw", "0123456789ABCDEF",
       "Donn\xC3\xA9"
       "es/2",
       false, 0x89ABCDEF, 0x1F, kDriveRemovable},
      {"ext4", "sdd", "rw", "3f1c2a9e-7b44-4b1e-9d55-0a1b2c3d4e5f", "", false, 0x3F1C2A9E, 0xB,
       kDriveRemovable},
      // A CD that cannot be read: the FNV-1a hash of its creation time.
      {"iso9660", "sr0", "ro", "2020-01-02-03-04-05-00", "DISC", false, 0x4F3D99E6, 0x80004,
       kDriveCdRom},
      // One that can: the descriptor's checksum, worked by hand (lanes
      // 0x01+0x30+'T'+'D', 'C'+'1'+'E'+'I', 'D'+0x01+'S'+'S', '0'+'T'+'C',
      // each modulo 256); the links are not asked.
      {"iso9660", "sr1", "ro", "1999-09-09-09-09-09-00", "WRONG", true, 0xC902EBC7, 0x80004,
       kDriveCdRom},
      {"tmpfs", "", "rw", "", "", false, 0, 0x3, kDriveRamDisk},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string folder = "volume" + std::to_string(++n);
    fs::create_directory(folder);
    std::string source = "tmpfs";
    std::string device = "0:" + std::to_string(80 + n);
    if (*c.device != '\0') {
      const std::string disk = c.device;
      const bool cd = disk.compare(0, 2, "sr") == 0;
      const std::string name = cd ? disk : disk + "1";
      device = "8:" + std::to_string(16 * n + 1);
      media.addDisk(kUsbPort + std::to_string(n), disk, "8:" + std::to_string(16 * n), true);
      if (!cd) media.addPartition(kUsbPort + std::to_string(n), disk, name, device);
      if (cd) device = "8:" + std::to_string(16 * n);
      if (*c.uuid != '\0') media.addUuidLink(c.uuid, name);
      if (*c.label != '\0') media.addLabelLink(c.label, name);
      if (c.image) media.addDeviceImage(name, isoImage("TESTDISC"));
      source = "/dev/" + name;
    }
    media.addMount(fs::canonical(folder).string(), c.fsType, source, device, c.options);

    VolumeFacts facts;
    ASSERT_TRUE(volumeFacts(folder, facts)) << c.fsType;
    EXPECT_EQ(facts.serial, c.serial) << c.fsType << " " << c.uuid;
    EXPECT_EQ(facts.label, c.image ? "TESTDISC" : c.label) << c.fsType;
    EXPECT_EQ(facts.fileSystem, c.fsType);
    EXPECT_EQ(facts.fileSystemFlags, c.flags) << c.fsType;
    EXPECT_EQ(facts.driveType, c.driveType) << c.fsType;
    EXPECT_GT(facts.maxComponentLength, 0u);
  }
}

TEST(MediaTest, APathThatDoesNotExistHasNoVolume) {
  FakeMedia media;
  VolumeFacts facts;
  facts.label = "left over";
  EXPECT_FALSE(volumeFacts("no such folder", facts));
  EXPECT_EQ(facts.driveType, kDriveNoRootDir);
  EXPECT_EQ(facts.label, "");

  uint64_t freeBytes = 1, totalBytes = 1;
  EXPECT_FALSE(volumeSpace("no such folder", freeBytes, totalBytes));
  EXPECT_EQ(freeBytes + totalBytes, 0u);
  EXPECT_TRUE(volumeSpace(".", freeBytes, totalBytes));
  EXPECT_GT(totalBytes, 0u);
  EXPECT_LE(freeBytes, totalBytes);
}

}  // namespace
}  // namespace platform
