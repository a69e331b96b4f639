#include "features/indexing/DirEnumerator.h"

#include <fcntl.h>

#include <cerrno>
#include <set>
#include <string_view>
#include <utility>

#include "engine/storage/date4.h"
#include "platform/ansi.h"
#include "platform/descriptor.h"
#include "platform/os.h"

namespace {

constexpr int32_t kReadOnlyAttribute = 0x01;
constexpr int32_t kHiddenAttribute = 0x02;
constexpr int32_t kArchiveAttribute = 0x20;
constexpr uint32_t kWriteBits = 0222;

// The catalogue reads a name back without the blanks at its ends; the path
// of the folders below is made of the name as stored, so the two agree
// only when the blanks are left out here too. A name of blanks alone keeps
// them, as it would have nothing left.
std::string storedName(const std::string& native) {
  std::string name = platform::utf8ToAnsi(native);
  for (char& c : name) {
    if (c == '\\' || static_cast<uint8_t>(c) < 0x20) c = '?';
  }
  const size_t first = name.find_first_not_of(' ');
  if (first == std::string::npos) return name;
  return name.substr(first, name.find_last_not_of(' ') + 1 - first);
}

std::string extensionOf(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

double storedDate(int64_t seconds) {
  const platform::LocalTime t = platform::os().localTimeOf(seconds);
  const int32_t day = date4julian(t.year, t.month, t.day);
  if (day < 0) return 0.0;
  const int32_t secondOfDay = t.hour * 3600 + t.minute * 60 + (t.second & ~1);
  return (day - date4julian(1899, 12, 30)) + secondOfDay / 86400.0;
}

int32_t attributesOf(const platform::EntryStatus& status, const std::string& nativeName) {
  int32_t attributes =
      status.kind == platform::EntryStatus::Kind::kFolder ? kDirectoryAttribute : kArchiveAttribute;
  if ((status.mode & kWriteBits) == 0) attributes |= kReadOnlyAttribute;
  if (nativeName[0] == '.') attributes |= kHiddenAttribute;
  return attributes;
}

bool equalIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (x != b[i]) return false;
  }
  return true;
}

}  // namespace

// One walk: the queue of folders still to list, each named by the entry
// that found it and by its path below the root as the file system spells
// it (converted names may have lost characters and cannot reopen it).
class DirEnumerator::Walk {
 public:
  Walk(DirEnumerator& owner, const std::string& root, const TDirEnumEvent& callback)
      : owner_(owner), root_(root), callback_(callback) {}

  void run() {
    const platform::Descriptor root(platform::os().openFolderAt(AT_FDCWD, root_.c_str(), true));
    if (!root.valid()) return;
    rootFd_ = root.get();
    platform::EntryStatus status;
    if (platform::os().entryStatusAt(rootFd_, "", status) == 0)
      seen_.insert({status.device, status.inode});
    if (!listFolder(rootFd_, std::string(), "\\")) return;
    for (size_t next = 0; next < queue_.size(); ++next) {
      const Folder folder = std::move(queue_[next]);
      const TFileEntry& found = *owner_.entries_[folder.entryIndex];
      const platform::Descriptor fd(openBelowRoot(folder.nativePath));
      if (!fd.valid()) continue;
      if (!listFolder(fd.get(), folder.nativePath, found.directory + found.name + "\\")) return;
    }
  }

 private:
  struct Folder {
    size_t entryIndex;
    std::string nativePath;  // below the root, '/' between levels
  };

  // Opens a folder by its path below the root. A path longer than the
  // system takes in one call (deep trees pass 4096 bytes) is opened one
  // folder at a time; no single name is that long.
  int openBelowRoot(const std::string& nativePath) const {
    const int whole = platform::os().openFolderAt(rootFd_, nativePath.c_str(), false);
    if (whole != -ENAMETOOLONG) return whole;
    int at = rootFd_;
    for (size_t start = 0;;) {
      const size_t slash = nativePath.find('/', start);
      const std::string name = nativePath.substr(start, slash - start);
      const int opened = platform::os().openFolderAt(at, name.c_str(), false);
      if (at != rootFd_) platform::os().closeFile(at);
      if (opened < 0 || slash == std::string::npos) return opened;
      at = opened;
      start = slash + 1;
    }
  }

  // Appends the entries of one folder; false when the walk was aborted.
  bool listFolder(int fd, const std::string& nativePath, const std::string& directory) {
    std::vector<std::string> names;
    if (platform::os().readFolder(fd, names) != 0) return true;
    for (const std::string& name : names) {
      platform::EntryStatus status;
      // A name that went between the listing and now is not there to list.
      if (platform::os().entryStatusAt(fd, name.c_str(), status) != 0) continue;
      TFileEntry& entry = append(status, name, directory);
      if (status.kind == platform::EntryStatus::Kind::kFolder &&
          seen_.insert({status.device, status.inode}).second)
        queue_.push_back(
            {owner_.entries_.size() - 1, nativePath.empty() ? name : nativePath + "/" + name});
      if (callback_) callback_(entry, ++number_);
      if (owner_.abort_) return false;
    }
    return true;
  }

  TFileEntry& append(const platform::EntryStatus& status, const std::string& nativeName,
                     const std::string& directory) {
    auto entry = std::make_unique<TFileEntry>();
    const bool folder = status.kind == platform::EntryStatus::Kind::kFolder;
    entry->drive = root_;
    entry->directory = directory;
    entry->name = storedName(nativeName);
    entry->extension = extensionOf(entry->name);
    entry->size = folder ? 0 : static_cast<int64_t>(status.size);
    entry->attributes = attributesOf(status, nativeName);
    entry->date = storedDate(status.modifiedSeconds);
    (folder ? owner_.directoryCount_ : owner_.fileCount_)++;
    owner_.totalSize_ += entry->size;
    owner_.entries_.push_back(std::move(entry));
    return *owner_.entries_.back();
  }

  DirEnumerator& owner_;
  const std::string& root_;
  const TDirEnumEvent& callback_;
  int rootFd_ = -1;
  std::vector<Folder> queue_;                     // folders found, listed in this order
  std::set<std::pair<uint64_t, uint64_t>> seen_;  // device and inode of every folder queued
  int32_t number_ = 0;
};

int32_t DirEnumerator::Enumerate(const std::string& root, const TDirEnumEvent& callback) {
  if (busy_) return -1;
  Clear();
  abort_ = false;
  busy_ = true;
  // A callback that throws still ends the walk.
  struct Idle {
    bool& busy;
    ~Idle() { busy = false; }
  } idle{busy_};
  Walk(*this, root, callback).run();
  return Count();
}

void DirEnumerator::Clear() {
  if (busy_) return;
  entries_.clear();
  fileCount_ = 0;
  directoryCount_ = 0;
  totalSize_ = 0;
}

TFileEntry* DirEnumerator::GetEntry(int32_t index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return entries_[static_cast<size_t>(index)].get();
}

std::string GetFullPath(const TFileEntry& entry) {
  std::string drive = entry.drive;
  while (!drive.empty() && drive.back() == '/') drive.pop_back();
  std::string rest = entry.directory;
  for (char& c : rest) {
    if (c == '\\') c = '/';
  }
  if (rest.empty() || rest.back() != '/') rest += '/';
  return drive + platform::ansiToUtf8(rest + entry.name);
}

bool EndsWithZip(const std::string& text) {
  return text.size() >= 4 &&
         equalIgnoringAsciiCase(std::string_view(text).substr(text.size() - 4), ".zip");
}

bool IsZipExtension(const std::string& text) { return equalIgnoringAsciiCase(text, ".zip"); }
