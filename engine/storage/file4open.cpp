// Opening, creating, temporary files and closing.
#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/storage/buffer4.h"
#include "engine/storage/cache4.h"
#include "engine/storage/code4.h"
#include "engine/storage/convert4.h"
#include "engine/storage/error4.h"
#include "engine/storage/file4.h"
#include "engine/storage/file4queue.h"
#include "engine/storage/memory4.h"
#include "engine/storage/text4.h"
#include "platform/os.h"

namespace {

constexpr int32_t kLocClose = 90057;
constexpr int32_t kLocCloseSync = 90059;
constexpr int32_t kLocCreateSync = 90060;
constexpr int32_t kLocCreate = 90058;
constexpr int32_t kLocOpen = 90071;
constexpr int32_t kLocTemp = 90074;
constexpr int32_t kLocTempNames = 80012;
constexpr int32_t kLocMemory = 80198;
constexpr int kTempAttempts = 100;
constexpr int kNewFilePermissions = 0666;   // narrowed by the umask
constexpr int kTempFilePermissions = 0600;  // temporary files are private

void resetFile(FILE4* f, CODE4* c) {
  static_cast<File4Fields&>(*f) = File4Fields{};
  f->codeBase = c;
}

bool validAccessMode(int32_t mode) { return mode >= 0 && mode <= 2; }

// Takes the whole-file sharing lock that the access mode asks for:
// 0 or the engine code of the conflict.
int32_t takeShareLock(int fd, int32_t accessMode) {
  const int rc = platform::os().shareLock(fd, accessMode == 1);
  if (rc == 0) return 0;
  return rc == -EWOULDBLOCK ? e4permiss : file4openErrorCode(-rc);
}

// Opens `path` for the engine: read and write unless read-only is asked or
// the file cannot be written. Returns the descriptor or -errno.
int openDescriptor(const char* path, bool readOnly, bool writeThrough, bool& openedReadOnly) {
  const int sync = writeThrough ? O_DSYNC : 0;
  openedReadOnly = readOnly;
  if (!readOnly) {
    const int fd = platform::os().openFile(path, O_RDWR | sync, 0);
    if (fd != -EACCES && fd != -EPERM && fd != -EROFS) return fd;
    openedReadOnly = true;
  }
  return platform::os().openFile(path, O_RDONLY | sync, 0);
}

// Keeps the name the file is known by. A name found in another letter
// case is always copied: closing a temporary file removes it by that name.
int32_t keepName(FILE4* f, const std::string& path, const char* name, int copyName) {
  if (!copyName && path == name) {
    f->name = name;
    return 0;
  }
  name = path.c_str();
  const size_t length = path.size() + 1;
  f->ownedName = static_cast<char*>(memory4allocZero(static_cast<int64_t>(length)));
  if (f->ownedName == nullptr) return e4memory;
  std::memcpy(f->ownedName, name, length);
  f->nameOwned = true;
  f->name = f->ownedName;
  return 0;
}

void closeDescriptor(FILE4* f) {
  platform::os().closeFile(f->handle);
  f->handle = -1;
}

// The file replaced by a create is opened, probed for other users and
// emptied: a file in use elsewhere is never truncated under them. The
// descriptor, or -errno with a failure of the disk noted.
int replaceExisting(CODE4* c, const char* path, int flags) {
  platform::Os& os = platform::os();
  const int fd = os.openFile(path, O_RDWR | flags, 0);
  if (fd < 0) {
    if (fd != -ENOENT) code4diskFailed(c, Disk4Call::kOpen, -fd, path);
    return fd;
  }
  if (os.shareLock(fd, true) != 0) {
    os.closeFile(fd);
    return -EBUSY;
  }
  if (const int cut = os.truncateFile(fd, 0); cut != 0) {
    code4diskFailed(c, Disk4Call::kLength, -cut, path);
    os.closeFile(fd);
    return cut;
  }
  return fd;
}

// A new file of that name, or -errno with a failure of the disk noted (a
// name taken is none: a temporary name is tried again, and a table's
// creation says what it found).
int createNew(CODE4* c, const std::string& path, int flags, int permissions) {
  const int fd =
      platform::os().openFile(path.c_str(), O_RDWR | O_CREAT | O_EXCL | flags, permissions);
  if (fd < 0 && fd != -EEXIST) code4diskFailed(c, Disk4Call::kCreate, -fd, path.c_str());
  return fd;
}

// The creation itself. `alwaysNew` refuses an existing name whatever the
// safety setting. Returns 0, 60 (could not create) or a negative code.
int32_t createLow(FILE4* f, CODE4* c, const char* name, int copyName, bool alwaysNew,
                  int permissions) {
  if (!validAccessMode(c->accessMode)) return r4noCreate;
  const std::string path = platform::resolveName(name);
  const int sync = c->writeThrough ? O_DSYNC : 0;
  int fd;
  if (alwaysNew || c->safety) {
    fd = createNew(c, path, sync, permissions);
  } else {
    fd = replaceExisting(c, path.c_str(), sync);
    if (fd == -ENOENT) fd = createNew(c, path, sync, permissions);
  }
  if (fd < 0) return r4noCreate;
  if (takeShareLock(fd, c->accessMode) != 0) {
    platform::os().closeFile(fd);
    return r4noCreate;
  }
  f->handle = fd;
  if (keepName(f, path, name, copyName) < 0) {
    closeDescriptor(f);
    return error4(c, e4memory, kLocCreate);
  }
  f->accessMode = c->accessMode;
  f->onDisk = true;
  f->readAheadState = file4aheadEmpty;
  return 0;
}

// The folder of temporary files: TMPDIR, TEMP, TMP, then /tmp.
std::string temporaryFolder() {
  for (const char* variable : {"TMPDIR", "TEMP", "TMP"}) {
    const char* value = platform::os().environment(variable);
    if (value == nullptr || *value == '\0') continue;
    const std::string folder(value);
    return folder.back() == '/' ? folder : folder + "/";
  }
  return "/tmp/";
}

std::string temporaryName(const std::string& folder, int number, const char* extension) {
  char digits[5] = {};
  convert4longToText(number, digits, -4);
  std::string path = folder + "TEMP" + digits;
  path += extension == nullptr ? std::string(".TMP") : std::string(".") + extension;
  return path;
}

// A temporary table also needs its index and memo names free.
bool companionsTaken(CODE4* c, const std::string& path) {
  const std::string stem = path.substr(0, path.size() - 3);
  return file4exists((stem + code4indexExtension(c)).c_str()) == 0 ||
         file4exists((stem + code4memoExtension(c)).c_str()) == 0;
}

int32_t tryTemporaryNames(FILE4* f, CODE4* c, const std::string& folder, const char* extension) {
  const platform::LocalTime now = platform::os().localTime();
  const int start = now.second * 1000 + now.millisecond;
  const bool table = extension != nullptr && text4compareNoCase(extension, "dbf") == 0;
  for (int attempt = 1; attempt <= kTempAttempts; attempt++) {
    const std::string path = temporaryName(folder, (start + attempt) % 10000, extension);
    resetFile(f, c);
    const int32_t rc = createLow(f, c, path.c_str(), 1, true, kTempFilePermissions);
    if (rc < 0) return rc;
    if (rc == r4noCreate) continue;
    if (table && companionsTaken(c, path)) {
      f->isTemp = true;  // ours: close removes it
      file4close(f);
      continue;
    }
    return 0;
  }
  return error4(c, e4create, kLocTempNames);
}

}  // namespace

