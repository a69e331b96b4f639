// TDBDataHandler: one catalogue table, declared by field and tag definition
// records, created from them when its data file is missing, opened and
// closed through the table engine on the program's settings object.
//
// A handler knows the folder and the name of its table ("DBFILES" names
// DBFILES.dbf, its memo file DBFILES.fpt and its production index
// DBFILES.cdx). It owns its open-table handle: Close, or the destructor,
// closes it, so the settings object must outlive every handler made on it.
//
// Success is decided from the handles and results the engine returns, never
// from the settings object's error code: the program's error hook shows an
// error and clears that code at once.
//
// Thread rule: the user-interface thread only, as every engine call of the
// program.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "catalog/Cataloguenotices.h"

struct CODE4;
struct DATA4;
struct FIELD4;
class TDbErrorCapture;

// Field-type codes of the definitions, turned into dBASE type letters when
// a table is created (FieldTypeToDbfType). The numbering is fixed: it is the
// one the declarations were written in.
enum TDBFieldType : uint8_t {
  kFieldText = 1,
  kFieldSmallInt = 2,
  kFieldInteger = 3,
  kFieldWord = 4,
  kFieldBoolean = 5,
  kFieldFloat = 6,
  kFieldCurrency = 7,
  kFieldDate = 9,
  kFieldTime = 10,
  kFieldDateTime = 11,
  kFieldAutoIncrement = 14,
  kFieldBlob = 15,
  kFieldMemo = 16,
  kFieldFixedText = 23,
  kFieldWideText = 24,
  kFieldLargeInt = 25,
};

// One field of a table declaration, in table order. The engine keeps at
// most ten characters of the name, upper-cased.
struct TDBFieldDef {
  char name[32];
  uint8_t type;    // a TDBFieldType
  int32_t length;  // characters
  int32_t decimals;
  uint8_t nullable;  // 0 in every catalogue declaration
};

// One tag of a table's production index. The engine tag is named "T_" and
// the declared name (MakeTagName); an empty filter means none.
struct TDBTagDef {
  char name[32];
  char expression[512];  // dBASE key expression
  char filter[512];      // dBASE filter expression, or empty
  int32_t uniqueMode;    // 0..3, see UniqueModeToEngine
  uint8_t descending;    // 0 in every catalogue declaration
};

// The dBASE letter of a field-type code: C for texts, N for integers, L, F,
// Y, D, T, B and M by kind, G for any other code.
char FieldTypeToDbfType(uint8_t type);

// The engine's unique value of a declared unique mode: 0 keys may repeat,
// 1 duplicates refuse the record quietly (20), 2 the record is kept and its
// duplicate key left out of the tag (25), 3 duplicates raise an error
// (-340); any other mode is 0.
int16_t UniqueModeToEngine(int32_t mode);

// What the last Open of a table repaired, or found it could not.
struct TOpenRepairs {
  bool tailCut = false;  // the data file ended in part of a record: cut
  // Whole records written last came after a damaged one (a power cut kept
  // some of a write and lost some): they were cut with it.
  bool recordsLost = false;
  // The header counted records the file does not hold: taken back to those
  // it holds (only in memory when the table is only read).
  bool countTakenBack = false;
  bool indexRebuilt = false;  // the index was damaged or lacked tags: made anew
  bool indexWaits = false;    // it must be made anew and could not be: the table is closed
  // Its index, left unfinished, could not be rebuilt where it lies (the
  // table only read, or no room on the disk): it was rebuilt in memory, and
  // the file on the disk stays marked for a start that can.
  bool indexInMemory = false;
  // Its index, left unfinished when a program stopped before it had
  // written everything, was rebuilt by the open; the disk had had no room
  // for it all.
  bool indexFinished = false;
  bool indexLeftWithoutRoom = false;
  // The last disk call of the open that failed, if one did: why an index
  // waits, or lives in memory.
  TDiskFailure cause;
};

// What a seek or a move found: a record, none (no such key, or the end of
// the rows), or nothing known because the table could not be read.
enum class TFound { kRecord, kNone, kFailed };

// An engine result of a seek or a move as a TFound.
inline TFound FoundOf(int32_t rc) {
  return rc == 0 ? TFound::kRecord : rc < 0 ? TFound::kFailed : TFound::kNone;
}

class TDBDataHandler {
 public:
  explicit TDBDataHandler(CODE4& code);
  TDBDataHandler(CODE4& code, std::string path, std::string tableName);
  virtual ~TDBDataHandler();
  TDBDataHandler(const TDBDataHandler&) = delete;
  TDBDataHandler& operator=(const TDBDataHandler&) = delete;

  void SetPath(std::string path) { path_ = std::move(path); }
  // A table of a catalogue that cannot be written is only read: a missing
  // table is not made, a damaged index not made anew (the table stays
  // closed), and the engine opens it for reading (its settings object's
  // read-only setting, which the owner sets).
  void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
  bool ReadOnly() const { return readOnly_; }
  void SetTableName(std::string name) { tableName_ = std::move(name); }
  const std::string& Path() const { return path_; }
  const std::string& TableName() const { return tableName_; }

