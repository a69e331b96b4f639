// TDriveEntry: one drive of the machine, a mount point, with its kind.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

// Drive kinds.
enum TDriveKind : int32_t {
  kDriveKindOther = 0,
  kDriveKindRemovable = 1,
  kDriveKindFixed = 2,
  kDriveKindCdRom = 3,
  kDriveKindNetwork = 4,
  kDriveKindRamDisk = 5,
};

class TDriveEntry {
 public:
  // A drive at the mount point `name`, of kind other until DetectType;
  // `device` is what is mounted there (platform::Drive).
  explicit TDriveEntry(std::string name, std::string device = std::string())
      : name_(std::move(name)), device_(std::move(device)) {}

  // Asks the media layer what kind of drive holds the name.
  void DetectType();

  const std::string& Name() const { return name_; }
  const std::string& Device() const { return device_; }
  int32_t Kind() const { return kind_; }
  void SetKind(int32_t kind) { kind_ = kind; }

  // The kind of a drive type as platform/media.h numbers them (those of
  // GetDriveTypeA); other for an unknown type or a path that is no drive.
  static int32_t KindOfDriveType(uint32_t driveType);

 private:
  std::string name_;
  std::string device_;
  int32_t kind_ = kDriveKindOther;
};
