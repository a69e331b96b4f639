// TDBWrapper: the one object through which the program reaches the
// catalogue. It adds supports and files (from a scan or an archive), reads,
// seeks, updates and deletes them, empties the catalogue, counts supports,
// finds supports by volume serial, and expands compact paths.
//
// The current support and the current file are the positions of the
// long-lived DBSUPPORT and DBFILES handles; operations marked "own handle"
// open a second, short-lived handle on the table and never move them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "catalog/Globaldbhandler.h"
#include "catalog/Mediatypes.h"
#include "catalog/Pendingchange.h"

struct CODE4;

// The values of one DBSUPPORT record, in table order.
struct TSupportRecord {
  int32_t id = -1;
  std::string type;
  int64_t size = 0;
  std::string volume;
  int32_t volumeSerial = 0;  // stored signed; format it through uint32_t
  int32_t fileCount = 0;
  std::string userId;
  double dateRecorded = 0.0;
  std::string text;
};

// Totals of one pass over DBSUPPORT: live and deleted supports, and over
// the live ones the sums of their stored entry counts and sizes.
struct TSupportTotals {
  int32_t supports = 0;
  int32_t deleted = 0;
  int64_t files = 0;
  int64_t bytes = 0;
};

// The values of one DBFILES record, in table order.
struct TFileRecord {
  int32_t id = -1;
  std::string name;
  std::string ext;
  std::string path;
  int32_t supportId = 0;
  std::string comment;
  int32_t category = 0;
  std::string crc;
  std::string md5;
  double date = 0.0;
  int64_t size = 0;
  int32_t attributes = 0;
  std::string text;
};

class TDBWrapper {
 public:
  // Opens (or creates) the catalogue in `dataFolder`; Opening tells how
  // that went.
  TDBWrapper(CODE4& code, const std::string& dataFolder);
  // What the opening came to. A catalogue that another process holds is
  // left unopened and said so here only: the caller tells the user.
  TCatalogueOpening Opening() const { return opening_; }
  // The folder of the catalogue's files, as given.
  const std::string& DataFolder() const { return dataFolder_; }
  // Closes every table, then ends the engine.
  ~TDBWrapper();
  TDBWrapper(const TDBWrapper&) = delete;
  TDBWrapper& operator=(const TDBWrapper&) = delete;

  // Adding, deleting and emptying are all or nothing for the user: each is
  // noted pending (TPendingChange) before its first write can reach the
  // disk, and until a FlushAll has written every table. A start that finds
  // a change pending (the program died, or the disk was full until its
  // end) finishes it as the disk holds it: a deletion or an emptying is
  // completed; of an addition, the files of a support that is not listed
  // are removed, and a listed support's file count and size become those
  // of its files stored. While a change stays pending (its flush failed),
  // a new one first writes it, or is refused.
  //
  // A new support from a scan: its id, or negative when it could not be
  // stored (the count then stays as it was).
  int32_t AddScannedSupport(const std::string& shortComment, const std::string& longComment,
                            int64_t totalSize, int32_t entryCount, const TVolumeInfo& volume);
  // The result of the two Add...Record calls below when a value does not
  // fit its column (a number too wide): nothing was stored.
  static constexpr int32_t kValueDoesNotFit = -2;
  // A support from an archive; record.id -1 draws a new id. The id, or
  // kValueDoesNotFit, or -1 when it could not be stored (also when a change
  // left pending before cannot be written first).
  int32_t AddSupportRecord(TSupportRecord& record);
  // A scanned entry of a support; a stored parent entry makes the path
  // compact ("@<parent id>:<path>"), one that failed to store leaves it
  // full. The new F_ID (also stored in the entry) or negative.
  int32_t AddScannedFile(int32_t supportId, TFileEntry& entry, const TFileEntry* parent);
  // A file from an archive: results as AddSupportRecord.
  int32_t AddFileRecord(TFileRecord& record);
  // Writes everything to disk: at the end of a support's insertion or an
  // import, never per record. False when something could not be written;
  // true ends the pending support, if any.
  bool FlushAll();

