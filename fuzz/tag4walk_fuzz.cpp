// Fuzz target over whole CDX files as tag walks read them: the input is
// the file. Each tag named by the tag of tags (up to eight) is walked from
// the top forward and from the bottom back, sought, and changed by a few
// adds and removes. Damage must end in an error; never a crash, a hang or
// a read outside a node.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/index/block4.h"
#include "engine/index/cdx4header.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4.h"
#include "engine/index/tag4file.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"

namespace {

constexpr int kTagsMax = 8;
constexpr int kStepsMax = 400;

// One temporary file (opened exclusively) holds each input in turn.
struct Setup {
  CODE4 c;
  INDEX4FILE index;
  Setup() {
    if (code4initLow(&c, nullptr, code4libraryVersion, code4structSize, 1) != 0) std::abort();
    if (file4tempLow(&index.file, &c, 1, 1, "cdx") != 0) std::abort();
  }
};

Setup& setup() {
  static Setup* s = [] {
    auto* made = new Setup;
    std::atexit([] {
      file4close(&setup().index.file);
      code4initUndo(&setup().c);
    });
    return made;
  }();
  return *s;
}

uint32_t countOf(void*) { return 100000; }

void exercise(CODE4* c, TAG4FILE* t, const uint8_t* data, size_t size) {
  const int length = tagfile4keyLength(t);
  int steps = 0;
  if (tagfile4top(t) == 0)
    while (steps++ < kStepsMax && tagfile4skip(t, 1) == 1) tagfile4key(t);
  error4set(c, 0);
  if (tagfile4bottom(t) == 0)
    while (steps++ < 2 * kStepsMax && tagfile4skip(t, -1) == -1) tagfile4recNo(t);
  error4set(c, 0);
  std::vector<unsigned char> key(static_cast<size_t>(length), ' ');
  TAG4 handle;
  handle.tagFile = t;
  for (size_t at = 0, round = 0; round < 6 && at < size; round++, at += 97) {
    std::memcpy(key.data(), data + at, std::min(key.size(), size - at));
    const uint32_t record = 1 + static_cast<uint32_t>(data[at] * 257 + round);
    tagfile4seek(t, key.data(), static_cast<int32_t>(round * 7 % (length + 1)));
    error4set(c, 0);
    tagfile4seekRecord(t, key.data(), record, 0);
    error4set(c, 0);
    handle.uniqueMode = round % 2 == 0 ? 0 : 25;
    if (round % 3 == 2) {
      tagfile4remove(t, key.data(), record);
    } else {
      tagfile4add(&handle, key.data(), record);
    }
    error4set(c, 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Setup& s = setup();
  CODE4* c = &s.c;
  error4set(c, 0);
  if (size < cdx4headerSize || size > (1u << 20)) return 0;
  INDEX4FILE& index = s.index;
  file4lenSetLow(&index.file, 0);
  if (file4write(&index.file, 0, data, static_cast<uint32_t>(size)) != 0) std::abort();

  Cdx4Header h;
  if (cdx4fileHeaderRead(c, data, &h, "fuzz.cdx") != 0) return 0;
  TAG4FILE tagIndex;
  std::vector<TAG4FILE> tags(kTagsMax);
  if (indexfile4initNodes(&index, c, cdx4headerBlockSize(h), cdx4headerMultiplier(h)) == 0 &&
      tagfile4init(&tagIndex, &index, 0, h, "") == 0) {
    index.versionSeen = index.versionWritten = h.version;
    tagIndex.recordCount = countOf;
    std::vector<std::pair<uint32_t, Cdx4Header>> found;
    int steps = 0;
    if (tagfile4top(&tagIndex) == 0) {
      while (!tagfile4eof(&tagIndex) && found.size() < kTagsMax && steps++ < kStepsMax) {
        const int64_t block = tagfile4recNo(&tagIndex);
        unsigned char header[cdx4headerSize];
        Cdx4Header th;
        if (block > 0 && cdx4tagHeaderBlockCheck(&index, static_cast<uint32_t>(block)) == 0 &&
            file4readAll(&index.file, block4toOffset(&index, static_cast<uint32_t>(block)), header,
                         sizeof header) == 0 &&
            cdx4tagHeaderRead(c, header, index.blockSize, &th, "fuzz.cdx") == 0)
          found.emplace_back(static_cast<uint32_t>(block), th);
        error4set(c, 0);
        if (tagfile4skip(&tagIndex, 1) != 1) break;
      }
    }
    error4set(c, 0);
    for (size_t i = 0; i < found.size(); i++) {
      TAG4FILE* t = &tags[i];
      if (tagfile4init(t, &index, found[i].first, found[i].second, "T") == 0) {
        t->recordCount = countOf;
        exercise(c, t, data, size);
      }
      error4set(c, 0);
      tagfile4release(t);
    }
    error4set(c, 0);
  }
  tagfile4release(&tagIndex);
  // The node pool's units follow the block size, which the next input may
  // change.
  indexfile4releaseNodes(&index);
  error4set(c, 0);
  return 0;
}
