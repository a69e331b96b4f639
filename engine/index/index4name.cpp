// Names of index files: the full name a file is opened and shared by, the
// lookup of a table's open index files, and the production index's name.
//
// Every index file is opened by its full name (filename4current), so two
// names that lead to one file in different spellings ("a.cdx", "./A.CDX")
// find the same INDEX4FILE. Letter case is ignored, as tables copied from
// Windows carry names in any case.
#include <cstring>

#include "engine/index/index4internal.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/error4.h"
#include "engine/storage/filename4.h"
#include "engine/storage/text4.h"

namespace {

constexpr int32_t kLocName = 90347;

INDEX4FILE* asIndexFile(LINK4* link) { return reinterpret_cast<INDEX4FILE*>(link); }

}  // namespace

int32_t index4fullName(char* buffer, int32_t size, DATA4FILE* df, const char* name) {
  CODE4* c = df->codeBase;
  const char* source = name != nullptr ? name : df->file.name;
  char work[index4pathMax];
  if (source == nullptr || std::strlen(source) >= sizeof work)
    return error4(nullptr, e4parm, kLocName);
  std::strcpy(work, source);
  if (filename4extensionSet(work, sizeof work, code4indexExtension(c), name == nullptr ? 1 : 0) < 0)
    return -1;
  return filename4current(buffer, size, work);
}

INDEX4FILE* datafile4index(DATA4FILE* df, const char* name) {
  if (df == nullptr || name == nullptr) return nullptr;
  char full[index4pathMax];
  if (filename4current(full, sizeof full, name) < 0) return nullptr;
  for (LINK4* link = list4first(&df->indexes); link != nullptr; link = list4next(&df->indexes, link)) {
    INDEX4FILE* i = asIndexFile(link);
    if (i->file.name != nullptr && text4compareNoCase(i->file.name, full) == 0) return i;
  }
  return nullptr;
}

int index4isProduction(INDEX4FILE* i) {
  if (i == nullptr || i->dataFile == nullptr || i->file.name == nullptr) return 0;
  DATA4FILE* df = i->dataFile;
  if ((df->header.flags & dbf4flagProductionIndex) == 0) return 0;
  char production[index4pathMax];
  if (index4fullName(production, sizeof production, df, nullptr) < 0) return 0;
  return text4compareNoCase(production, i->file.name) == 0 ? 1 : 0;
}
