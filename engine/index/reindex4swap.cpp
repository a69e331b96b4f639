// Putting a rebuilt index file in place of the old one.
//
// A rebuild writes a complete new file beside the index ("<index>.~NN",
// same folder, so that a rename stays on one file system; one a killed
// rebuild left goes at the next exclusive open). Only then is the old file
// given up:
// - opened exclusively, nobody else holds the file: the new one is renamed
//   over it, an atomic step, and opened again. Any failure before the
//   rename leaves the old file untouched; a crash leaves at most a stray
//   work file. The work file is synced before the rename and the folder
//   after it, so that a power cut leaves the old file or the whole new one.
// - shared, other processes hold the old file open and would never see a
//   renamed one: the new contents are copied over the old in place, under
//   the table's locks. The file header's root is zeroed first (an open
//   refuses such a file with -310) and written last, so a copy cut short
//   leaves a file that is known to be damaged rather than one that reads
//   wrong. The new version makes the other processes drop what they cached.
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "engine/index/reindex4internal.h"
#include "engine/index/tag4internal.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "engine/storage/filename4.h"
#include "engine/storage/system4.h"
#include "platform/os.h"

namespace {

constexpr int kWorkNames = 100;
constexpr uint32_t kCopyChunk = 65536;
constexpr uint32_t kRootBytes = 4;

int32_t refuse(INDEX4FILE* i, int32_t code) {
  return error4describe(i->codeBase, code, index4locSwap, i->file.name, nullptr, nullptr);
}

int32_t renameOver(INDEX4FILE* i, FILE4* work) {
  CODE4* c = i->codeBase;
  const std::string workName = work->name;
  const std::string indexName = i->file.name;
  work->isTemp = false;
  // After a failed sync (of the work file's close among them) the folder
  // stays as it is: the work file is left for the next exclusive open.
  if (int32_t rc = file4close(work); rc < 0) {
    if (!code4writesEnded(c)) file4remove(workName.c_str());
    return rc;
  }
  if (code4writesEnded(c)) return refuse(i, e4write);
  if (const int renamed = platform::os().renameFile(workName.c_str(), indexName.c_str());
      renamed != 0) {
    code4diskFailed(c, Disk4Call::kRename, -renamed, indexName.c_str());
    file4remove(workName.c_str());
    return refuse(i, e4write);
  }
  // Until the folder is synced a power cut may bring the old file back,
  // which is harmless: it still carries the mark that had it rebuilt.
  int32_t rc = file4syncFolderOf(c, indexName.c_str());
  // The old file is gone from the folder; its descriptor still names it.
  if (const int32_t closed = file4close(&i->file); rc == 0) rc = closed;
  const int8_t savedAccess = c->accessMode;
  const int32_t savedReadOnly = c->readOnly;
  c->accessMode = 1;
  c->readOnly = 0;
  const int32_t opened = file4open(&i->file, c, indexName.c_str(), 1);
  c->accessMode = savedAccess;
  c->readOnly = savedReadOnly;
  if (opened != 0) return opened < 0 ? opened : refuse(i, e4open);
  if (const int32_t joined = index4cacheJoin(i); joined < 0 && rc == 0) rc = joined;
  return rc;
}

int32_t copyOver(INDEX4FILE* i, FILE4* work) {
  const uint64_t length = file4lenLow(work);
  if (length == UINT64_MAX || length < cdx4headerSize) return refuse(i, e4index);
  unsigned char root[kRootBytes] = {};
  int32_t rc = file4write(&i->file, 0, root, sizeof root);
  if (rc == 0) rc = file4flush(&i->file);
  std::unique_ptr<unsigned char[]> chunk(new (std::nothrow) unsigned char[kCopyChunk]);
  if (rc == 0 && chunk == nullptr) rc = error4(i->codeBase, e4memory, index4locSwap);
  for (uint64_t at = kRootBytes; rc == 0 && at < length;) {
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(kCopyChunk, length - at));
    rc = file4readAll(work, at, chunk.get(), n);
    if (rc == 0) rc = file4write(&i->file, at, chunk.get(), n);
    at += n;
  }
  if (rc == 0) rc = file4lenSetLow(&i->file, length);
  if (rc == 0) rc = file4flush(&i->file);
  if (rc == 0) rc = file4readAll(work, 0, root, sizeof root);
  if (rc == 0) rc = file4write(&i->file, 0, root, sizeof root);
  if (rc == 0) rc = file4flush(&i->file);
  const int32_t closed = file4close(work);
  return rc < 0 ? rc : closed;
}

