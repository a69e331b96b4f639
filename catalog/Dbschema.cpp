#include "catalog/Dbschema.h"

// Every unique tag of the catalogue keeps a record whose key is already
// present and leaves only that key out (mode 2).
namespace {
constexpr int32_t kKeepRecordLeaveKeyOut = 2;
}  // namespace

const std::array<TDBFieldDef, dbfiles::kFieldCount> kFilesFields = {{
    {"F_ID", kFieldInteger, 16, 0, 0},
    {"F_NAME", kFieldText, 250, 0, 0},
    {"F_EXT", kFieldText, 10, 0, 0},
    {"F_PATH", kFieldText, 250, 0, 0},
    {"F_SUPPID", kFieldInteger, 10, 0, 0},
    {"F_COMMENT", kFieldText, 50, 0, 0},
    {"F_CATEG", kFieldInteger, 5, 0, 0},
    {"F_CRC", kFieldText, 33, 0, 0},
    {"F_MD5", kFieldText, 33, 0, 0},
    {"F_DATE", kFieldFloat, 20, 10, 0},
    {"F_SIZE", kFieldInteger, 13, 0, 0},
    {"F_ATTR", kFieldInteger, 10, 0, 0},
    {"F_TEXT", kFieldMemo, 10, 0, 0},
}};

const std::array<TDBTagDef, 4> kFilesTags = {{
    {"F_ID", "F_ID", "", kKeepRecordLeaveKeyOut, 0},
    {"F_SUPPID", "F_SUPPID", "", 0, 0},
    {"SUP_PAT", "STR(F_SUPPID,5,0)+UPPER(SUBSTR(F_PATH,1,50))", "", 0, 0},
    {"F_NAME", "UPPER(SUBSTR(F_NAME,1,60))", "", 0, 0},
}};

const std::array<TDBFieldDef, dbsupport::kFieldCount> kSupportFields = {{
    {"S_ID", kFieldInteger, 10, 0, 0},
    {"S_TYPE", kFieldText, 50, 0, 0},
    {"S_SIZE", kFieldInteger, 16, 0, 0},
    {"S_VOL", kFieldText, 250, 0, 0},
    {"S_VOLID", kFieldInteger, 20, 0, 0},
    {"S_FCOUNT", kFieldInteger, 10, 0, 0},
    {"S_USRID", kFieldText, 250, 0, 0},
    {"S_DATEREC", kFieldFloat, 20, 10, 0},
    {"S_TEXT", kFieldMemo, 10, 0, 0},
}};

const std::array<TDBTagDef, 1> kSupportTags = {{
    {"S_ID", "S_ID", "", kKeepRecordLeaveKeyOut, 0},
}};

const std::array<TDBFieldDef, dbid::kFieldCount> kIdFields = {{
    {"TBLNAME", kFieldText, 200, 0, 0},
    {"IDINC", kFieldInteger, 20, 0, 0},
}};

const std::array<TDBTagDef, 1> kIdTags = {{
    {"TBLNAME", "TBLNAME", "", kKeepRecordLeaveKeyOut, 0},
}};
