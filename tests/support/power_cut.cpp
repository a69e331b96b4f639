#include "tests/support/power_cut.h"

#include <fcntl.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <unordered_map>
#include <utility>

namespace testing_support {

namespace {

constexpr uint64_t kSector = 512;
constexpr uint32_t kEntries = UINT32_MAX;  // the group of the folder's entry operations

std::string withoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path.empty() ? "." : path;
}

}  // namespace

// One disk as a cut may leave it. The data of each identity is shared
// between disks until one of them changes it, so that the many states of a
// cut cost only the files they differ in.
struct PowerCutRecorder::Disk {
  std::map<std::string, uint32_t> names;
  std::vector<std::shared_ptr<std::string>> data;  // by identity, never null
  std::vector<bool> made;                          // by identity: whether its creation was applied

  std::string& own(uint32_t file) {
    std::shared_ptr<std::string>& bytes = data[file];
    if (bytes.use_count() > 1) bytes = std::make_shared<std::string>(*bytes);
    return *bytes;
  }
  void unname(uint32_t file) {
    std::erase_if(names, [file](const auto& entry) { return entry.second == file; });
  }
  size_t hash() const {
    size_t h = 0;
    for (const auto& [name, file] : names) {
      h = h * 31 + std::hash<std::string>()(name);
      h = h * 31 + std::hash<std::string>()(*data[file]);
    }
    return h;
  }
  bool sameFiles(const Disk& other) const {
    return std::equal(names.begin(), names.end(), other.names.begin(), other.names.end(),
                      [&](const auto& a, const auto& b) {
                        const auto& x = data[a.second];
                        const auto& y = other.data[b.second];
                        return a.first == b.first && (x == y || *x == *y);
                      });
  }
};

PowerCutRecorder::PowerCutRecorder(const std::string& folder)
    : folder_(withoutTrailingSlash(std::filesystem::path(folder).lexically_normal().string())) {
  char here[4096];
  if (Os::currentDirectory(here, sizeof here)) workingFolder_ = here;
  folderPath_ = absolute(folder.c_str());
  for (const std::string& name : Os::listFolder(folderPath_.string())) {
    const std::string path = (folderPath_ / name).string();
    platform::EntryStatus status;
    if (Os::entryStatusAt(AT_FDCWD, path.c_str(), status) != 0 ||
        status.kind != platform::EntryStatus::Kind::kFile)
      continue;
    const uint32_t file = newFileLocked(name);
    startBytes_.push_back(readWhole(path));
    startNames_[name] = file;
    live_[name] = file;
  }
}

std::filesystem::path PowerCutRecorder::absolute(const char* path) const {
  std::filesystem::path whole(path);
  if (whole.is_relative()) whole = workingFolder_ / whole;
  whole = whole.lexically_normal();
  if (!whole.has_filename() && whole.has_relative_path()) whole = whole.parent_path();
  return whole;
}

bool PowerCutRecorder::inFolder(const char* path, std::string& name) const {
  const std::filesystem::path whole = absolute(path);
  if (whole.parent_path() != folderPath_ || !whole.has_filename()) return false;
  name = whole.filename().string();
  return name != "." && name != "..";
}

std::string PowerCutRecorder::readWhole(const std::string& path) {
  std::string bytes;
  const int fd = Os::openFile(path.c_str(), O_RDONLY, 0);
  if (fd < 0) return bytes;
  uint64_t size = 0;
  if (Os::fileSize(fd, size) == 0) {
    bytes.resize(size);
    uint64_t got = 0;
    while (got < size) {
      const int64_t n = Os::readAt(fd, bytes.data() + got, size - got, got);
      if (n <= 0) break;
      got += static_cast<uint64_t>(n);
    }
    bytes.resize(got);
  }
  Os::closeFile(fd);
  return bytes;
}

uint32_t PowerCutRecorder::newFileLocked(const std::string& name) {
  nameOf_.push_back(name);
  unsynced_.emplace_back();
  return static_cast<uint32_t>(nameOf_.size() - 1);
}

size_t PowerCutRecorder::logLocked(Op op, bool durable) {
  const size_t index = ops_.size();
  const bool entry =
      op.kind == Op::Kind::create || op.kind == Op::Kind::rename || op.kind == Op::Kind::remove;
  const bool sync = op.kind == Op::Kind::sync || op.kind == Op::Kind::syncFolder;
  if (durable || sync)
    op.durableAt = index;
  else if (entry)
    unsyncedEntries_.push_back(index);
  else
    unsynced_[op.file].push_back(index);
  ops_.push_back(std::move(op));
  return index;
}

