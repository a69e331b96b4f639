#include "platform/os.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/falloc.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <sys/sysmacros.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <system_error>

#include "platform/elf_image.h"

namespace platform {
namespace {

Os& systemOs() {
  static Os real;
  return real;
}

std::atomic<Os*> current{nullptr};

}  // namespace

bool Os::startThread(std::thread& thread, std::function<void()> body) {
  try {
    thread = std::thread(std::move(body));
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

int64_t Os::steadyMillis() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

uint64_t Os::availablePhysicalMemory() {
  struct sysinfo info {};
  if (sysinfo(&info) != 0) return 0;
  // freeram alone ignores the page cache the kernel would give back; the
  // buffers are reclaimable too.
  return (static_cast<uint64_t>(info.freeram) + info.bufferram) * info.mem_unit;
}

namespace {

constexpr uint32_t kDefaultSectorSize = 512;

// The logical block size the kernel publishes for a block device, or 0.
uint32_t publishedSectorSize(const std::string& deviceFolder) {
  for (const char* relative : {"/queue/logical_block_size", "/../queue/logical_block_size"}) {
    std::FILE* in = std::fopen((deviceFolder + relative).c_str(), "re");
    if (in == nullptr) continue;
    unsigned long size = 0;
    const bool read = std::fscanf(in, "%lu", &size) == 1;
    std::fclose(in);
    // A sector is a power of two between 512 bytes and 64 KiB.
    if (read && size >= 512 && size <= 65536 && (size & (size - 1)) == 0)
      return static_cast<uint32_t>(size);
  }
  return 0;
}

}  // namespace

uint32_t Os::sectorSize(const char* path) {
  struct stat status {};
  if (::stat(path, &status) != 0) return kDefaultSectorSize;
  // A partition's folder has no queue of its own: its disk's folder, one
  // level up, has.
  const std::string folder = "/sys/dev/block/" + std::to_string(major(status.st_dev)) + ":" +
                             std::to_string(minor(status.st_dev));
  const uint32_t size = publishedSectorSize(folder);
  return size != 0 ? size : kDefaultSectorSize;
}

namespace {

// Runs a system call until it is not interrupted; -errno on failure.
template <class Call>
auto retrying(Call call) -> decltype(call()) {
  for (;;) {
    auto result = call();
    if (result >= 0) return result;
    if (errno != EINTR) return -errno;
  }
}

int rangeCommand(int fd, short type, uint64_t offset, uint64_t length) {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = static_cast<off_t>(offset);
  range.l_len = static_cast<off_t>(length);
  range.l_pid = 0;  // required for open file description locks
  return retrying([&] { return ::fcntl(fd, F_OFD_SETLK, &range); });
}

bool sameIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

int Os::openFile(const char* path, int flags, int mode) {
  return retrying([&] { return ::open(path, flags | O_CLOEXEC, mode); });
}

int Os::reserveSpace(int fd, uint64_t offset, uint64_t length) {
  return retrying([&] {
    return ::fallocate(fd, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
                       static_cast<off_t>(length));
  });
}

int Os::openMemoryFile(const char* name) {
  const int fd = ::memfd_create(name, MFD_CLOEXEC);
  return fd >= 0 ? fd : -errno;
}

int Os::closeFile(int fd) {
  // Linux releases the descriptor even when close reports EINTR: never retry.
  return ::close(fd) == 0 ? 0 : -errno;
}

int64_t Os::readAt(int fd, void* buffer, size_t n, uint64_t offset) {
  return retrying([&] { return ::pread(fd, buffer, n, static_cast<off_t>(offset)); });
}

int64_t Os::readAtIfCached(int fd, void* buffer, size_t n, uint64_t offset) {
  iovec part{buffer, n};
  const int64_t got =
      retrying([&] { return ::preadv2(fd, &part, 1, static_cast<off_t>(offset), RWF_NOWAIT); });
  // Kernels and file systems without no-wait reads answer EOPNOTSUPP.
  return got == -EOPNOTSUPP ? -EAGAIN : got;
}

int64_t Os::writeAt(int fd, const void* data, size_t n, uint64_t offset) {
  return retrying([&] { return ::pwrite(fd, data, n, static_cast<off_t>(offset)); });
}

int Os::fileSize(int fd, uint64_t& size) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return -errno;
  size = static_cast<uint64_t>(status.st_size);
  return 0;
}

int Os::fileModifiedTime(int fd, int64_t& seconds) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return -errno;
  seconds = static_cast<int64_t>(status.st_mtime);
  return 0;
}

int Os::truncateFile(int fd, uint64_t size) {
  return retrying([&] { return ::ftruncate(fd, static_cast<off_t>(size)); });
}

int Os::syncFile(int fd) {
  return retrying([&] { return ::fsync(fd); });
}

int Os::syncFolder(const char* path) {
  const int fd = ::open(path[0] == '\0' ? "." : path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -errno;
  const int rc = retrying([&] { return ::fsync(fd); });
  ::close(fd);
  return rc;
}

int Os::startWriteback(int fd) {
  return retrying([&] { return ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE); });
}

int Os::removeFile(const char* path) { return ::unlink(path) == 0 ? 0 : -errno; }

int Os::renameFile(const char* from, const char* to) {
  return ::rename(from, to) == 0 ? 0 : -errno;
}

int Os::pathStatus(const char* path) {
  struct stat status {};
  return ::stat(path, &status) == 0 ? 0 : -errno;
}

int Os::writeAccess(const char* path) {
  return ::access(path[0] == '\0' ? "." : path, W_OK) == 0 ? 0 : -errno;
}

bool Os::isFolder(const char* path) {
  struct stat status {};
  return ::stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

int Os::makeFolder(const char* path) { return ::mkdir(path, 0777) == 0 ? 0 : -errno; }

std::string Os::canonicalPath(const char* path) {
  char* resolved = ::realpath(path, nullptr);
  if (resolved == nullptr) return {};
  std::string result(resolved);
  std::free(resolved);
  return result;
}

std::vector<std::string> Os::listFolder(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) names.emplace_back(entry->d_name);
  ::closedir(dir);
  return names;
}

int Os::shareLock(int fd, bool exclusive) {
  return retrying([&] { return ::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB); });
}

int Os::waitExclusiveLock(int fd) {
  return retrying([&] { return ::flock(fd, LOCK_EX); });
}

int Os::rangeLock(int fd, bool writeLock, uint64_t offset, uint64_t length) {
  return rangeCommand(fd, writeLock ? F_WRLCK : F_RDLCK, offset, length);
}

int Os::rangeUnlock(int fd, uint64_t offset, uint64_t length) {
  return rangeCommand(fd, F_UNLCK, offset, length);
}

const char* Os::environment(const char* name) { return std::getenv(name); }

LocalTime Os::localTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  LocalTime t = Os::localTimeOf(now.tv_sec);
  t.millisecond = static_cast<int32_t>(now.tv_nsec / 1000000);
  return t;
}

