// TFileDataHandler: table DBFILES, one record per file or folder found on a
// catalogued medium, with its id drawn from DBID under "DBFILES".
//
// After Open no tag is selected: the handle walks in record order until
// SeekBySupport selects T_F_SUPPID, which then stays selected for Skip.
#pragma once

#include <cstdint>
#include <string>

#include "catalog/Dbidtablehandler.h"

class TFileDataHandler : public TIdTableHandler {
 public:
  TFileDataHandler(CODE4& code, std::string path, TIDHandler* ids = nullptr);

  bool CreateTable() override;
  std::span<const TDBTagDef> DeclaredTags() const override;
  bool Open() override;

  // Appends one record with the values in table order. A negative `id`
  // draws a new one, written back; an id of 0 or more is stored as given.
  // Texts longer than their fields are cut (F_NAME and F_PATH at 250
  // bytes). 0 appended; -1 the append could not start; -3 no id could be
  // drawn; -2 the append failed; -4 a number did not fit its field or the
  // memo was refused, and nothing was appended (the id drawn stays used).
  int32_t AppendFile(int32_t& id, const std::string& name, const std::string& ext,
                     const std::string& path, int32_t supportId, const std::string& comment,
                     int32_t category, const std::string& crc, const std::string& md5, double date,
                     int64_t size, int32_t attributes, const std::string& text);

  // Reads the current record, deleted or not, in table order; texts
  // trimmed. 0, or -1 without an open table (the values untouched).
  int32_t ReadCurrent(int32_t& id, std::string& name, std::string& ext, std::string& path,
                      int32_t& supportId, std::string& comment, int32_t& category, std::string& crc,
                      std::string& md5, double& date, int64_t& size, int32_t& attributes,
                      std::string& text);

  // Selects T_F_SUPPID and seeks the support's first file: true when found.
  bool SeekBySupport(int32_t supportId);
  TFound FindBySupport(int32_t supportId);
  // F_SUPPID of the current record.
  int32_t CurrentSupport();
};