void PowerCutRecorder::syncedLocked(std::vector<size_t>& unsynced, size_t before, size_t sync) {
  const auto covered = std::lower_bound(unsynced.begin(), unsynced.end(), before);
  for (auto i = unsynced.begin(); i != covered; ++i) ops_[*i].durableAt = sync;
  unsynced.erase(unsynced.begin(), covered);
}

int PowerCutRecorder::openFile(const char* path, int flags, int mode) {
  std::string name;
  if (!inFolder(path, name)) return FakeOs::openFile(path, flags, mode);
  // Held across the call: whether it made the file depends on the names
  // the folder had just before.
  std::lock_guard guard(mutex_);
  const auto known = live_.find(name);
  const int fd = FakeOs::openFile(path, flags, mode);
  if (fd < 0) return fd;
  uint32_t file;
  if ((flags & O_CREAT) != 0 && ((flags & O_EXCL) != 0 || known == live_.end())) {
    file = newFileLocked(name);
    live_[name] = file;
    logLocked(Op{.kind = Op::Kind::create, .file = file, .name = name});
  } else if (known != live_.end()) {
    file = known->second;
    if ((flags & O_TRUNC) != 0) logLocked(Op{.kind = Op::Kind::length, .file = file, .name = name});
  } else {
    return fd;  // not made through the door while recording: not followed
  }
  open_[fd] = file;
  return fd;
}

int PowerCutRecorder::closeFile(int fd) {
  {
    // Forgotten first: once closed, the number may come back from another
    // thread's open.
    std::lock_guard guard(mutex_);
    open_.erase(fd);
  }
  return FakeOs::closeFile(fd);
}

int64_t PowerCutRecorder::writeAt(int fd, const void* data, size_t n, uint64_t offset) {
  const int64_t put = FakeOs::writeAt(fd, data, n, offset);
  if (put <= 0) return put;
  std::lock_guard guard(mutex_);
  const auto open = open_.find(fd);
  if (open == open_.end()) return put;
  const uint32_t file = open->second;
  logLocked(Op{.kind = Op::Kind::write,
               .file = file,
               .at = offset,
               .size = static_cast<uint64_t>(put),
               .bytes = bytes_.size(),
               .name = nameOf_[file]});
  bytes_.append(static_cast<const char*>(data), static_cast<size_t>(put));
  return put;
}

int PowerCutRecorder::truncateFile(int fd, uint64_t size) {
  const int rc = FakeOs::truncateFile(fd, size);
  if (rc != 0) return rc;
  std::lock_guard guard(mutex_);
  const auto open = open_.find(fd);
  if (open != open_.end())
    logLocked(Op{
        .kind = Op::Kind::length, .file = open->second, .at = size, .name = nameOf_[open->second]});
  return rc;
}

int PowerCutRecorder::syncFile(int fd) {
  // Only what was done before the sync began is sure to be covered by it.
  size_t before;
  {
    std::lock_guard guard(mutex_);
    before = ops_.size();
  }
  const int rc = FakeOs::syncFile(fd);
  if (rc != 0) return rc;
  std::lock_guard guard(mutex_);
  const auto open = open_.find(fd);
  if (open == open_.end()) return rc;
  const uint32_t file = open->second;
  const size_t sync = logLocked(Op{.kind = Op::Kind::sync, .file = file, .name = nameOf_[file]});
  syncedLocked(unsynced_[file], before, sync);
  return rc;
}

int PowerCutRecorder::syncFolder(const char* path) {
  size_t before;
  {
    std::lock_guard guard(mutex_);
    before = ops_.size();
  }
  const int rc = FakeOs::syncFolder(path);
  if (rc != 0 || absolute(path) != folderPath_) return rc;
  std::lock_guard guard(mutex_);
  const size_t sync = logLocked(Op{.kind = Op::Kind::syncFolder});
  syncedLocked(unsyncedEntries_, before, sync);
  return rc;
}

int PowerCutRecorder::removeFile(const char* path) {
  std::string name;
  if (!inFolder(path, name)) return FakeOs::removeFile(path);
  std::lock_guard guard(mutex_);
  const int rc = FakeOs::removeFile(path);
  const auto known = live_.find(name);
  if (rc != 0 || known == live_.end()) return rc;
  logLocked(Op{.kind = Op::Kind::remove, .file = known->second, .name = name});
  live_.erase(known);
  return rc;
}