  // The n-th live support (from 1) becomes the current one.
  bool GotoSupport(int32_t n);
  // The record number of the current support: a reader that keeps a
  // support it read compares it to know whether the position moved since.
  int32_t CurrentSupportRecord() const { return tables_->Supports().RecordNumber(); }
  void ReadCurrentSupport(TSupportRecord& record);
  // A deleted support is found by none of the operations that take an id:
  // SeekSupport, the two updates, DeleteSupport and ReadSupportById.
  bool SeekSupport(int32_t id);
  bool UpdateSupportInfo(int32_t id, const std::string& userId, const std::string& text);
  bool UpdateSupportTotals(int32_t id, int64_t size, int32_t fileCount);
  bool SeekFirstFileOfSupport(int32_t id);
  void ReadCurrentFile(TFileRecord& record);
  bool Skip(int32_t count);
  // Marks the support and its files deleted. True, also for an id that
  // names no live support; false when the change could not begin.
  bool DeleteSupport(int32_t id);
  // The live files of a support as the table holds them: how many, and
  // the sum of their sizes (own handle). False when the table cannot be
  // read.
  bool CountFilesOfSupport(int32_t id, int32_t& count, int64_t& size);
  // Removes every file, then every support, and writes the tables to disk;
  // the id counters stay. False when a removal or the writing failed, which
  // is reported through the error hook (by the engine, or here for a table
  // that never opened); the supports are kept when the files could not go.
  bool EmptyBase();
  void CountSupports();
  int32_t GetSupportCount() const { return supportCount_; }
  // One pass over every support record (own handle); zero totals when the
  // table cannot be opened.
  TSupportTotals SumSupports();
  // Live supports with this serial (own handle); with a list, one line per
  // support: "%05d@%010ld@%010ld@%f@%s" of id, size, file count, date and
  // volume.
  int32_t CountSupportsWithSerial(uint32_t serial, std::vector<std::string>* list);
  // Every serial of the live supports with the number of supports holding
  // it, in one pass (own handle): for a caller that asks about many serials.
  std::unordered_map<uint32_t, int32_t> CountSupportsBySerial();
  bool ReadSupportById(int32_t id, TSupportRecord& record);
  bool ReadFileById(int32_t id, TFileRecord& record);
  // The full path of a compact one: the parent's path and name, '\', then
  // the rest. A path without ':' or naming no stored file (any id below 1
  // among them) comes back unchanged with parentId -1.
  std::string ResolveFilePath(const std::string& path, int32_t& parentId);

  // The table handlers, for the windows that open a short-lived handle of
  // their own on a table (TOwnTableHandle).
  const TFileDataHandler& Files() const { return tables_->Files(); }
  const TSupportDataHandler& Supports() const { return tables_->Supports(); }

  static std::string SupportTypeName(const TVolumeInfo& volume);
  static std::string FormatVolumeSerial(uint32_t serial);

 private:
  // Record numbers of the live supports, in record order.
  const std::vector<int32_t>& supportRows();
  // Whether the table opened; one that did not is reported.
  bool tableOpen(const TDBDataHandler& table);
  // Marks every file of the support deleted.
  void deleteFilesOf(int32_t id);
  // Notes a change pending, once the one left pending before is written:
  // false, reported, when it cannot be.
  bool beginChange(TChangeKind kind, int32_t supportId);
  // Finishes the change a previous run left pending, as the disk holds it.
  void finishPending();
  void repairAddition(int32_t id);
  bool allTablesOpen();

  CODE4* code_;
  std::string dataFolder_;
  int32_t supportCount_ = 0;
  std::unique_ptr<TGlobalDBHandler> tables_;
  std::unique_ptr<TPendingChange> pending_;
  TCatalogueOpening opening_ = TCatalogueOpening::kIncomplete;
  std::vector<int32_t> rows_;
  bool rowsValid_ = false;
  // The last parent resolved by ResolveFilePath.
  int32_t cachedParentId_ = -1;
  TFileRecord cachedParent_;
};
