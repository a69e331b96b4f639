#include "features/indexing/DriveEnumerator.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "features/indexing/DirEnumerator.h"
#include "features/indexing/VolumeInfo.h"
#include "tests/support/fake_media.h"

namespace {

namespace fs = std::filesystem;
using testing_support::FakeMedia;

// The indexing dialog's path: the drives offered, then the chosen one's
// volume facts and walk.
TEST(DriveEnumeratorTest, APlainFolderListedAsAStickIsIndexedLikeOne) {
  fs::create_directories("stick/photos");
  std::ofstream("stick/photos/one.jpg") << "jpeg";
  FakeMedia media;
  media.addDisk("pci0000:00/0000:00:17.0/ata1/host0", "sda", "8:0", false);
  media.addMount("/", "ext4", "/dev/sda", "8:0");
  media.addMount("/proc", "proc", "proc", "0:21");
  const std::string root =
      media.addRemovableDrive("stick", "Cl\xC3\xA9 USB", 0x1234ABCD);  // "Clé USB"

  DriveEnumerator drives;
  drives.Refresh();
  ASSERT_EQ(drives.Count(), 2);
  EXPECT_EQ(drives.GetDrive(0)->Name(), "/");
  EXPECT_EQ(drives.GetDrive(0)->Kind(), kDriveKindFixed);
  EXPECT_EQ(drives.GetDrive(1)->Name(), root);
  EXPECT_EQ(drives.GetDrive(1)->Kind(), kDriveKindRemovable);
  EXPECT_EQ(drives.GetDrive(1)->Device(), "/dev/sdb1");
  EXPECT_EQ(drives.GetDrive(2), nullptr);
  TDriveEntry again(root);
  again.DetectType();
  EXPECT_EQ(again.Kind(), kDriveKindRemovable);

  TVolumeInfo volume;
  ASSERT_TRUE(GetVolumeInfo(root, volume));
  EXPECT_EQ(volume.volumeName, "Cl\xE9 USB");
  EXPECT_EQ(volume.serialNumber, 0x1234ABCDu);
  EXPECT_EQ(volume.fileSystemName, "vfat");
  EXPECT_EQ(volume.driveType, 2u);
  EXPECT_TRUE(volume.removable && volume.casePreserved && volume.unicodeOnDisk);
  EXPECT_FALSE(volume.fixed || volume.cdRom || volume.unknownDrive || volume.caseSensitive);

  DirEnumerator walk;
  ASSERT_EQ(walk.Enumerate(root), 2);
  EXPECT_EQ(walk.GetEntry(1)->drive, root);
  EXPECT_EQ(GetFullPath(*walk.GetEntry(1)), root + "/photos/one.jpg");

  uint64_t freeBytes = 0, totalBytes = 0;
  EXPECT_TRUE(GetDriveSpace(root + "/photos", freeBytes, totalBytes));
  EXPECT_GT(totalBytes, 0u);
}

TEST(DriveEnumeratorTest, AFolderThatIsGoneHasOnlyItsDriveType) {
  FakeMedia media;
  TVolumeInfo volume;
  volume.volumeName = "previous medium";
  volume.serialNumber = 7;
  EXPECT_FALSE(GetVolumeInfo("gone", volume));
  EXPECT_EQ(volume.volumeName, "");
  EXPECT_EQ(volume.serialNumber, 0u);
  EXPECT_EQ(volume.driveType, 1u);
  EXPECT_TRUE(volume.unknownDrive);

  DriveEnumerator drives;
  drives.Refresh();
  EXPECT_EQ(drives.Count(), 0);
}

}  // namespace