int PowerCutRecorder::renameFile(const char* from, const char* to) {
  std::string fromName;
  std::string toName;
  const bool fromInside = inFolder(from, fromName);
  const bool toInside = inFolder(to, toName);
  if (!fromInside && !toInside) return FakeOs::renameFile(from, to);
  std::lock_guard guard(mutex_);
  const int rc = FakeOs::renameFile(from, to);
  if (rc != 0 || (fromInside && toInside && fromName == toName)) return rc;
  const auto source = fromInside ? live_.find(fromName) : live_.end();
  if (!toInside) {
    if (source == live_.end()) return rc;
    logLocked(Op{.kind = Op::Kind::remove, .file = source->second, .name = fromName});
    live_.erase(source);
    return rc;
  }
  if (source != live_.end()) {
    const uint32_t file = source->second;
    live_.erase(source);
    live_[toName] = file;
    nameOf_[file] = toName;
    logLocked(Op{.kind = Op::Kind::rename, .file = file, .name = toName, .from = fromName});
    return rc;
  }
  // Made elsewhere: how its bytes were written is unknown, so they count as
  // durable; its entry here is new.
  const uint32_t file = newFileLocked(toName);
  live_[toName] = file;
  logLocked(Op{.kind = Op::Kind::create, .file = file, .name = toName});
  const std::string bytes = readWhole(absolute(to).string());
  if (!bytes.empty()) {
    logLocked(Op{.kind = Op::Kind::write,
                 .file = file,
                 .size = bytes.size(),
                 .bytes = bytes_.size(),
                 .name = toName},
              true);
    bytes_ += bytes;
  }
  return rc;
}

size_t PowerCutRecorder::Position() const {
  std::lock_guard guard(mutex_);
  return ops_.size();
}

std::vector<size_t> PowerCutRecorder::SyncPoints() const {
  std::lock_guard guard(mutex_);
  std::vector<size_t> points;
  for (size_t i = 0; i < ops_.size(); i++)
    if (ops_[i].kind == Op::Kind::sync || ops_[i].kind == Op::Kind::syncFolder) points.push_back(i);
  points.push_back(ops_.size());
  return points;
}

std::string PowerCutRecorder::keyOf(const std::string& name) const {
  return folder_.back() == '/' ? folder_ + name : folder_ + "/" + name;
}

std::string PowerCutRecorder::describe(const Op& op) const {
  switch (op.kind) {
    case Op::Kind::create:
      return "create " + keyOf(op.name);
    case Op::Kind::write:
      return "write " + keyOf(op.name) + " @" + std::to_string(op.at) + "+" +
             std::to_string(op.size);
    case Op::Kind::length:
      return "length " + keyOf(op.name) + " = " + std::to_string(op.at);
    case Op::Kind::sync:
      return "sync " + keyOf(op.name);
    case Op::Kind::syncFolder:
      return "sync folder";
    case Op::Kind::rename:
      return "rename " + keyOf(op.from) + " -> " + keyOf(op.name);
    case Op::Kind::remove:
      return "remove " + keyOf(op.name);
  }
  return std::string();
}

void PowerCutRecorder::apply(Disk& disk, const Op& op, uint64_t keep) const {
  switch (op.kind) {
    case Op::Kind::create:
      disk.names[op.name] = op.file;
      disk.made[op.file] = true;
      break;
    case Op::Kind::write: {
      std::string& bytes = disk.own(op.file);
      const size_t n = static_cast<size_t>(std::min(op.size, keep));
      if (op.at + n > bytes.size()) bytes.resize(static_cast<size_t>(op.at + n));
      bytes.replace(static_cast<size_t>(op.at), n, bytes_, op.bytes, n);
      break;
    }
    case Op::Kind::length:
      disk.own(op.file).resize(static_cast<size_t>(op.at));
      break;
    case Op::Kind::rename:
      // A file whose creation was lost cannot be moved into view.
      if (!disk.made[op.file]) break;
      disk.unname(op.file);
      disk.names[op.name] = op.file;
      break;
    case Op::Kind::remove:
      disk.unname(op.file);
      break;
    case Op::Kind::sync:
    case Op::Kind::syncFolder:
      break;
  }
}

PowerCutRecorder::Disk PowerCutRecorder::durableDisk(size_t position) const {
  Disk disk;
  const auto empty = std::make_shared<std::string>();
  disk.data.assign(nameOf_.size(), empty);
  disk.made.assign(nameOf_.size(), false);
  for (size_t file = 0; file < startBytes_.size(); file++) {
    disk.data[file] = std::make_shared<std::string>(startBytes_[file]);
    disk.made[file] = true;
  }
  disk.names = startNames_;
  // Per file, and for the entries, the durable operations all come before
  // the pending ones: replaying these alone keeps the log's order.
  for (size_t i = 0; i < position; i++)
    if (ops_[i].durableAt < position) apply(disk, ops_[i]);
  return disk;
}

