// The one door between the program and the operating system.
//
// Every system call the engine or the program makes goes through the
// current `platform::Os`. The real implementation lives in os.cpp; a test
// installs a subclass with `ScopedOs` to inject faults (a thread that will
// not start, a clock that jumps, a machine with little memory) without root.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace platform {

// A moment of the wall clock in the local time zone, as the calendar shows
// it: month 1-12, day 1-31, hour 0-23, minute and second 0-59 (60 on a leap
// second), millisecond 0-999.
struct LocalTime {
  int32_t year = 0;
  int32_t month = 0;
  int32_t day = 0;
  int32_t hour = 0;
  int32_t minute = 0;
  int32_t second = 0;
  int32_t millisecond = 0;
};

// What lstat tells of one entry of a folder.
struct EntryStatus {
  enum class Kind { kFolder, kFile, kLink, kOther };
  Kind kind = Kind::kOther;
  uint64_t size = 0;
  int64_t modifiedSeconds = 0;  // since 1970, UTC
  uint32_t mode = 0;            // permission bits
  uint64_t device = 0;          // with `inode`, names the entry on this machine
  uint64_t inode = 0;
};

// What statvfs tells of the volume that holds a path.
struct VolumeStatus {
  uint64_t fragmentSize = 0;  // the unit of the three counts below
  uint64_t blocks = 0;
  uint64_t blocksAvailable = 0;  // to an unprivileged caller
  uint32_t nameMax = 0;          // longest name of one path component
  bool readOnly = false;
};

// What libblkid reads from a device's superblock; texts as the file system
// stores them (UTF-8 for most).
struct VolumeProbe {
  std::string type;
  std::string label;
  std::string uuid;
};

// How a child run with a time limit ended (Os::runWithTimeLimit).
struct ChildEnd {
  bool timedOut = false;  // still running at its limit, so killed
  int exitCode = 0;       // as Os::waitProcess sets it (128 + 9 when timed out)
  std::string output;     // the start of what it wrote on its output and error
};

class Os {
 public:
  virtual ~Os() = default;

  // Starts `body` on a new thread stored in `thread`. Returns false, with
  // `thread` left not joinable, when the system refuses to create one.
  virtual bool startThread(std::thread& thread, std::function<void()> body);

  // Milliseconds of a monotonic clock; only differences are meaningful.
  virtual int64_t steadyMillis();

  // Bytes of physical memory available to the process now.
  virtual uint64_t availablePhysicalMemory();

  // Bytes per logical sector of the disk that holds `path`: the unit the
  // disk transfers in. 512 when it cannot be told (a file system with no
  // disk behind it, such as tmpfs or an overlay).
  virtual uint32_t sectorSize(const char* path);

  // Files. Results are 0 (or a count, or a descriptor) on success and
  // -errno on failure; EINTR is retried inside. Every descriptor is opened
  // with O_CLOEXEC.
  virtual int openFile(const char* path, int flags, int mode);
  virtual int closeFile(int fd);
  // One transfer: a short count is not an error (see readFully/writeFully).
  virtual int64_t readAt(int fd, void* buffer, size_t n, uint64_t offset);
  // As readAt, but only what the page cache holds: it never waits for the
  // disk. -EAGAIN when the first byte would need it (also where the file
  // system cannot tell); a short count when a later one would.
  virtual int64_t readAtIfCached(int fd, void* buffer, size_t n, uint64_t offset);
  virtual int64_t writeAt(int fd, const void* data, size_t n, uint64_t offset);
  virtual int fileSize(int fd, uint64_t& size);
  // The time of the file's last modification, in seconds since 1970.
  virtual int fileModifiedTime(int fd, int64_t& seconds);
  virtual int truncateFile(int fd, uint64_t size);
  // Allocates room on the disk for the file's bytes [offset, offset +
  // length) without changing its length (fallocate, FALLOC_FL_KEEP_SIZE):
  // writes there cannot then fail for want of room. 0 or -errno (-ENOSPC,
  // or -EOPNOTSUPP where the file system cannot).
  virtual int reserveSpace(int fd, uint64_t offset, uint64_t length);
  // A file with no name that lives in memory only (memfd_create): read and
  // written as any other, gone with its last descriptor. `name` only labels
  // it for the system's listings. The descriptor or -errno.
  virtual int openMemoryFile(const char* name);
  virtual int syncFile(int fd);
  // Makes the folder's entries (a file just made or renamed in it) reach
  // the disk: fsync of the folder. 0 or -errno.
  virtual int syncFolder(const char* path);
  // Starts writing the file's dirty pages to the disk without waiting, so
  // that a sync later finds less to wait for. 0 or -errno.
  virtual int startWriteback(int fd);
  // unlink, not remove(3): an empty folder of that name must stay.
  virtual int removeFile(const char* path);
  // rename(2): `to` is replaced at once, never seen half written.
  virtual int renameFile(const char* from, const char* to);
  // 0 when `path` names an existing entry.
  virtual int pathStatus(const char* path);
  // 0 when this process may write the entry `path` (a file, or a folder's
  // names), by its permissions and its file system: -EROFS, -EACCES, ...
  // Nothing is written to find out.
  virtual int writeAccess(const char* path);
  // Whether `path` names a folder (a link to one counts).
  virtual bool isFolder(const char* path);
  // mkdir(2) with mode 0777 before the umask: 0 or -errno.
  virtual int makeFolder(const char* path);
  // The absolute path of an existing entry with every link resolved, which
  // names one file whatever path led to it; empty when it does not exist.
  virtual std::string canonicalPath(const char* path);
  // The names in a folder ("" is the current folder); empty when unreadable.
  virtual std::vector<std::string> listFolder(const std::string& folder);

