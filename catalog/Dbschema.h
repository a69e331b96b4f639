// The catalogue's three tables as the program declares them: DBSUPPORT, one
// record per catalogued medium (a "support"); DBFILES, one record per file
// or folder found on a support; DBID, one counter per table, from which the
// record ids of the other two are drawn.
//
// These declarations are the on-disk schema: the field names, types, widths
// and tag expressions are read by every installation and by other dBase
// tools, and must not change.
#pragma once

#include <array>
#include <cstddef>

#include "catalog/Dbdatahandler.h"

inline constexpr char kFilesTableName[] = "DBFILES";
inline constexpr char kSupportTableName[] = "DBSUPPORT";
inline constexpr char kIdTableName[] = "DBID";

// DBFILES fields by position in the declaration. F_PATH is the entry's
// folder on its medium, or the compact form "@<parent F_ID>:<rest>".
namespace dbfiles {
enum Field : size_t {
  kId,       // F_ID      N 16  drawn from DBID under "DBFILES"
  kName,     // F_NAME    C 250
  kExt,      // F_EXT     C 10  empty for a folder
  kPath,     // F_PATH    C 250
  kSuppId,   // F_SUPPID  N 10  S_ID of the support
  kComment,  // F_COMMENT C 50
  kCateg,    // F_CATEG   N 5   -1 for scanned entries
  kCrc,      // F_CRC     C 33
  kMd5,      // F_MD5     C 33  32 lower-case hexadecimal digits, or empty
  kDate,     // F_DATE    F 20.10  days with fraction
  kSize,     // F_SIZE    N 13  bytes, 64-bit
  kAttr,     // F_ATTR    N 10  attribute bits; 16 marks a folder
  kText,     // F_TEXT    M     long comment
  kFieldCount
};
}  // namespace dbfiles

// DBSUPPORT fields by position in the declaration.
namespace dbsupport {
enum Field : size_t {
  kId,       // S_ID      N 10  drawn from DBID under "DBSUPPORT"
  kType,     // S_TYPE    C 50  "CD/DVD", "FD", "RAM", "HDD", "NET" or "--"
  kSize,     // S_SIZE    N 16  bytes of the files, 64-bit
  kVol,      // S_VOL     C 250 volume label
  kVolId,    // S_VOLID   N 20  volume serial number
  kFCount,   // S_FCOUNT  N 10  entries
  kUsrId,    // S_USRID   C 250 the user's short comment
  kDateRec,  // S_DATEREC F 20.10  when it was recorded
  kText,     // S_TEXT    M     the user's long comment
  kFieldCount
};
}  // namespace dbsupport

// DBID fields by position in the declaration.
namespace dbid {
enum Field : size_t {
  kTblName,  // TBLNAME C 200 the table whose ids are counted
  kIdInc,    // IDINC   N 20  the last id handed out
  kFieldCount
};
}  // namespace dbid

extern const std::array<TDBFieldDef, dbfiles::kFieldCount> kFilesFields;
extern const std::array<TDBTagDef, 4> kFilesTags;  // F_ID, F_SUPPID, SUP_PAT, F_NAME
extern const std::array<TDBFieldDef, dbsupport::kFieldCount> kSupportFields;
extern const std::array<TDBTagDef, 1> kSupportTags;  // S_ID
extern const std::array<TDBFieldDef, dbid::kFieldCount> kIdFields;
extern const std::array<TDBTagDef, 1> kIdTags;  // TBLNAME

// Declared names of the tags the handlers select (engine name: "T_" + it).
inline constexpr char kFilesIdTag[] = "F_ID";
inline constexpr char kFilesSupportTag[] = "F_SUPPID";
inline constexpr char kSupportIdTag[] = "S_ID";
inline constexpr char kIdNameTag[] = "TBLNAME";