// "<index>.~NN": the name of a work file of `index`, NN two digits.
bool isWorkFileOf(const std::string& name, const std::string& index) {
  const size_t n = index.size();
  return name.size() == n + 4 && name.compare(0, n, index) == 0 && name.compare(n, 2, ".~") == 0 &&
         name[n + 2] >= '0' && name[n + 2] <= '9' && name[n + 3] >= '0' && name[n + 3] <= '9';
}

}  // namespace

void reindex4removeStale(INDEX4FILE* i) {
  if (!index4exclusive(i) || i->file.isReadOnly || i->file.name == nullptr) return;
  if (code4writesEnded(i->codeBase)) return;
  char folder[index4pathMax];
  if (filename4path(folder, sizeof folder, i->file.name) < 0) return;
  const std::string index = i->file.name + std::strlen(folder);
  for (const std::string& name : platform::os().listFolder(folder)) {
    if (!isWorkFileOf(name, index)) continue;
    // One left where it is harms nothing; the failure is noted all the same.
    const std::string path = std::string(folder) + name;
    if (const int removed = platform::os().removeFile(path.c_str()); removed != 0)
      code4diskFailed(i->codeBase, Disk4Call::kRemove, -removed, path.c_str());
  }
}

int32_t reindex4workFile(INDEX4FILE* i, FILE4* work) {
  CODE4* c = i->codeBase;
  const int8_t savedSafety = c->safety;
  const int32_t savedErrCreate = c->errCreate;
  const int8_t savedAccess = c->accessMode;
  const int32_t savedTemp = c->createTemp;
  c->safety = 1;
  c->errCreate = 0;
  c->accessMode = 1;
  c->createTemp = 0;
  int32_t rc = r4noCreate;
  for (int n = 0; n < kWorkNames && rc == r4noCreate; n++) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, ".~%02d", n);
    const std::string name = std::string(i->file.name) + suffix;
    rc = file4create(work, c, name.c_str(), 1);
    if (rc == r4noCreate) error4set(c, 0);
  }
  c->safety = savedSafety;
  c->errCreate = savedErrCreate;
  c->accessMode = savedAccess;
  c->createTemp = static_cast<int32_t>(savedTemp);
  if (rc == r4noCreate) return refuse(i, e4create);
  if (rc < 0) return rc;
  work->isTemp = true;
  return 0;
}

int32_t reindex4replace(INDEX4FILE* i, FILE4* work) {
  if (int32_t rc = file4flush(work); rc < 0) return rc;
  return index4exclusive(i) ? renameOver(i, work) : copyOver(i, work);
}

int32_t reindex4replaceWithMemory(INDEX4FILE* i, FILE4* work) {
  if (int32_t rc = file4flush(work); rc < 0) return rc;
  // The old file keeps its mark: whoever can write it rebuilds it there.
  const int32_t closed = file4close(&i->file);
  static_cast<File4Fields&>(i->file) = static_cast<File4Fields&>(*work);
  static_cast<File4Fields&>(*work) = File4Fields{};
  const int32_t joined = index4cacheJoin(i);
  return closed < 0 ? closed : joined;
}

int32_t reindex4adopt(INDEX4FILE* i, const Reindex4Result& r) {
  size_t k = 0;
  for (LINK4* link = list4first(&i->tags); link != nullptr && k < r.roots.size();
       link = list4next(&i->tags, link), k++) {
    TAG4FILE* t = index4tagOf(link);
    tag4cacheDiscard(t);
    t->headerBlock = r.headerBlocks[k];
    if (int32_t rc = index4tagKeyLengthSet(t, r.keyLengths[k]); rc < 0) return rc;
    t->header.root = r.roots[k];
    t->header.freeList = 0;
    t->header.version = r.version;
    t->rootChanged = false;
    // The new headers hold no filter marker: nothing is to be written.
    t->filterMarked = true;
  }
  TAG4FILE* ti = i->tagIndex;
  if (ti != nullptr && (ti->header.options & cdx4optionCompound) != 0) {
    tag4cacheDiscard(ti);
    ti->header.root = r.tagOfTagsRoot;
    ti->rootChanged = false;
  }
  if (ti != nullptr) {
    ti->header.freeList = 0;
    ti->header.version = r.version;
  }
  i->versionSeen = i->versionWritten = r.version;
  // The new file header carries no change mark.
  i->interrupted = i->changeMarked = i->leftWithoutRoom = false;
  return index4eofTake(i);
}
