#include "catalog/Pendingchange.h"

#include <fcntl.h>

#include <cerrno>

#include "platform/os.h"

namespace {

constexpr size_t kNoteSize = 512;
constexpr size_t kDigits = 10;
// The mark's four, the support, its record and the kind's own number; the
// last version wrote the first six only.
constexpr size_t kNumbers = 7;
constexpr size_t kLegacyNumbers = 6;
constexpr size_t kCheckDigits = 8;

constexpr size_t textAt(size_t numbers) { return 1 + numbers * (1 + kDigits) + 4; }
constexpr int kFilePermissions = 0666;  // narrowed by the umask, as the tables

uint32_t crc32(const char* data, size_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; i++) {
    crc ^= static_cast<unsigned char>(data[i]);
    for (int bit = 0; bit < 8; bit++) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void putNumber(std::string& out, uint64_t value, size_t digits) {
  std::string text(digits, '0');
  for (size_t at = digits; at > 0 && value > 0; at--, value /= 10)
    text[at - 1] = static_cast<char>('0' + value % 10);
  out += text;
}

// A field of `digits` decimal digits at `at`; -1 when it is not one.
int64_t number(const std::string& in, size_t at, size_t digits) {
  int64_t value = 0;
  for (size_t i = at; i < at + digits; i++) {
    if (in[i] < '0' || in[i] > '9') return -1;
    value = value * 10 + (in[i] - '0');
  }
  return value;
}

int64_t hexNumber(const std::string& in, size_t at, size_t digits) {
  int64_t value = 0;
  for (size_t i = at; i < at + digits; i++) {
    const char ch = in[i];
    const int digit = ch >= '0' && ch <= '9'   ? ch - '0'
                      : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10
                                               : -1;
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

bool knownKind(char kind) {
  return kind == ' ' || kind == 'A' || kind == 'D' || kind == 'E' || kind == 'M';
}

// The kind's own number and text, as the file holds them.
int64_t detailOf(const TPendingNote& note) {
  if (note.kind == TChangeKind::kAdding) return note.removedSupport;
  if (note.kind == TChangeKind::kEditing) return note.longCommentBlock;
  return 0;
}

const std::string& textOf(const TPendingNote& note) {
  return note.kind == TChangeKind::kEditing ? note.shortComment : note.volume;
}

// Decodes a note of `numbers` numbers: false when the bytes are not one.
bool decode(const std::string& in, size_t numbers, TPendingNote& note) {
  if (in.size() != kNoteSize || in.back() != '\n' || !knownKind(in[0])) return false;
  int64_t values[kNumbers] = {};
  for (size_t i = 0; i < numbers; i++) {
    const size_t at = 1 + i * (1 + kDigits);
    values[i] = in[at] == ' ' ? number(in, at + 1, kDigits) : -1;
    if (values[i] < 0 || (i < kLegacyNumbers && values[i] > INT32_MAX)) return false;
  }
  const size_t nameAt = textAt(numbers);
  const int64_t length = in[nameAt - 4] == ' ' ? number(in, nameAt - 3, 3) : -1;
  if (length < 0 || static_cast<size_t>(length) > kNoteTextMax) return false;
  const size_t checkAt = nameAt + static_cast<size_t>(length);
  const size_t end = checkAt + 1 + kCheckDigits;
  if (in[checkAt] != ' ' || in[end] != '\n') return false;
  if (hexNumber(in, checkAt + 1, kCheckDigits) != crc32(in.data(), checkAt)) return false;
  if (in.find_first_not_of(' ', end + 1) != kNoteSize - 1) return false;
  note = TPendingNote{};
  note.kind = static_cast<TChangeKind>(in[0]);
  if (numbers == kLegacyNumbers && note.kind == TChangeKind::kEditing) return false;
  note.before = {static_cast<int32_t>(values[0]), static_cast<int32_t>(values[1]),
                 static_cast<int32_t>(values[2]), static_cast<int32_t>(values[3])};
  note.supportId = static_cast<int32_t>(values[4]);
  note.supportRecord = static_cast<int32_t>(values[5]);
  const std::string text = in.substr(nameAt, static_cast<size_t>(length));
  if (note.kind == TChangeKind::kEditing) {
    note.longCommentBlock = values[6];
    note.shortComment = text;
  } else {
    if (note.kind == TChangeKind::kAdding && values[6] > INT32_MAX) return false;
    note.removedSupport = note.kind == TChangeKind::kAdding ? static_cast<int32_t>(values[6]) : 0;
    note.volume = text;
  }
  return true;
}

std::string folderOf(const std::string& folder) {
  return folder.empty() ? std::string() : folder + "/";
}

}  // namespace

std::string EncodePendingNote(const TPendingNote& note) {
  const std::string text = textOf(note).substr(0, kNoteTextMax);
  std::string out(1, static_cast<char>(note.kind));
  const int64_t numbers[kNumbers] = {
      note.before.supports,   note.before.files, note.before.lastSupportId,
      note.before.lastFileId, note.supportId,    note.supportRecord,
      detailOf(note)};
  for (const int64_t value : numbers) {
    out += ' ';
    putNumber(out, value > 0 ? static_cast<uint64_t>(value) : 0, kDigits);
  }
  out += ' ';
  putNumber(out, text.size(), 3);
  out += text;
  const uint32_t check = crc32(out.data(), out.size());
  out += ' ';
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (int shift = 28; shift >= 0; shift -= 4) out += kHex[(check >> shift) & 0xF];
  out += '\n';
  out.resize(kNoteSize - 1, ' ');
  return out + '\n';
}

bool DecodePendingNote(const std::string& in, TPendingNote& note) {
  return decode(in, kNumbers, note) || decode(in, kLegacyNumbers, note);
}

TPendingChange::TPendingChange(const std::string& folder, bool mayWrite)
    : folder_(folder), name_(folderOf(folder) + kPendingChangeName), mayWrite_(mayWrite) {
  platform::Os& os = platform::os();
  int fd = -1;
  if (opened()) {
    fd = fd_;
  } else {
    // Read where it cannot be written: a change left pending is repaired
    // all the same. A folder, a pipe or a device of that name holds none.
    fd = platform::openRegularFile(name_.c_str());
    if (fd == -ENOENT || fd == -EINVAL) return;
    if (fd < 0) {
      state_ = TNoteState::kUnreadable;
      readError_ = -fd;
      failed(TDiskCall::kRead, readError_);
      return;
    }
  }
  std::string bytes(kNoteSize + 1, '\0');
  const int64_t got = platform::readFully(fd, bytes.data(), bytes.size(), 0);
  if (fd != fd_) os.closeFile(fd);
  if (got < 0) {
    state_ = TNoteState::kUnreadable;
    readError_ = static_cast<int>(-got);
    failed(TDiskCall::kRead, readError_);
    return;
  }
  bytes.resize(static_cast<size_t>(got));
  if (bytes.empty()) {
    // Made now: its room is taken while there is some, and its name is on
    // the disk before any note depends on it.
    if (fd_ >= 0 && write(TPendingNote{}, true)) syncFolder();
    return;
  }
  if (!DecodePendingNote(bytes, note_)) {
    note_ = TPendingNote{};
    state_ = TNoteState::kDamaged;
    return;
  }
  state_ = note_.kind == TChangeKind::kNone ? TNoteState::kClear : TNoteState::kNoted;
}

TPendingChange::~TPendingChange() {
  if (fd_ >= 0) platform::os().closeFile(fd_);
}

bool TPendingChange::opened() {
  if (fd_ >= 0) return true;
  if (!mayWrite_) {
    writeError_ = EROFS;
    return false;
  }
  platform::Os& os = platform::os();
  // Never waiting at open: a named pipe of that name is refused below.
  const int fd = os.openFile(name_.c_str(), O_RDWR | O_CREAT | O_NONBLOCK, kFilePermissions);
  if (fd < 0) {
    writeError_ = -fd;
    failed(TDiskCall::kWrite, writeError_);
    return false;
  }
  platform::EntryStatus status;
  if (os.entryStatusAt(fd, "", status) != 0 || status.kind != platform::EntryStatus::Kind::kFile) {
    os.closeFile(fd);
    writeError_ = EINVAL;
    return false;
  }
  fd_ = fd;
  writeError_ = 0;
  return true;
}

bool TPendingChange::syncFolder() {
  const int rc = platform::os().syncFolder(folder_.c_str());
  // A file system that cannot sync a folder (EINVAL) keeps no entry back.
  if (rc == 0 || rc == -EINVAL) return true;
  syncFailed_ = true;
  writeError_ = -rc;
  failed(TDiskCall::kSync, writeError_, folder_.empty() ? "." : folder_);
  return false;
}

bool TPendingChange::write(const TPendingNote& note, bool sync) {
  // After a sync that failed nothing is written: the note on the disk is
  // the one a start must find.
  if (syncFailed_) {
    writeError_ = EIO;
    return false;
  }
  if (!opened()) return false;
  platform::Os& os = platform::os();
  const std::string bytes = EncodePendingNote(note);
  const int64_t wrote = platform::writeFully(fd_, bytes.data(), bytes.size(), 0);
  if (wrote != static_cast<int64_t>(bytes.size())) {
    writeError_ = wrote < 0 ? static_cast<int>(-wrote) : ENOSPC;
    failed(TDiskCall::kWrite, writeError_);
    return false;
  }
  if (sync) {
    const int rc = os.syncFile(fd_);
    if (rc != 0) {
      syncFailed_ = true;
      writeError_ = -rc;
      failed(TDiskCall::kSync, writeError_);
      return false;
    }
  }
  writeError_ = 0;
  note_ = note;
  state_ = note.kind == TChangeKind::kNone ? TNoteState::kClear : TNoteState::kNoted;
  return true;
}

void TPendingChange::failed(TDiskCall call, int error, const std::string& file) {
  failure_ = TDiskFailure{call, file.empty() ? name_ : file, error};
  failures_++;
}

bool TPendingChange::Begin(const TPendingNote& note) { return write(note, true); }

bool TPendingChange::Rename(int32_t supportId, const std::string& volume) {
  TPendingNote renamed = note_;
  renamed.supportId = supportId;
  renamed.volume = volume;
  return write(renamed, false);
}

bool TPendingChange::Decide(int32_t removedSupport) {
  TPendingNote decided = note_;
  decided.removedSupport = removedSupport;
  return write(decided, true);
}

bool TPendingChange::Clear() {
  if (state_ == TNoteState::kClear) return true;
  return write(TPendingNote{}, true);
}

bool TPendingChange::SetAside() {
  platform::Os& os = platform::os();
  const std::string aside = folderOf(folder_) + kSetAsideNoteName;
  if (syncFailed_) return false;
  const int renamed = mayWrite_ ? os.renameFile(name_.c_str(), aside.c_str()) : -EROFS;
  if (renamed != 0 && mayWrite_) failed(TDiskCall::kWrite, -renamed, aside);
  if (renamed == 0) {
    // The descriptor follows the file it was opened on.
    if (fd_ >= 0) os.closeFile(fd_);
    fd_ = -1;
    state_ = TNoteState::kClear;
    note_ = TPendingNote{};
    // Gone only once a clear note stands in its place on the disk.
    return opened() && write(TPendingNote{}, true) && syncFolder();
  }
  // Where it cannot be moved it is written over, if it can be.
  return write(TPendingNote{}, true);
}
