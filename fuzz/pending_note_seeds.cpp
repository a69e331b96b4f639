// Writes a sound note of each kind into the folder given, as the seeds of
// the note's fuzz target.
#include <fstream>
#include <string>

#include "catalog/Pendingchange.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const TChangeKind kinds[] = {TChangeKind::kNone, TChangeKind::kAdding, TChangeKind::kDeleting,
                               TChangeKind::kEmptying, TChangeKind::kEditing};
  int n = 0;
  for (const TChangeKind kind : kinds) {
    TPendingNote note;
    note.kind = kind;
    note.before = {5, 50000, 7, 60000};
    note.supportId = kind == TChangeKind::kNone ? 0 : 6;
    note.supportRecord = kind == TChangeKind::kDeleting ? 3 : 0;
    note.volume = kind == TChangeKind::kAdding ? std::string("SAUVEGARDE \xE9t\xE9") : "";
    note.removedSupport = kind == TChangeKind::kAdding ? 6 : 0;
    note.shortComment = kind == TChangeKind::kEditing ? "disque bleu" : "";
    note.longCommentBlock = kind == TChangeKind::kEditing ? 12 : 0;
    std::ofstream(std::string(argv[1]) + "/note" + std::to_string(n++), std::ios::binary)
        << EncodePendingNote(note);
  }
  return 0;
}