void Os::sleepMillis(int64_t millis) {
  if (millis > 0) std::this_thread::sleep_for(std::chrono::milliseconds(millis));
}

bool Os::currentDirectory(char* buffer, size_t size) {
  return size > 0 && getcwd(buffer, size) != nullptr;
}

void* Os::loadLibrary(const char* path, std::string& error) {
  // The loader opens and reads the file with blocking calls: only a
  // regular file gets that far.
  const int fd = openRegularFile(path);
  if (fd < 0) {
    error = std::strerror(-fd);
    return nullptr;
  }
  const bool within = ElfSegmentsWithinFile(fd);
  os().closeFile(fd);
  if (!within) {
    error = "file cut short: its segments reach past its end";
    return nullptr;
  }
  void* library = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* text = ::dlerror();
    error = text != nullptr ? text : "not loaded";
  }
  return library;
}

void* Os::librarySymbol(void* library, const char* name) {
  return library != nullptr ? ::dlsym(library, name) : nullptr;
}

void Os::freeLibrary(void* library) {
  if (library != nullptr) ::dlclose(library);
}

std::string Os::executablePath() {
  // The link names the file the kernel started; its length is not known
  // beforehand, so the buffer grows until the name fits.
  std::string path(256, '\0');
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) return {};
    if (static_cast<size_t>(length) < path.size()) {
      path.resize(static_cast<size_t>(length));
      return path;
    }
    if (path.size() >= 65536) return {};
    path.resize(path.size() * 2);
  }
}

int64_t readFully(int fd, void* buffer, size_t n, uint64_t offset) {
  size_t done = 0;
  while (done < n) {
    const int64_t got = os().readAt(fd, static_cast<char*>(buffer) + done, n - done, offset + done);
    if (got < 0) return got;
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(done);
}

int64_t writeFully(int fd, const void* data, size_t n, uint64_t offset) {
  size_t done = 0;
  while (done < n) {
    const int64_t put =
        os().writeAt(fd, static_cast<const char*>(data) + done, n - done, offset + done);
    if (put < 0) return put;
    if (put == 0) break;
    done += static_cast<size_t>(put);
  }
  return static_cast<int64_t>(done);
}

int openRegularFile(const char* path) {
  const int fd = os().openFile(path, O_RDONLY | O_NONBLOCK | O_NOCTTY, 0);
  if (fd < 0) return fd;
  EntryStatus status;
  int rc = os().entryStatusAt(fd, "", status);
  if (rc == 0 && status.kind == EntryStatus::Kind::kFile) return fd;
  os().closeFile(fd);
  return rc != 0 ? rc : -EINVAL;
}

std::string resolveName(const std::string& path) {
  if (os().pathStatus(path.c_str()) == 0) return path;
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
  if (leaf.empty()) return path;
  for (const std::string& name : os().listFolder(folder)) {
    if (sameIgnoringAsciiCase(name, leaf)) return folder + name;
  }
  return path;
}

Os& os() {
  Os* installed = current.load(std::memory_order_acquire);
  return installed ? *installed : systemOs();
}

ScopedOs::ScopedOs(Os& replacement) : previous_(current.exchange(&replacement)) {}

ScopedOs::~ScopedOs() { current.store(previous_); }

}  // namespace platform