int32_t file4openErrorCode(int errnoValue) {
  switch (errnoValue) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case ENXIO:
    case ENODEV:
      return e4fileFind;
    case EMFILE:
    case ENFILE:
      return e4numFiles;
    case EACCES:
    case EPERM:
    case EWOULDBLOCK:
    case ETXTBSY:
      return e4permiss;
    case ENOSPC:
    case EDQUOT:
    case EROFS:
      return e4write;
    default:
      return e4open;
  }
}

int32_t file4open(FILE4* f, CODE4* c, const char* name, int copyName) {
  if (f == nullptr || c == nullptr || name == nullptr) return error4(c, e4parm, kLocOpen);
  if (error4code(c) < 0) return -1;
  code4cacheSizes(c, c->bufferingShare);
  resetFile(f, c);
  int32_t rc = e4open;
  const std::string path = platform::resolveName(name);
  if (validAccessMode(c->accessMode)) {
    bool readOnly = false;
    const int fd = openDescriptor(path.c_str(), c->readOnly != 0, c->writeThrough != 0, readOnly);
    if (fd < 0) {
      rc = file4openErrorCode(-fd);
      // A file that is not there is an answer, not a failure of the disk.
      if (rc != e4fileFind) code4diskFailed(c, Disk4Call::kOpen, -fd, path.c_str());
    } else if ((rc = takeShareLock(fd, c->accessMode)) != 0) {
      platform::os().closeFile(fd);
    } else {
      f->handle = fd;
      f->isReadOnly = readOnly;
    }
  }
  if (f->handle < 0) {
    if (c->errOpen == 0) {
      error4set(c, r4noOpen);
      return r4noOpen;
    }
    return error4describe(c, rc, kLocOpen, name, nullptr, nullptr);
  }
  if (keepName(f, path, name, copyName) < 0) {
    closeDescriptor(f);
    return error4(c, e4memory, kLocOpen);
  }
  f->accessMode = c->accessMode;
  f->onDisk = true;
  f->readAheadState = file4aheadEmpty;
  const uint64_t length = file4lenLow(f);
  f->isLong = length != UINT64_MAX && (length >> 32) != 0;
  return 0;
}

