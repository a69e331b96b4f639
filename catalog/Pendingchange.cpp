#include "catalog/Pendingchange.h"

#include <fcntl.h>

#include "platform/os.h"

namespace {

constexpr size_t kDigits = 10;
constexpr size_t kNoteSize = 1 + kDigits + 1;
constexpr int kFilePermissions = 0666;  // narrowed by the umask, as the tables

bool knownKind(char kind) { return kind == 'A' || kind == 'D' || kind == 'E'; }

// Reads a note: false for anything but a note of a known kind.
bool decode(const char* note, TChangeKind& kind, int32_t& id) {
  if (!knownKind(note[0]) || note[kNoteSize - 1] != '\n') return false;
  int64_t value = 0;
  for (size_t at = 1; at <= kDigits; at++) {
    if (note[at] < '0' || note[at] > '9') return false;
    value = value * 10 + (note[at] - '0');
  }
  if (value > INT32_MAX) return false;
  kind = static_cast<TChangeKind>(note[0]);
  id = static_cast<int32_t>(value);
  return true;
}

void encode(TChangeKind kind, int32_t id, char* note) {
  note[0] = static_cast<char>(kind);
  uint32_t value = id > 0 ? static_cast<uint32_t>(id) : 0;
  for (size_t at = kDigits; at >= 1; at--, value /= 10)
    note[at] = static_cast<char>('0' + value % 10);
  note[kNoteSize - 1] = '\n';
}

}  // namespace

TPendingChange::TPendingChange(const std::string& folder)
    : name_((folder.empty() ? std::string() : folder + "/") + kPendingChangeName) {
  // Not made here (a folder not writable now) it is made at the first note.
  if (!opened()) return;
  char note[kNoteSize];
  const int64_t got = platform::readFully(fd_, note, sizeof note, 0);
  if (got == static_cast<int64_t>(sizeof note)) {
    if (!decode(note, kind_, id_)) kind_ = TChangeKind::kNone;
  } else if (got == 0) {
    write(TChangeKind::kNone, 0);  // made now: its room is taken while there is some
  }
}

TPendingChange::~TPendingChange() {
  if (fd_ >= 0) platform::os().closeFile(fd_);
}

bool TPendingChange::Begin(TChangeKind kind, int32_t supportId) {
  if (!write(kind, supportId)) return false;
  kind_ = kind;
  id_ = supportId;
  return true;
}

bool TPendingChange::Clear() {
  if (kind_ == TChangeKind::kNone) return true;
  if (!write(TChangeKind::kNone, 0)) return false;
  kind_ = TChangeKind::kNone;
  id_ = 0;
  return true;
}

bool TPendingChange::opened() {
  if (fd_ < 0) fd_ = platform::os().openFile(name_.c_str(), O_RDWR | O_CREAT, kFilePermissions);
  return fd_ >= 0;
}

bool TPendingChange::write(TChangeKind kind, int32_t supportId) {
  if (!opened()) return false;
  char note[kNoteSize];
  encode(kind, supportId, note);
  return platform::writeFully(fd_, note, sizeof note, 0) == static_cast<int64_t>(sizeof note);
}
