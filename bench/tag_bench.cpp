// Key maintenance as a catalogue append drives it: 100,000 records
// appended to a DBFILES-like table, each adding its key to four tags:
//   F_ID      16 bytes, numeric (a double key, zero padded), ascending ids
//   F_SUPPID  10 bytes, numeric, 50 supports of 2,000 files each
//   SUP_PAT   55 bytes, support and folder path, 20 files a folder, the
//             folders of a support in walk order
//   F_NAME    60 bytes, file names in no order
// Exclusive: the file opened exclusively, changes written at the end.
// Shared, locked per record: the index lock taken and released around each
// record's four adds, as a shared table's append does, so every record's
// changed nodes are written. One tag alone: each tag's share of the cost.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/index/cdx4header.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4.h"
#include "engine/index/tag4file.h"
#include "engine/index/tag4keytype.h"
#include "engine/storage/code4.h"

namespace {

constexpr uint32_t kRecords = 100000;

struct TagShape {
  const char* name;
  uint16_t keyLength;
  char type;
};
constexpr TagShape kShapes[] = {
    {"F_ID", 16, 'N'}, {"F_SUPPID", 10, 'N'}, {"SUP_PAT", 55, 'C'}, {"F_NAME", 60, 'C'}};
constexpr int kTags = 4;

// The 8-byte key of a number, high byte first, sign bit set for values
// from 0 up.
void numberKey(double value, unsigned char* key, int length) {
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  bits = value < 0 ? ~bits : bits | 1ull << 63;
  std::memset(key, 0, static_cast<size_t>(length));
  for (int i = 0; i < 8; i++) key[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
}

void textKey(const std::string& text, unsigned char* key, int length) {
  std::memset(key, ' ', static_cast<size_t>(length));
  std::memcpy(key, text.data(), std::min<size_t>(text.size(), static_cast<size_t>(length)));
}

// Every record's four keys, made before the clock runs.
std::vector<std::vector<unsigned char>> makeKeys() {
  std::vector<std::vector<unsigned char>> keys(kTags);
  for (int t = 0; t < kTags; t++)
    keys[t].resize(static_cast<size_t>(kRecords) * kShapes[t].keyLength);
  std::mt19937 random(7);
  std::vector<uint32_t> folderOrder(100);
  for (uint32_t r = 1; r <= kRecords; r++) {
    const uint32_t support = 1 + (r - 1) / 2000;
    const uint32_t folderInSupport = ((r - 1) % 2000) / 20;
    if ((r - 1) % 2000 == 0)
      for (uint32_t& f : folderOrder) f = random() % 100000;
    char supportText[6];
    std::snprintf(supportText, sizeof supportText, "%5u", support);
    const std::string path = std::string(supportText) + "/PHOTOS/" +
                             std::to_string(folderOrder[folderInSupport]) + "/ALBUM/";
    const std::string name = "IMG_" + std::to_string(random() % 1000000) + ".JPG";
    const size_t i = r - 1;
    numberKey(r, &keys[0][i * kShapes[0].keyLength], kShapes[0].keyLength);
    numberKey(support, &keys[1][i * kShapes[1].keyLength], kShapes[1].keyLength);
    textKey(path, &keys[2][i * kShapes[2].keyLength], kShapes[2].keyLength);
    textKey(name, &keys[3][i * kShapes[3].keyLength], kShapes[3].keyLength);
  }
  return keys;
}

const std::vector<std::vector<unsigned char>>& allKeys() {
  static const auto keys = makeKeys();
  return keys;
}

// A new CDX file with the four tags, each an empty root leaf.
struct Index {
  explicit Index(int8_t accessMode) {
    code4initLow(&c, nullptr, code4libraryVersion, code4structSize, 1);
    c.safety = 0;
    c.accessMode = accessMode;
    path = (std::filesystem::temp_directory_path() /
            ("tag_bench_" + std::to_string(getpid()) + ".cdx"))
               .string();
    file4create(&index.file, &c, path.c_str(), 1);
    const std::vector<unsigned char> headers(cdx4headerSize * (kTags + 1), 0);
    file4write(&index.file, 0, headers.data(), static_cast<uint32_t>(headers.size()));
    indexfile4initNodes(&index, &c, cdx4defaultBlockSize, cdx4defaultMultiplier);
    index4lock(&index, 1);
    Cdx4Header h;
    cdx4headerInitTagOfTags(&h, cdx4defaultBlockSize, cdx4defaultMultiplier);
    tagfile4init(&tagIndex, &index, 0, h, "");
    tagfile4rootCreate(&tagIndex);
    for (int t = 0; t < kTags; t++) {
      Cdx4Header th;
      th.keyLength = kShapes[t].keyLength;
      th.options = cdx4optionCompact | cdx4optionCompound;
      tagfile4init(&tags[t], &index, block4fromOffset(&index, cdx4headerSize * (t + 1)), th,
                   kShapes[t].name);
      tagfile4keyTypeSet(&tags[t], kShapes[t].type, tag4machineOrder);
      tags[t].recordCount = [](void* data) { return *static_cast<uint32_t*>(data); };
      tags[t].recordCountData = &records;
      tagfile4rootCreate(&tags[t]);
      handles[t].tagFile = &tags[t];
    }
    index4unlock(&index, 1);
  }
  ~Index() {
    index4unlock(&index, 0);
    index4updateHeader(&index);
    for (TAG4FILE& t : tags) tagfile4release(&t);
    tagfile4release(&tagIndex);
    indexfile4releaseNodes(&index);
    file4close(&index.file);
    std::filesystem::remove(path);
    code4initUndo(&c);
  }
  // Adds record r's keys to the tags from `first` to `last`.
  bool add(uint32_t r, int first, int last) {
    records = r;
    const auto& keys = allKeys();
    for (int t = first; t <= last; t++) {
      const unsigned char* key = &keys[t][static_cast<size_t>(r - 1) * kShapes[t].keyLength];
      if (tagfile4add(&handles[t], key, r) != 0) return false;
    }
    return true;
  }

  CODE4 c;
  std::string path;
  INDEX4FILE index;
  TAG4FILE tagIndex;
  TAG4FILE tags[kTags];
  TAG4 handles[kTags];
  uint32_t records = 0;
};

void run(benchmark::State& state, int8_t accessMode, bool lockPerRecord, int first, int last) {
  allKeys();
  for (auto _ : state) {
    state.PauseTiming();
    auto index = std::make_unique<Index>(accessMode);
    state.ResumeTiming();
    if (!lockPerRecord) index4lock(&index->index, 1);
    for (uint32_t r = 1; r <= kRecords; r++) {
      if (lockPerRecord) index4lock(&index->index, 1);
      if (!index->add(r, first, last)) {
        state.SkipWithError("an add failed");
        break;
      }
      if (lockPerRecord) index4unlock(&index->index, 1);
    }
    index4unlock(&index->index, 1);
    state.PauseTiming();
    index.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kRecords);
}

void BM_AppendFourTagsExclusive(benchmark::State& state) { run(state, 1, false, 0, kTags - 1); }
void BM_AppendFourTagsSharedLockedPerRecord(benchmark::State& state) {
  run(state, 0, true, 0, kTags - 1);
}
void BM_AppendOneTagExclusive(benchmark::State& state) {
  const int tag = static_cast<int>(state.range(0));
  state.SetLabel(kShapes[tag].name);
  run(state, 1, false, tag, tag);
}

BENCHMARK(BM_AppendFourTagsExclusive)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AppendFourTagsSharedLockedPerRecord)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AppendOneTagExclusive)->DenseRange(0, kTags - 1)->Unit(benchmark::kMillisecond);

}  // namespace