  // Folders, volumes and devices, for walking a medium and telling what it
  // is (os_media.cpp). Results are 0 (or a descriptor) or -errno.
  //
  // A descriptor of the folder `name` relative to the open folder `at`
  // (AT_FDCWD for the current folder). Without `followLink`, a symbolic link
  // in the last component is refused (-ELOOP), never entered.
  virtual int openFolderAt(int at, const char* name, bool followLink);
  // The names in an open folder, "." and ".." left out, in the order the
  // file system gives them, the whole folder at every call. `fd` stays open.
  virtual int readFolder(int fd, std::vector<std::string>& names);
  // lstat of `name` in the open folder `at`: a link is described, never
  // followed. An empty `name` describes the open file `at` itself.
  virtual int entryStatusAt(int at, const char* name, EntryStatus& status);
  virtual int volumeStatus(const char* path, VolumeStatus& status);
  // The text of a symbolic link.
  virtual int readLink(const char* path, std::string& target);
  // Reads the superblock of a device (or image file); -ENODATA when no file
  // system is recognised on it.
  virtual int probeVolume(const char* device, VolumeProbe& probe);
  // A moment given in seconds since 1970, in the local time zone (TZ).
  virtual LocalTime localTimeOf(int64_t seconds);

  // Whole-file sharing lock (flock, never blocking): -EWOULDBLOCK when
  // another open file description holds a conflicting one.
  virtual int shareLock(int fd, bool exclusive);
  // The same lock taken exclusively, waiting for as long as another open
  // file description holds one: 0 or -errno (ENOLCK where the file system
  // keeps no such locks).
  virtual int waitExclusiveLock(int fd);
  // Byte-range lock of the open file description (F_OFD_SETLK, never
  // blocking): -EAGAIN or -EACCES when another description holds it.
  virtual int rangeLock(int fd, bool writeLock, uint64_t offset, uint64_t length);
  virtual int rangeUnlock(int fd, uint64_t offset, uint64_t length);

  // The value of an environment variable, or null when it is not set. The
  // text stays valid until the variable is changed.
  virtual const char* environment(const char* name);

  // The wall clock now, in the local time zone (TZ).
  virtual LocalTime localTime();

  // Suspends the calling thread for at least `millis` milliseconds.
  virtual void sleepMillis(int64_t millis);

  // Writes the absolute current directory, NUL-terminated, into `buffer`.
  // False when it cannot be told or does not fit into `size` bytes.
  virtual bool currentDirectory(char* buffer, size_t size);

