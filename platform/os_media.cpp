// The folder, volume and device calls of `platform::Os`.
#include <blkid/blkid.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/os.h"

namespace platform {
namespace {

EntryStatus::Kind kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return EntryStatus::Kind::kFolder;
  if (S_ISREG(mode)) return EntryStatus::Kind::kFile;
  if (S_ISLNK(mode)) return EntryStatus::Kind::kLink;
  return EntryStatus::Kind::kOther;
}

// The value libblkid found under `name`, or an empty text.
std::string probedValue(blkid_probe probe, const char* name) {
  const char* data = nullptr;
  size_t length = 0;
  if (blkid_probe_lookup_value(probe, name, &data, &length) != 0 || data == nullptr) return {};
  // The length counts the terminating NUL.
  return std::string(data, strnlen(data, length));
}

}  // namespace

int Os::openFolderAt(int at, const char* name, bool followLink) {
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
  for (;;) {
    const int fd = ::openat(at, name, flags);
    if (fd >= 0) return fd;
    if (errno != EINTR) return -errno;
  }
}

int Os::readFolder(int fd, std::vector<std::string>& names) {
  names.clear();
  // fdopendir takes the descriptor it is given: hand it a copy.
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return -errno;
  DIR* folder = ::fdopendir(copy);
  if (folder == nullptr) {
    const int error = errno;
    ::close(copy);
    return -error;
  }
  // A copy shares the file position: start from the top, whoever read before.
  ::rewinddir(folder);
  int result = 0;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(folder);
    if (entry == nullptr) {
      if (errno != 0) result = -errno;
      break;
    }
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    names.emplace_back(name);
  }
  ::closedir(folder);
  return result;
}

int Os::entryStatusAt(int at, const char* name, EntryStatus& status) {
  struct stat info {};
  const int flags = AT_SYMLINK_NOFOLLOW | (name[0] == '\0' ? AT_EMPTY_PATH : 0);
  if (::fstatat(at, name, &info, flags) != 0) return -errno;
  status.kind = kindOf(info.st_mode);
  status.size = static_cast<uint64_t>(info.st_size);
  status.modifiedSeconds = static_cast<int64_t>(info.st_mtim.tv_sec);
  status.mode = static_cast<uint32_t>(info.st_mode & 07777);
  status.device = static_cast<uint64_t>(info.st_dev);
  status.inode = static_cast<uint64_t>(info.st_ino);
  return 0;
}

int Os::volumeStatus(const char* path, VolumeStatus& status) {
  struct statvfs info {};
  if (::statvfs(path, &info) != 0) return -errno;
  status.fragmentSize = info.f_frsize != 0 ? info.f_frsize : info.f_bsize;
  status.blocks = info.f_blocks;
  status.blocksAvailable = info.f_bavail;
  status.nameMax = static_cast<uint32_t>(info.f_namemax);
  status.readOnly = (info.f_flag & ST_RDONLY) != 0;
  return 0;
}

int Os::readLink(const char* path, std::string& target) {
  char buffer[4096];
  const ssize_t length = ::readlink(path, buffer, sizeof buffer);
  if (length < 0) return -errno;
  if (static_cast<size_t>(length) == sizeof buffer) return -ENAMETOOLONG;
  target.assign(buffer, static_cast<size_t>(length));
  return 0;
}

int Os::probeVolume(const char* device, VolumeProbe& probe) {
  errno = 0;
  blkid_probe handle = blkid_new_probe_from_filename(device);
  if (handle == nullptr) return errno != 0 ? -errno : -EIO;
  blkid_probe_enable_superblocks(handle, 1);
  blkid_probe_set_superblocks_flags(handle,
                                    BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID | BLKID_SUBLKS_TYPE);
  // Safe probing refuses a device on which two file systems claim to live.
  const int found = blkid_do_safeprobe(handle);
  if (found == 0) {
    probe.type = probedValue(handle, "TYPE");
    probe.label = probedValue(handle, "LABEL");
    probe.uuid = probedValue(handle, "UUID");
  }
  blkid_free_probe(handle);
  return found == 0 ? 0 : found < 0 ? -EIO : -ENODATA;
}

LocalTime Os::localTimeOf(int64_t seconds) {
  const time_t moment = static_cast<time_t>(seconds);
  tm local{};
  LocalTime t;
  if (localtime_r(&moment, &local) == nullptr) return t;
  t.year = local.tm_year + 1900;
  t.month = local.tm_mon + 1;
  t.day = local.tm_mday;
  t.hour = local.tm_hour;
  t.minute = local.tm_min;
  t.second = local.tm_sec;
  return t;
}

}  // namespace platform
