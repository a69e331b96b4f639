// Opening index files: the shared INDEX4FILE with its tags read from the
// file, and the INDEX4 a handle sees it through; the names files are opened
// and shared by.
//
// Every index file is opened by its full name (filename4current), so two
// names that lead to one file in different spellings ("a.cdx", "./A.CDX")
// find the same INDEX4FILE. Letter case is ignored, as tables copied from
// Windows carry names in any case.
//
// Everything read is untrusted. The file header and every tag header pass
// the checks of cdx4header.h, the tag of tags is walked by the checked walks
// of the tag layer, a header block named twice or more headers than the
// file can hold are refused, and each tag's key expression must compile
// for the table and make keys of the length its header states.
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "engine/index/block4.h"
#include "engine/index/collate4.h"
#include "engine/index/index4internal.h"
#include "engine/index/reindex4internal.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/error4.h"
#include "engine/storage/filename4.h"
#include "engine/storage/text4.h"

namespace {

constexpr int32_t kLocName = 90347;

INDEX4FILE* asIndexFile(LINK4* link) { return reinterpret_cast<INDEX4FILE*>(link); }

struct TagEntry {
  std::string name;
  uint32_t headerBlock = 0;
};

// The file's base name, which names its tag of tags (and the only tag of a
// single-tag file).
std::string baseName(const char* fileName) {
  char base[index4pathMax];
  if (filename4piece(base, sizeof base, fileName, 0, 0) < 0) return {};
  return base;
}

int32_t refuse(INDEX4FILE* i, int32_t location) {
  return error4describe(i->codeBase, e4index, location, i->file.name, nullptr, nullptr);
}

// The entries of the tag of tags, in its order.
int32_t readTagEntries(INDEX4FILE* i, std::vector<TagEntry>* entries) {
  TAG4FILE* ti = i->tagIndex;
  // Every tag needs a header block of its own beyond the file header.
  const uint64_t most = block4toOffset(i, i->eofBlock) / cdx4headerSize;
  int32_t rc = tagfile4top(ti);
  while (rc == 0 && !tagfile4eof(ti)) {
    const B4KEY_DATA* k = tagfile4key(ti);
    if (k == nullptr) return error4code(i->codeBase) < 0 ? -1 : refuse(i, index4locFileHeader);
    std::string name(reinterpret_cast<const char*>(b4keyValue(k)), cdx4tagNameLength);
    name.erase(name.find_last_not_of(' ') + 1);
    for (const TagEntry& e : *entries)
      if (e.headerBlock == k->num) return refuse(i, index4locTagCount);
    entries->push_back({name, k->num});
    if (entries->size() > most) return refuse(i, index4locTagCount);
    // A node the disk could not read is an error, never the last tag.
    if (const int32_t stepped = tagfile4step(ti, 1); stepped <= 0) {
      if (stepped < 0) return stepped;
      break;
    }
  }
  if (rc < 0) return rc;
  return error4code(i->codeBase) < 0 ? -1 : 0;
}

// Compiles a tag read from the file and checks it against its header.
int32_t setUpTag(TAG4FILE* t, DATA4* d, const unsigned char* block) {
  INDEX4FILE* i = t->indexFile;
  const int32_t collation =
      collate4numberFromName(i->codeBase, t->header.collation, d->dataFile->codePage);
  if (collation < 0) return collation;
  const char* filter = (t->header.options & cdx4optionFilter) != 0
                           ? cdx4headerFilterExpression(block, t->header)
                           : nullptr;
  int32_t rc = index4tagCompile(t, d, cdx4headerKeyExpression(block, t->header), filter, collation,
                                index4locFilterType);
  if (rc < 0) return error4code(i->codeBase) < 0 ? rc : refuse(i, index4locKeyLength);
  if (index4keyLength(t) != t->header.keyLength) return refuse(i, index4locKeyLength);
  return 0;
}

// Reads one tag's header and sets the tag up. In a file opened for reading
// only, a tag that fails is kept, disabled, with the error cleared.
int32_t readTag(INDEX4FILE* i, DATA4* d, const TagEntry& entry) {
  CODE4* c = i->codeBase;
  unsigned char block[cdx4headerSize];
  Cdx4Header h;
  int32_t rc = cdx4tagHeaderBlockCheck(i, entry.headerBlock);
  if (rc == 0)
    rc = file4readAll(&i->file, block4toOffset(i, entry.headerBlock), block, sizeof block);
  if (rc == 0) rc = cdx4tagHeaderRead(c, block, i->blockSize, &h, i->file.name);
  TAG4FILE* t = nullptr;
  if (rc == 0) {
    t = index4tagNew(i, entry.headerBlock, h, entry.name.c_str());
    rc = t == nullptr ? -1 : setUpTag(t, d, block);
  }
  if (rc == 0) return 0;
  if (!i->file.isReadOnly) return rc;
  error4set(c, 0);
  if (t == nullptr) t = index4tagNew(i, entry.headerBlock, Cdx4Header{}, entry.name.c_str());
  if (t == nullptr) return -1;
  t->disabled = true;
  return 0;
}

// Reads the file header and every tag.
int32_t readFile(INDEX4FILE* i, DATA4* d) {
  CODE4* c = i->codeBase;
  unsigned char block[cdx4headerSize];
  if (file4read(&i->file, 0, block, sizeof block) != sizeof block)
    return error4code(c) < 0 ? -1 : refuse(i, index4locFileHeader);
  Cdx4Header h;
  if (int32_t rc = cdx4fileHeaderRead(c, block, &h, i->file.name); rc < 0) return rc;
  if (int32_t rc = indexfile4initNodes(i, c, cdx4headerBlockSize(h), cdx4headerMultiplier(h));
      rc < 0)
    return rc;
  i->versionSeen = i->versionWritten = h.version;
  i->interrupted = block[cdx4changeMarkOffset] != 0;
  i->leftWithoutRoom = block[cdx4changeMarkOffset] == cdx4leftWithoutRoom;
  const std::string base = baseName(i->file.name);
  if ((h.options & cdx4optionCompound) == 0) {
    // A single-tag file: the header at 0 is the tag itself.
    TAG4FILE* t = index4tagNew(i, 0, h, base.c_str());
    if (t == nullptr) return -1;
    if (int32_t rc = setUpTag(t, d, block); rc < 0) {
      if (!i->file.isReadOnly) return rc;
      error4set(c, 0);
      t->disabled = true;
    }
    return 0;
  }
  // The tag of tags' keys are tag names.
  if (h.keyLength != cdx4tagNameLength) return refuse(i, index4locFileHeader);
  TAG4FILE* ti = index4tagNew(i, 0, h, base.c_str());
  if (ti == nullptr) return -1;
  ti->recordCount = index4tagOfTagsRecords;
  ti->recordCountData = i;
  std::vector<TagEntry> entries;
  if (int32_t rc = readTagEntries(i, &entries); rc < 0) return rc;
  for (const TagEntry& entry : entries)
    if (int32_t rc = readTag(i, d, entry); rc < 0) return rc;
  return 0;
}

// A file a process left half changed, or the production index of a table
// whose records beyond the header's count (DATA4FILE::rebuildIndex) were
// never in it for sure, is rebuilt before anyone reads it, however the
// file is opened.
bool mustRebuild(INDEX4FILE* i) {
  return i->interrupted ||
         (i->dataFile != nullptr && i->dataFile->rebuildIndex && index4isProduction(i) == 1);
}

// Only a writer holding the file exclusively rebuilds it where it lies, and
// only while writes go on: after a failed sync the folder stays as it is.
bool rebuildsInPlace(INDEX4FILE* i) {
  return index4exclusive(i) && !i->file.isReadOnly && !file4writesEnded(&i->file);
}

// Rebuilds a file that must be: where it lies when it can be, else (or
// when the disk refuses it there) in memory for this process. 0 or the
// failure, raised.
int32_t rebuildForUse(INDEX4* index) {
  INDEX4FILE* i = index->indexFile;
  CODE4* c = index->codeBase;
  if (rebuildsInPlace(i)) {
    const bool withoutRoom = i->leftWithoutRoom;
    if (index4reindex(index) == 0) {
      if (i->dataFile != nullptr) {
        i->dataFile->indexFinished = true;
        i->dataFile->indexLeftWithoutRoom = withoutRoom;
      }
      return 0;
    }
    // The old file is as it was, still marked; what the disk refused has
    // been reported.
    error4set(c, 0);
  }
  const int32_t rc = index4reindexInMemory(index);
  if (rc == 0 && i->dataFile != nullptr) i->dataFile->indexInMemory = true;
  return rc;
}

INDEX4* usedBy(DATA4* d, INDEX4FILE* i) {
  for (LINK4* link = list4first(&d->indexes); link != nullptr; link = list4next(&d->indexes, link))
    if (reinterpret_cast<INDEX4*>(link)->indexFile == i) return reinterpret_cast<INDEX4*>(link);
  return nullptr;
}

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
  for (LINK4* link = list4first(&df->indexes); link != nullptr;
       link = list4next(&df->indexes, link)) {
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

INDEX4FILE* indexfile4open(DATA4* d, const char* name, INDEX4* /*index*/) {
  CODE4* c = d->codeBase;
  DATA4FILE* df = d->dataFile;
  char full[index4pathMax];
  if (index4fullName(full, sizeof full, df, name) < 0) return nullptr;
  if (INDEX4FILE* open = datafile4index(df, full)) {
    if (usedBy(d, open) != nullptr) {
      error4describe(c, e4instance, index4locOpenFile, full, nullptr, nullptr);
      return nullptr;
    }
    open->userCount++;
    return open;
  }
  INDEX4FILE* i = indexfile4new(d, index4locOpenFile);
  if (i == nullptr) return nullptr;
  if (file4open(&i->file, c, full, 1) != 0 || index4cacheJoin(i) < 0) {
    indexfile4free(i, false);
    return nullptr;
  }
  if (readFile(i, d) < 0) {
    const int32_t code = error4set(c, 0);
    indexfile4free(i, false);
    error4set(c, code);
    return nullptr;
  }
  reindex4removeStale(i);
  i->userCount = 1;
  i->isValid = true;
  list4add(&df->indexes, &i->link);
  df->indexCount++;
  return i;
}

INDEX4* index4open(DATA4* d, const char* name) {
  CODE4* c = d->codeBase;
  if (error4code(c) < 0) return nullptr;
  index4keyRoutinesReady();
  INDEX4* index = index4new(d, name, index4locOpenChecked);
  if (index == nullptr) return nullptr;
  index->indexFile = indexfile4open(d, name, index);
  if (index->indexFile == nullptr) {
    index4free(index);
    return nullptr;
  }
  list4add(&d->indexes, &index->link);
  if (index4attachTags(index, nullptr, index4locOpenChecked) < 0) {
    const int32_t code = error4set(c, 0);
    index4close(index);
    error4set(c, code);
    return nullptr;
  }
  index->isValid = true;
  if (mustRebuild(index->indexFile) && rebuildForUse(index) != 0) {
    const int32_t code = error4code(c) < 0 ? error4set(c, 0) : 0;
    // Given up as the disk holds it, still marked: nothing of it is
    // written back, and the refusal is reported once.
    index->indexFile->isValid = false;
    if (index->indexFile->dataFile != nullptr)
      index->indexFile->dataFile->indexRebuildFailed = true;
    index4close(index);
    error4set(c, code);
    return nullptr;
  }
  return index;
}

INDEX4* index4openChecked(DATA4* d, const char* name) {
  if (!data4check(d, index4locOpenChecked)) return nullptr;
  if (error4code(d->codeBase) < 0) return nullptr;
  return index4open(d, name);
}