  // Dynamic libraries and the program's own file.
  // Loads a shared object with every symbol bound at once (dlopen with
  // RTLD_NOW | RTLD_LOCAL); null when it cannot be loaded or is cut short
  // (elf_image.h), with `error` telling why in the loader's words (the
  // system's language, not the program's). Loading runs the library's
  // initialisers in this process: an untrusted library crashes or hangs it
  // as it pleases.
  virtual void* loadLibrary(const char* path, std::string& error);
  // The address of an exported symbol of a loaded library, or null.
  virtual void* librarySymbol(void* library, const char* name);
  // Unloads a library; nothing it exported may be used afterwards.
  virtual void freeLibrary(void* library);
  // The absolute path of the running executable (/proc/self/exe); empty
  // when it cannot be told.
  virtual std::string executablePath();
  // The arguments this process was started with, the program's name first,
  // as the kernel received them (/proc/self/cmdline); empty when unknown.
  virtual std::vector<std::string> commandLineArguments();
  // The real user id of this process.
  virtual uint32_t userId();

  // Processes (os_process.cpp). A child is never started through a shell:
  // `arguments` is its argument vector, `arguments[0]` the program, looked
  // up in PATH when it holds no '/' (posix_spawnp). The child gets this
  // process's environment, an empty signal mask and only the descriptors
  // opened without close-on-exec: the three standard ones.
  //
  // Starts a child; `pid` receives its id. With `ownGroup` the child leads
  // a new process group, so that signalProcess can reach its own children
  // too. 0 or -errno (-ENOENT when there is no such program).
  virtual int startProcess(const std::vector<std::string>& arguments, bool ownGroup, int64_t& pid);
  // Collects the end of the child `pid`, waiting for it when `wait`:
  // `ended` tells whether it ended, `exitCode` is then its exit status, or
  // 128 + the signal that ended it. 0 or -errno.
  virtual int waitProcess(int64_t pid, bool wait, bool& ended, int& exitCode);
  // Sends `signal` to the child `pid`, or with `group` to the process group
  // it leads. 0 or -errno.
  virtual int signalProcess(int64_t pid, int signal, bool group);
  // Runs a child to its end and keeps the first `limit` bytes it writes on
  // its standard output (the rest is read and dropped, so that the child
  // never blocks on a full pipe). 0 with `exitCode` set as waitProcess
  // sets it, or -errno when it could not be run.
  virtual int runForOutput(const std::vector<std::string>& arguments, size_t limit,
                           std::string& output, int& exitCode);
  // Runs a child that may crash or hang, for at most `limitMillis`: in a
  // process group of its own, its standard output and error on one pipe of
  // which the first `outputLimit` bytes are kept. Once it ended or its time
  // ran out, every process left in its group is killed (SIGKILL); what they
  // write later is not read. 0 with `end` set, or -errno when it could not
  // be run.
  virtual int runWithTimeLimit(const std::vector<std::string>& arguments, int64_t limitMillis,
                               size_t outputLimit, ChildEnd& end);
};

// Transfers until `n` bytes moved, end of file, or an error. Return the
// bytes moved (fewer than `n` only where the file ended, or the disk took
// no more without saying why), or -errno when an error stopped the
// transfer, whatever moved before it: the caller learns why it failed.
int64_t readFully(int fd, void* buffer, size_t n, uint64_t offset);
int64_t writeFully(int fd, const void* data, size_t n, uint64_t offset);

// Opens `path` for reading only when it is a regular file (a link to one
// counts), without waiting: a named pipe with no writer, a device or a
// socket would block open() or read() for good. Returns the descriptor
// (O_NONBLOCK set, which changes nothing for a regular file), -EINVAL when
// the entry is of another kind, or -errno.
int openRegularFile(const char* path);

// The name under which `path` exists: `path` itself when it exists, else
// the one entry of its folder that matches it without regard to ASCII case
// (tables copied from Windows carry upper-case names), else `path`.
std::string resolveName(const std::string& path);

// The implementation in force. Safe to call from any thread.
Os& os();

// Installs `replacement` (not owned) for the lifetime of the guard. Tests
// only; no engine thread may be running when the guard changes the door.
class ScopedOs {
 public:
  explicit ScopedOs(Os& replacement);
  ~ScopedOs();
  ScopedOs(const ScopedOs&) = delete;
  ScopedOs& operator=(const ScopedOs&) = delete;

 private:
  Os* previous_;
};

}  // namespace platform