FolderFiles PowerCutRecorder::filesOf(const Disk& disk) const {
  FolderFiles files;
  for (const auto& [name, file] : disk.names) files[keyOf(name)] = *disk.data[file];
  return files;
}

FolderFiles PowerCutRecorder::Durable(size_t position) const {
  std::lock_guard guard(mutex_);
  return filesOf(durableDisk(std::min(position, ops_.size())));
}

std::vector<PowerCutRecorder::DiskState> PowerCutRecorder::StatesAt(size_t position) const {
  std::lock_guard guard(mutex_);
  position = std::min(position, ops_.size());
  const Disk durable = durableDisk(position);
  std::vector<size_t> pending;
  for (size_t i = 0; i < position; i++) {
    const Op::Kind kind = ops_[i].kind;
    if (kind != Op::Kind::sync && kind != Op::Kind::syncFolder && ops_[i].durableAt >= position)
      pending.push_back(i);
  }
  const size_t count = pending.size();

  std::vector<std::pair<std::string, Disk>> kept;
  std::unordered_multimap<size_t, size_t> keptByHash;
  auto add = [&](std::string label, Disk disk) {
    const size_t hash = disk.hash();
    const auto [first, last] = keptByHash.equal_range(hash);
    for (auto same = first; same != last; ++same)
      if (kept[same->second].second.sameFiles(disk)) return;
    keptByHash.emplace(hash, kept.size());
    kept.emplace_back(std::move(label), std::move(disk));
  };
  // The durable disk with the chosen pending operations replayed in log
  // order; the one at `torn` keeps only its first `keep` bytes.
  auto replay = [&](const std::function<bool(size_t)>& chosen, size_t torn = kNever,
                    uint64_t keep = 0) {
    Disk disk = durable;
    for (size_t k = 0; k < count; k++) {
      if (k == torn)
        apply(disk, ops_[pending[k]], keep);
      else if (chosen(k))
        apply(disk, ops_[pending[k]]);
    }
    return disk;
  };
  const auto all = [](size_t) { return true; };
  auto opLabel = [&](size_t k) {
    return std::to_string(pending[k]) + " (" + describe(ops_[pending[k]]) + ")";
  };

  add("synced only", durable);
  add("all", replay(all));
  Disk prefix = durable;
  for (size_t k = 1; k < count; k++) {
    apply(prefix, ops_[pending[k - 1]]);
    add("prefix " + std::to_string(k) + " of " + std::to_string(count) + ", through op " +
            opLabel(k - 1),
        prefix);
  }
  for (size_t k = 0; k < count; k++)
    add("drop " + opLabel(k), replay([k](size_t j) { return j != k; }));

  auto groupOf = [&](size_t k) {
    const Op& op = ops_[pending[k]];
    const bool entry =
        op.kind == Op::Kind::create || op.kind == Op::Kind::rename || op.kind == Op::Kind::remove;
    return entry ? kEntries : op.file;
  };
  std::vector<std::pair<uint32_t, std::string>> groups;  // in order of first pending operation
  for (size_t k = 0; k < count; k++) {
    const uint32_t group = groupOf(k);
    const std::string name = group == kEntries ? "folder entries" : keyOf(ops_[pending[k]].name);
    const auto known = std::find_if(groups.begin(), groups.end(),
                                    [group](const auto& g) { return g.first == group; });
    if (known == groups.end())
      groups.emplace_back(group, name);
    else
      known->second = name;  // its latest name
  }
  for (const auto& [group, name] : groups) {
    add("only " + name, replay([&, group = group](size_t j) { return groupOf(j) == group; }));
    add("all but " + name, replay([&, group = group](size_t j) { return groupOf(j) != group; }));
  }

  for (size_t k = 0; k < count; k++) {
    const Op& op = ops_[pending[k]];
    if (op.kind != Op::Kind::write) continue;
    const uint64_t firstSector = op.at / kSector;
    const uint64_t sectors = (op.at + op.size - 1) / kSector - firstSector + 1;
    if (sectors < 2) continue;
    const uint64_t landed = sectors / 2;
    add("torn " + opLabel(k) + ", " + std::to_string(landed) + " of " + std::to_string(sectors) +
            " sectors",
        replay(all, k, (firstSector + landed) * kSector - op.at));
  }

  const std::string cut =
      position < ops_.size()
          ? "cut before op " + std::to_string(position) + " (" + describe(ops_[position]) + ")"
          : "cut at the end of the run (" + std::to_string(position) + " ops)";
  std::vector<DiskState> states;
  states.reserve(kept.size());
  for (const auto& [label, disk] : kept) states.push_back({cut + ": " + label, filesOf(disk)});
  return states;
}

}  // namespace testing_support