int32_t file4create(FILE4* f, CODE4* c, const char* name, int copyName) {
  if (f == nullptr || c == nullptr) return error4(c, e4parmNull, kLocCreate);
  code4cacheSizes(c, c->bufferingShare);
  resetFile(f, c);
  if (error4code(c) < 0) return -1;
  if (name == nullptr) {
    const int32_t rc = file4tempLow(f, c, c->createTemp, c->createTemp, nullptr);
    return rc == 0 ? 0 : rc;
  }
  // After a failed sync the folder stays as the disk left it.
  if (code4writesEnded(c)) return error4describe(c, e4write, kLocCreate, name, nullptr, nullptr);
  const int32_t rc = createLow(f, c, name, copyName, false, kNewFilePermissions);
  if (rc == r4noCreate) {
    if (!code4errCreate(c)) {
      error4set(c, r4noCreate);
      return r4noCreate;
    }
    return error4describe(c, e4create, kLocCreate, name, nullptr, nullptr);
  }
  if (rc < 0) return rc;
  if (c->createTemp == 1) {
    f->isTemp = true;
    return 0;
  }
  // A file that is to last has its name on the disk before anything is
  // written to it that a later change could depend on.
  if (file4syncFolderOf(c, f->name) < 0) {
    // Ours, but removed only where writes go on: after a failed sync the
    // folder stays as it is, and the next creation of the name replaces it.
    f->isTemp = !code4writesEnded(c);
    file4close(f);
    return -1;
  }
  return 0;
}

int32_t file4syncFolderOf(CODE4* c, const char* path) {
  const std::string name(path);
  const size_t slash = name.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
  const int rc = platform::os().syncFolder(folder.c_str());
  // A file system that cannot sync a folder (EINVAL) keeps no entry back.
  if (rc == 0 || rc == -EINVAL) return 0;
  // As a file's, a folder's failed sync is never retried into success.
  code4diskFailed(c, Disk4Call::kSync, -rc, folder.empty() ? "." : folder.c_str());
  c->syncFailed = true;
  return error4describe(c, e4optFlush, kLocCreateSync, path, nullptr, nullptr);
}

