// The field lists of the catalogue's three tables, for engine tests.
#pragma once

#include "engine/storage/data4create.h"

namespace testing_support {

inline const FIELD4INFO kFilesFields[] = {
    {"F_ID", 'N', 16, 0, 0},    {"F_NAME", 'C', 250, 0, 0},  {"F_EXT", 'C', 10, 0, 0},
    {"F_PATH", 'C', 250, 0, 0}, {"F_SUPPID", 'N', 10, 0, 0}, {"F_COMMENT", 'C', 50, 0, 0},
    {"F_CATEG", 'N', 5, 0, 0},  {"F_CRC", 'C', 33, 0, 0},    {"F_MD5", 'C', 33, 0, 0},
    {"F_DATE", 'F', 20, 10, 0}, {"F_SIZE", 'N', 13, 0, 0},   {"F_ATTR", 'N', 10, 0, 0},
    {"F_TEXT", 'M', 10, 0, 0},  {nullptr, 0, 0, 0, 0},
};

inline const FIELD4INFO kSupportFields[] = {
    {"S_ID", 'N', 10, 0, 0},     {"S_TYPE", 'C', 50, 0, 0},     {"S_SIZE", 'N', 16, 0, 0},
    {"S_VOL", 'C', 250, 0, 0},   {"S_VOLID", 'N', 20, 0, 0},    {"S_FCOUNT", 'N', 10, 0, 0},
    {"S_USRID", 'C', 250, 0, 0}, {"S_DATEREC", 'F', 20, 10, 0}, {"S_TEXT", 'M', 10, 0, 0},
    {nullptr, 0, 0, 0, 0},
};

inline const FIELD4INFO kIdFields[] = {
    {"TBLNAME", 'C', 200, 0, 0},
    {"IDINC", 'N', 20, 0, 0},
    {nullptr, 0, 0, 0, 0},
};

}  // namespace testing_support
