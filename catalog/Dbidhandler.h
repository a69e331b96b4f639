// TIDHandler: the id counters of table DBID, one row per counted table
// (TBLNAME, IDINC: the last id handed out), reached through tag T_TBLNAME.
//
// Ids start at 1 and rise by one per id drawn; they are never reused, also
// after deletions or after the other tables are emptied (DBID never is).
// An id that cannot be drawn for certain is refused rather than guessed:
// handing out an id twice would tie one support's files to another.
#pragma once

#include <cstdint>
#include <string>

#include "catalog/Dbdatahandler.h"

struct TAG4;

class TIDHandler : public TDBDataHandler {
 public:
  TIDHandler(CODE4& code, std::string path);

  bool CreateTable() override;
  std::span<const TDBTagDef> DeclaredTags() const override;
  // The base Open, then the fields and tag T_TBLNAME, which stays selected.
  // False, with the table still open, when either is missing.
  bool Open() override;
  bool Close() override;

  // The next id of `tableName`: the row's IDINC plus one, stored in the
  // row (written when the handle next moves, flushes or closes). A table
  // without a row gets one holding 1. -1 when no id can be drawn for
  // certain: the table is not open, the counter is at the 32-bit limit, or
  // the seek answered anything but "found" or "key absent" (an error, a
  // lock, a missing tag).
  int32_t NextId(const std::string& tableName);

  // The last id handed out for `tableName`: 0 before the first, -1 when the
  // counter cannot be read.
  int32_t LastId(const std::string& tableName);

  // Raises the counter of `tableName` to `lastIdInUse` when it is lower, and
  // writes it at once. The counter can lag behind ids already stored after
  // the program ended without closing DBID. True when the counter is at
  // least that value now.
  bool RaiseCounter(const std::string& tableName, int32_t lastIdInUse);

 private:
  enum class Seek { kFound, kAbsent, kFailed };
  // Positions on the row of `tableName`, sought at the full key width: a
  // shorter text would match any name it begins.
  Seek seekCounter(const std::string& tableName);
  bool appendCounter(const std::string& tableName, int32_t value);
  // The next id from the counter row the handle stands on; -1 at the limit.
  int32_t drawFromCurrent(const std::string& tableName);

  TAG4* nameTag_ = nullptr;  // T_TBLNAME of the open handle
  // The row the last id was drawn from, while the handle still stands on
  // it: the catalogue holds DBID exclusively, so the row in the record
  // buffer is the counter, and the next id of the same table needs no seek.
  std::string drawnTable_;
  int32_t drawnRow_ = -1;
};