  // The table's name, after the folder and a '/' when `withDirectory` (an
  // empty folder adds nothing: the current folder), with ".DBF" when
  // `withExtension`. The engine finds the files in any letter case.
  std::string GetFileName(bool withDirectory, bool withExtension) const;

  // Whether the data file exists, in any letter case.
  bool TableExists() const;

  // Whether another open file description holds the data file's sharing
  // lock (another process that has the table open), so that an open here
  // would be refused. Asked without the engine: nothing is reported.
  bool HeldElsewhere() const;

  // Creates the table from its declarations, replacing files of its name,
  // and then its production index with every tag; leaves it open. The
  // files are made under a work name and take the table's names once whole
  // and synced, the data file last. A failure leaves no table behind (a
  // half-made one would be opened without its tags at the next start) and
  // the handle null. The safety setting is as before on every path.
  bool CreateDBTable(std::span<const TDBFieldDef> fields, std::span<const TDBTagDef> tags);

  // Creates the table from the subclass's declarations; the base has none.
  virtual bool CreateTable();
  // The tags the table is declared with; the base has none.
  virtual std::span<const TDBTagDef> DeclaredTags() const;
  // Opens the table, or creates it when its data file is surely absent: a
  // lookup that fails for any reason but "no such file" opens, and the
  // open reports. An opened table whose index is damaged or lacks declared
  // tags has its production index made anew (completeIndex). The whole
  // create-or-open runs under the data folder's lock (Datafolderlock.h). On
  // success the handle is on its first record. What the open repaired is
  // told by OpenRepairs, not through the error hook.
  virtual bool Open();
  const TOpenRepairs& OpenRepairs() const { return repairs_; }
  // Closes the table (writing a changed record, the header and the
  // indexes). True when nothing was open or the close went cleanly.
  virtual bool Close();

  // Record count; -1 while closed.
  int32_t RecordCount();
  // The current record's number; -1 while closed.
  int32_t RecordNumber() const;
  // Whether the current record is marked deleted.
  bool IsDeleted();
  // True when record `record` is now current.
  bool GoTo(int32_t record);
  // Moves `count` records in the selected order: false at either end of the
  // table or on error.
  bool Skip(int32_t count);
  // The next record in the selected order; kFailed when it could not be
  // read, which is never the end of the rows.
  TFound Next();
  // Removes every record; the indexes are rebuilt empty.
  bool Zap();

  static std::string MakeTagName(std::string_view name);
  // The settings object's access mode for files opened from now on: 0
  // shared, 1 exclusive, 2 shared for reading. Other values are ignored.
  void SetEngineAccessMode(int32_t mode);
  // Starts the engine's block cache within `bytes` of memory (nothing when
  // it runs already). Files opened exclusively then keep their writes in
  // it until a flush, a close, or a full budget.
  void StartEngineCache(int32_t bytes);

  DATA4* Handle() const { return data_; }
  CODE4& Code() const { return code_; }

 protected:
  // Looks up the declared fields of the open table once, in declaration
  // order; true when every one exists. The pointers hold until Close.
  bool BindFields(std::span<const TDBFieldDef> fields);
  // A bound field by declaration position; null when unbound.
  FIELD4* BoundField(size_t position) const {
    return position < fields_.size() ? fields_[position] : nullptr;
  }
  bool FieldsBound() const { return fieldsBound_; }

 private:
  // True only when the data file is known not to exist in any letter case.
  bool TableSurelyAbsent() const;
  // Gives the files of the table made under `work` the table's names, the
  // data file last: true once the folder holds them.
  bool moveIntoPlace(const std::string& work) const;
  void removeWorkFiles(const std::string& work) const;
  // Renames a file of the table being made: false, said, when it failed.
  bool rename(const std::string& from, const std::string& to) const;
  // Opens the data file, then its production index unless the index file
  // is surely absent. True with a handle; an index the engine refused (and
  // reported) leaves the handle without it, for completeIndex to make anew.
  bool OpenTable();
  // data4open of the table, with or without its production index.
  DATA4* openData(bool withIndex);
  // Whether the open table lacks any of its declared tags.
  bool lacksTags();
  // Makes the production index anew from the declared tags when the open
  // table lacks any of them (its index file gone, or written by a tool that
  // knew fewer tags), or when the engine refused the index as damaged. True
  // when every declared tag is there now; a table whose index could not be
  // made is closed, so that nothing is appended to it unindexed. Tags the
  // declarations do not name are not kept. The outcome is in repairs_.
  bool completeIndex();
  // The table's index cannot be made at all: the table is closed, and what
  // the engine said of it is dropped for the table's waiting.
  bool indexWaits(TDbErrorCapture& capture);
  // Drops what the engine said of an index it could not make, which the
  // start says in its own words (OpenRepairs).
  void dropErrors(TDbErrorCapture& capture);

  CODE4& code_;
  std::string path_;
  std::string tableName_;
  DATA4* data_ = nullptr;        // owned; null while closed
  std::vector<FIELD4*> fields_;  // into data_'s field table
  bool fieldsBound_ = false;
  bool indexRefused_ = false;  // by the last OpenTable, until completeIndex
  bool readOnly_ = false;
  TOpenRepairs repairs_;  // of the last Open
};
