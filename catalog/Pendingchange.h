// TPendingChange: the note of a change to the catalogue's media that has
// begun and may not yet be wholly on the disk.
//
// The block cache holds the catalogue's writes until a flush, and lets some
// of them go earlier when it is full: a death or a full disk in the middle
// of adding, deleting or emptying can leave part of the change on the disk.
// So the change is noted, and the note is on the disk (synced) before any
// write of the change can reach it; a start that finds a note finishes or
// undoes the change as the disk holds it (TDBWrapper).
//
// A note says which change, and the state of the tables when it began (a
// TCatalogueMark): a repair acts only where the tables show that very change
// under way, never on tables restored from elsewhere or moved on since.
//
// The file CATALOG.PND in the data folder holds one note in 512 bytes of
// text, rewritten in place (a note never needs room on a full disk once the
// file is there):
//
//   offset size
//     0     1   kind: 'A' adding, 'D' deleting, 'E' emptying, 'M' editing,
//               ' ' none
//     1    11   ' ' + records of DBSUPPORT when the change began, 10 digits
//    12    11   ' ' + records of DBFILES, 10 digits
//    23    11   ' ' + DBID's last support id, 10 digits
//    34    11   ' ' + DBID's last file id, 10 digits
//    45    11   ' ' + the support: adding, the one begun last; deleting
//                     and editing, the one changed; 10 digits
//    56    11   ' ' + deleting and editing: the support's record number
//    67    11   ' ' + adding: the support a start decided to remove with
//                     its files (0 none); editing: the memo block of the
//                     new long comment; 10 digits
//    78     4   ' ' + length of the text, 3 digits
//    82     n   the text (Windows-1252): editing, the new short comment;
//               otherwise the volume name, for the user's messages
//  82+n     9   ' ' + CRC-32 of bytes 0 .. 81+n, 8 upper-case hex digits
//  91+n     1   line feed
//  92+n     -   blanks up to byte 510; byte 511 a line feed
//
// The last version wrote no field at 67 (the length at 67, the text at 71);
// such a note is read as one that decided nothing. Anything else (another
// length, a field out of form, a check that fails) is a damaged note.
// Other tools ignore the file.
//
// Thread rule: the user-interface thread, as every catalogue call.
#pragma once

#include <cstdint>
#include <string>

#include "catalog/Cataloguenotices.h"

inline constexpr char kPendingChangeName[] = "CATALOG.PND";
// Where a note that cannot be trusted is set aside.
inline constexpr char kSetAsideNoteName[] = "CATALOG.BAD";

enum class TChangeKind : char {
  kNone = ' ',
  kAdding = 'A',    // supports and their files, appended after the mark
  kDeleting = 'D',  // a support and its files
  kEmptying = 'E',  // every support and file
  kEditing = 'M',   // a support's short and long comments
};

// The state of the tables a note is tied to.
struct TCatalogueMark {
  int32_t supports = 0;       // records of DBSUPPORT, deleted ones included
  int32_t files = 0;          // records of DBFILES
  int32_t lastSupportId = 0;  // DBID's counters: the last ids handed out
  int32_t lastFileId = 0;
  bool operator==(const TCatalogueMark&) const = default;
};

struct TPendingNote {
  TChangeKind kind = TChangeKind::kNone;
  TCatalogueMark before;      // the tables when the change began
  int32_t supportId = 0;      // see the file's layout
  int32_t supportRecord = 0;  // deleting and editing: the support's record number
  // Adding: the support whose removal, with its files, a start decided on
  // before it wrote anything (the evidence may go with its first write).
  int32_t removedSupport = 0;
  // Editing: the new comments, the long one by the memo block that holds
  // it, written and synced before the note.
  std::string shortComment;
  int64_t longCommentBlock = 0;
  // Adding and deleting: the support's name as the list shows it; at most
  // kNoteTextMax bytes are kept.
  std::string volume;
};

inline constexpr size_t kNoteTextMax = 255;

// What the file said when it was read.
enum class TNoteState {
  kClear,       // no change pending (or no file yet)
  kNoted,       // a sound note of a change
  kDamaged,     // not a note this program wrote, whole: it cannot be trusted
  kUnreadable,  // the file is there but cannot be read (ReadError)
};

// The bytes of a note, and back: false for anything but a sound note.
std::string EncodePendingNote(const TPendingNote& note);
bool DecodePendingNote(const std::string& bytes, TPendingNote& note);

class TPendingChange {
 public:
  // Reads the note of `folder` ("" is the current folder); makes the file,
  // synced, when it is missing and `mayWrite`.
  TPendingChange(const std::string& folder, bool mayWrite);
  ~TPendingChange();
  TPendingChange(const TPendingChange&) = delete;
  TPendingChange& operator=(const TPendingChange&) = delete;

  TNoteState State() const { return state_; }
  // The note read or last written; kind kNone when there is none.
  const TPendingNote& Note() const { return note_; }
  // The file's path, for messages.
  const std::string& FileName() const { return name_; }
  // errno of the failed read (kUnreadable).
  int ReadError() const { return readError_; }
  // errno of the last failed write, or why the file cannot be written; 0
  // while notes can be written.
  int WriteError() const { return writeError_; }
  // A sync of the note failed in this run: no later one proves anything.
  bool SyncFailed() const { return syncFailed_; }
  // The last disk call of the note that failed (its file, or its folder's
  // sync), and how many have failed so far.
  const TDiskFailure& Failure() const { return failure_; }
  uint64_t Failures() const { return failures_; }

  // Notes a change, on the disk before this returns: false when it could
  // not be written and synced (WriteError tells why).
  bool Begin(const TPendingNote& note);
  // Names another support in the note written last (an addition going on),
  // without waiting for the disk: the note on the disk already covers it.
  // False when the disk refused the write.
  bool Rename(int32_t supportId, const std::string& volume);
  // Records in the note written last a start's decision to remove a
  // support with its files, on the disk before this returns: false when it
  // could not be written and synced.
  bool Decide(int32_t removedSupport);
  // Nothing is pending any more: true once the disk says so.
  bool Clear();
  // Moves a note that cannot be trusted out of the way (kSetAsideNoteName,
  // replacing an older one), so that no later start meets it again; a clear
  // note takes its place. True when it is gone.
  bool SetAside();

 private:
  bool opened();
  bool write(const TPendingNote& note, bool sync);
  // Makes the folder's entries reach the disk: false, noted as a failed
  // sync, when they may not have.
  bool syncFolder();
  // Records a call that failed; `file` empty for the note's own.
  void failed(TDiskCall call, int error, const std::string& file = {});

  std::string folder_;
  std::string name_;
  int fd_ = -1;
  bool mayWrite_;
  TNoteState state_ = TNoteState::kClear;
  TPendingNote note_;
  int readError_ = 0;
  int writeError_ = 0;
  bool syncFailed_ = false;
  TDiskFailure failure_;
  uint64_t failures_ = 0;
};