int32_t file4tempLow(FILE4* f, CODE4* c, int removeAtClose, int useTempFolder,
                     const char* extension) {
  if (f == nullptr || c == nullptr) return error4(c, e4parmNull, kLocTemp);
  code4cacheSizes(c, c->bufferingShare);
  const int32_t savedAccess = c->accessMode;
  c->accessMode = 1;  // a temporary file is never shared
  const std::string folder = useTempFolder ? temporaryFolder() : std::string();
  const int32_t rc = tryTemporaryNames(f, c, folder, extension);
  c->accessMode = static_cast<int8_t>(savedAccess);
  if (rc == 0 && removeAtClose) f->isTemp = true;
  if (rc == 0) f->inTempFolder = useTempFolder != 0;
  return rc;
}

int32_t file4memory(FILE4* f, CODE4* c, const char* name) {
  if (f == nullptr || c == nullptr || name == nullptr) return error4(c, e4parmNull, kLocMemory);
  resetFile(f, c);
  if (error4code(c) < 0) return -1;
  const int fd = platform::os().openMemoryFile("index");
  if (fd < 0) return error4describe(c, e4create, kLocMemory, name, nullptr, nullptr);
  f->handle = fd;
  if (keepName(f, name, name, 1) < 0) {
    closeDescriptor(f);
    return error4(c, e4memory, kLocMemory);
  }
  f->accessMode = 1;
  f->onDisk = true;
  f->inMemory = true;
  f->readAheadState = file4aheadEmpty;
  return 0;
}

int32_t file4close(FILE4* f) {
  if (f == nullptr) return error4(nullptr, e4parmNull, kLocClose);
  if (f->handle < 0) return 0;
  CODE4* c = f->codeBase;
  int32_t rc = 0;
  // The cache writes out and forgets the file's blocks (a failure is
  // raised and closing goes on). Queued reads go; queued writes land
  // first, unless the file goes too.
  if (f->cacheType != file4cacheNone) file4cacheSet(f, 0, 0, 0, nullptr);
  file4advanceCancel(f);
  file4aheadRelease(f);
  file4writeDelayFlush(f, f->isTemp ? 0 : 1);
  // A file closed is written for good: what its last writes put there
  // survives a power cut from now on. A temporary file goes with the close.
  if (!f->isTemp && !f->isReadOnly && file4syncLow(f) < 0)
    rc = error4describe(c, e4optFlush, kLocCloseSync, f->name, nullptr, nullptr);
  // The descriptor is gone whatever close says: the handle is marked closed
  // in every case so that a second close does nothing.
  if (platform::os().closeFile(f->handle) != 0 && rc == 0)
    rc = error4describe(c, e4close, kLocClose, f->name, nullptr, nullptr);
  f->handle = -1;
  // A work file in a folder a failed sync ended the writes of stays there,
  // for the next start to remove; one in the folder of temporary files
  // goes.
  const bool removes = f->isTemp && f->name != nullptr && (f->inTempFolder || !code4writesEnded(c));
  if (removes) {
    if (const int removed = platform::os().removeFile(f->name); removed != 0) {
      code4diskFailed(c, Disk4Call::kRemove, -removed, f->name);
      if (rc == 0) rc = error4(c, e4remove, kLocClose);
    }
  }
  memory4freeBlock(f->ownedName);
  resetFile(f, c);
  if (rc < 0) return rc;
  return error4code(c) < 0 ? -1 : 0;
}

int file4openTest(const FILE4* f) { return f != nullptr && f->handle >= 0 ? 1 : 0; }

int32_t file4exists(const char* name) {
  if (name == nullptr) return -1;
  return platform::os().pathStatus(platform::resolveName(name).c_str()) == 0 ? 0 : -1;
}
