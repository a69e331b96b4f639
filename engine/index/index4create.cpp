// index4create: a new index file from a list of tag definitions.
//
// The file is created (the safety setting decides whether an existing one
// may be replaced), the tags are set up in memory from their definitions,
// and the rebuild writes the whole file. Until that has succeeded the file
// is nobody's: it is not on the table's list, and any failure deletes it.
#include <cstring>
#include <vector>

#include "engine/index/collate4.h"
#include "engine/index/expr4.h"
#include "engine/index/index4internal.h"
#include "engine/index/tag4keytype.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4create.h"
#include "engine/storage/error4.h"
#include "engine/storage/filename4.h"
#include "engine/storage/lock4.h"

namespace {

constexpr int32_t kLocFlag = 90382;
constexpr size_t kExpressionMax = 255;  // with its terminator, below 256
constexpr uint16_t kDescending = 10;
constexpr int kProductionFlagOffset = 28;

bool uniqueValueKnown(int16_t value) {
  switch (value) {
    case 0: case r4uniqueNoNull: case e4candidate: case r4unique: case r4uniqueContinue:
    case e4unique:
      return true;
    default:
      return false;
  }
}

uint8_t uniqueOptions(int16_t value) {
  if (value == r4uniqueNoNull || value == e4candidate) return cdx4optionUniqueNoNull;
  if (value != 0) return cdx4optionUnique;
  return 0;
}

// The collation of a new tag (1: machine order). Only keys whose every step
// is text, or every step a wide field, can be collated.
int32_t collationFor(CODE4* c, const TAG4FILE* t, int32_t codePage) {
  const bool wide = t->expr->type == expr4typeWide || t->expr->type == expr4typeWideTail;
  const int32_t number = wide ? c->collateWide : c->collatingSequence;
  const bool qualifies = index4keyCollates(t->expr);
  if (number == 0) {
    if (c->collateGeneral == 0 || !qualifies) return collate4machine;
    return codePage == 1 ? collate4generalOem : collate4generalWindows;
  }
  return qualifies ? number : collate4machine;
}

// Sets up tag k of the new file from its definition.
int32_t addTag(INDEX4FILE* i, DATA4* d, const TAG4INFO& def, int32_t k) {
  CODE4* c = i->codeBase;
  if (!uniqueValueKnown(def.unique))
    return error4describe(c, e4tagInfo, index4locUnique, def.name, nullptr, nullptr);
  if (def.descending != 0 && def.descending != kDescending)
    return error4describe(c, e4tagInfo, index4locDescending, def.name, nullptr, nullptr);
  if (def.expression == nullptr || def.expression[0] == '\0')
    return error4describe(c, e4tagInfo, index4locNoKey, def.name, nullptr, nullptr);
  const bool filtered = def.filter != nullptr && def.filter[0] != '\0';
  if (std::strlen(def.expression) + 1 > kExpressionMax ||
      (filtered && std::strlen(def.filter) + 1 > kExpressionMax))
    return error4describe(c, e4tagInfo, index4locExprLength, def.name, def.expression, nullptr);

  Cdx4Header h;
  h.options = cdx4optionCompact | cdx4optionCompound | uniqueOptions(def.unique);
  if (filtered) h.options |= cdx4optionFilter;
  h.descending = def.descending != 0 ? 1 : 0;
  h.keyLength = 1;  // set below, from the expression
  TAG4FILE* t = index4tagNew(i, block4fromOffset(i, uint64_t{cdx4headerSize} * k), h, def.name);
  if (t == nullptr) return -1;
  if (index4tagCompile(t, d, def.expression, filtered ? def.filter : nullptr, tag4machineOrder,
                       index4locFilterNotLogical) < 0)
    return error4code(c) < 0 ? -1 : error4(c, e4memory, index4locCreate);

  const int32_t collation = collationFor(c, t, d->dataFile->codePage);
  if (collation != collate4machine) {
    if (collate4require(c, collation) < 0) return -1;
    if (int32_t rc = tagfile4keyTypeSet(t, t->keyType, collation); rc < 0) return rc;
  }
  collate4nameFromNumber(collation, d->dataFile->codePage, t->header.collation);
  const int32_t keyLength = index4keyLength(t);
  if (keyLength <= 0 || keyLength > cdx4keyLengthMax ||
      (static_cast<int32_t>(i->blockSize) - 12) / (keyLength + 8) < 2)
    return error4describe(c, e4index, index4locReindexKeys, i->file.name, def.name, nullptr);
  return index4tagKeyLengthSet(t, static_cast<uint16_t>(keyLength));
}

// The tag of tags and every tag of the definitions; the modes in order.
int32_t setUpTags(INDEX4FILE* i, DATA4* d, const TAG4INFO* tags, std::vector<int16_t>* modes) {
  char base[index4pathMax];
  if (filename4piece(base, sizeof base, i->file.name, 0, 0) < 0) return -1;
  Cdx4Header h;
  cdx4headerInitTagOfTags(&h, i->blockSize, i->multiplier);
  h.root = block4fromOffset(i, cdx4headerSize);  // replaced by the build
  TAG4FILE* ti = index4tagNew(i, 0, h, base);
  if (ti == nullptr) return -1;
  ti->recordCount = index4tagOfTagsRecords;
  ti->recordCountData = i;
  int32_t k = 1;
  for (const TAG4INFO* def = tags; def->name != nullptr; def++, k++) {
    if (int32_t rc = addTag(i, d, *def, k); rc < 0) return rc;
    modes->push_back(def->unique);
  }
  return 0;
}

// Sets the production flag of the table's header and writes that byte,
// straight to the disk: held in the cache, a death or a full disk before
// the table's flush would leave a table that has lost its index. An index
// made in memory stands in for one the header names already: nothing is
// written.
int32_t markProduction(DATA4FILE* df, bool inMemory) {
  df->header.flags |= dbf4flagProductionIndex;
  df->productionIndexOpen = true;
  if (inMemory) return 0;
  const unsigned char flags = df->header.flags;
  if (file4writeThrough(&df->file, kProductionFlagOffset, &flags, 1) < 0)
    return error4describe(df->codeBase, e4write, kLocFlag, df->file.name, nullptr, nullptr);
  return 0;
}

// Gives back what a failed creation made; the new file is deleted.
void discard(INDEX4* index, INDEX4FILE* i) {
  CODE4* c = index->codeBase;
  const int32_t pending = error4set(c, 0);
  index4free(index);
  if (i != nullptr) {
    i->file.isTemp = true;
    indexfile4free(i, false);
  }
  error4set(c, pending);
}

INDEX4* create(DATA4* d, const char* name, const TAG4INFO* tags, bool inMemory) {
  if (d == nullptr || tags == nullptr) {
    error4(d != nullptr ? d->codeBase : nullptr, e4parmNull, index4locCreate);
    return nullptr;
  }
  if (!data4check(d, index4locCreate)) return nullptr;
  CODE4* c = d->codeBase;
  if (error4code(c) < 0) return nullptr;
  index4keyRoutinesReady();
  DATA4FILE* df = d->dataFile;
  char full[index4pathMax];
  if (index4fullName(full, sizeof full, df, name) < 0) return nullptr;
  const bool production = name == nullptr;
  if (production && !inMemory && df->file.accessMode != 1 && df->compatibility != 30) {
    error4(c, e4createIndex, index4locProductionShared);
    return nullptr;
  }
  if (datafile4index(df, full) != nullptr) {
    error4describe(c, e4name, index4locOpenAlready, full, nullptr, nullptr);
    return nullptr;
  }
  error4set(c, 0);
  if (data4lockFile(d, 0, lock4system) != 0) {
    error4(c, e4lock, index4locLock);
    return nullptr;
  }

  INDEX4* index = index4new(d, name, index4locCreate);
  if (index == nullptr) return nullptr;
  INDEX4FILE* i = indexfile4new(d, index4locCreate);
  if (i == nullptr) {
    discard(index, nullptr);
    return nullptr;
  }
  const int32_t created =
      inMemory ? file4memory(&i->file, c, full) : file4create(&i->file, c, full, 1);
  if (created != 0) {
    // Nothing of ours is on disk: a refused create leaves the file there.
    const int32_t code = error4code(c);
    index4free(index);
    indexfile4free(i, false);
    error4set(c, code);
    return nullptr;
  }
  index->indexFile = i;
  if (index4cacheJoin(i) < 0) {
    discard(index, i);
    return nullptr;
  }
  std::vector<int16_t> modes;
  if (indexfile4initNodes(i, c, static_cast<uint32_t>(c->indexBlockSize),
                          static_cast<uint32_t>(c->indexBlockMultiplier)) < 0 ||
      setUpTags(i, d, tags, &modes) < 0 ||
      index4attachTags(index, modes.data(), index4locCreate) < 0) {
    discard(index, i);
    return nullptr;
  }
  const int32_t built = index4reindex(index);
  if (built != 0) {
    error4set(c, built == r4locked ? static_cast<int32_t>(e4lock) : static_cast<int32_t>(r4unique));
    discard(index, i);
    return nullptr;
  }
  i->userCount = 1;
  i->isValid = true;
  list4add(&df->indexes, &i->link);
  df->indexCount++;
  list4add(&d->indexes, &index->link);
  index->isValid = true;
  if (production && markProduction(df, inMemory) < 0) {
    index4close(index);
    return nullptr;
  }
  if (inMemory) df->indexInMemory = true;
  return index;
}

}  // namespace

INDEX4* index4create(DATA4* d, const char* name, const TAG4INFO* tags) {
  return create(d, name, tags, false);
}

INDEX4* index4createInMemory(DATA4* d, const TAG4INFO* tags) {
  return create(d, nullptr, tags, true);
}
