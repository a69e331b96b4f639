// TSupportDataHandler: table DBSUPPORT, one record per catalogued medium (a
// "support"), with its id drawn from DBID under "DBSUPPORT". Tag T_S_ID is
// selected from Open on.
#pragma once

#include <cstdint>
#include <string>

#include "catalog/Dbfieldvalues.h"
#include "catalog/Dbidtablehandler.h"

class TSupportDataHandler : public TIdTableHandler {
 public:
  TSupportDataHandler(CODE4& code, std::string path, TIDHandler* ids = nullptr);

  bool CreateTable() override;
  std::span<const TDBTagDef> DeclaredTags() const override;
  bool Open() override;

  // Appends one record with the values in table order: ids and results as
  // TFileDataHandler::AppendFile.
  int32_t AppendSupport(int32_t& id, const std::string& type, int64_t size,
                        const std::string& volume, int32_t volumeSerial, int32_t fileCount,
                        const std::string& userId, double dateRecorded, const std::string& text);

  // Reads the current record in table order, texts trimmed: 0, or -1 (the
  // values untouched) without an open table or on a deleted record.
  int32_t ReadCurrent(int32_t& id, std::string& type, int64_t& size, std::string& volume,
                      int32_t& volumeSerial, int32_t& fileCount, std::string& userId,
                      double& dateRecorded, std::string& text);

  // Selects T_S_ID and seeks the support: true when found and not deleted.
  bool SeekById(int32_t id);
  TFound FindById(int32_t id);
  // Seeks the support and assigns its totals, written to the table's
  // cache (the next flush writes them): true when it was found (not
  // deleted) and every value fit its field. A value that does not fit
  // leaves the record as it was.
  bool UpdateSizeAndCount(int32_t id, int64_t size, int32_t fileCount);

  // An edit of a support's comments in two steps, so that the edit's note
  // can reach the disk between them. StoreLongComment writes the long
  // comment as a new entry of the memo file, synced, and gives its block
  // (0 for an empty text); no record changes.
  bool StoreLongComment(const std::string& text, int64_t& block);
  // SetComments makes record `record`, support `id`'s (live), hold the
  // short comment (cut to its field) and name the long comment's entry, in
  // one record write, flushed: true once the disk holds it.
  bool SetComments(int32_t record, int32_t id, const std::string& shortComment, int64_t block);
  // Whether record `record` is live support `id`'s (it is then current).
  bool IsSupportAt(int32_t record, int32_t id);
  // Whether the current record holds these comments already.
  bool HoldsComments(const std::string& shortComment, int64_t block);
};
