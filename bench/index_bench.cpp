// Hot paths of the CDX nodes: inserting into a leaf (at random places and
// appended), seeking within a leaf and a branch, and expanding leaf keys
// (in order, as a skip does, and at random).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/index/block4.h"
#include "engine/index/cdx4header.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4file.h"
#include "engine/storage/code4.h"

namespace {

constexpr int kKeyLength = 10;

struct Nodes {
  Nodes() {
    code4initLow(&c, nullptr, code4libraryVersion, code4structSize, 1);
    file4tempLow(&index.file, &c, 1, 1, "cdx");
    const std::vector<unsigned char> zeros(4096, 0);
    file4write(&index.file, 0, zeros.data(), 4096);
    indexfile4initNodes(&index, &c, 512, 1);
    Cdx4Header h;
    h.keyLength = kKeyLength;
    h.options = cdx4optionCompact | cdx4optionCompound;
    tagfile4initNodes(&tag, &index, 2, h);
    node = block4alloc(&tag, 1024);
  }
  ~Nodes() {
    block4free(node);
    tagfile4releaseNodes(&tag);
    indexfile4releaseNodes(&index);
    file4close(&index.file);
    code4initUndo(&c);
  }
  void emptyLeaf() {
    block4attributeSet(node, block4attrRootLeaf);
    block4leafInit(node);
  }
  // File names as a catalogue holds them: shared prefixes, blank padded.
  static std::vector<std::string> keys(int count, bool sorted) {
    std::mt19937 random(42);
    std::vector<std::string> out;
    for (int i = 0; i < count; i++) {
      std::string key = "IMG_" + std::to_string(random() % 100000);
      key.resize(kKeyLength, ' ');
      out.push_back(key);
    }
    if (sorted) std::sort(out.begin(), out.end());
    return out;
  }
  // Fills the leaf in key order; the number of keys it took.
  int fill(const std::vector<std::string>& keys) {
    emptyLeaf();
    int placed = 0;
    for (const std::string& key : keys) {
      block4seek(node, key.data(), kKeyLength);
      if (block4insertLeaf(node, key.data(), static_cast<uint32_t>(placed + 1)) != 0) break;
      placed++;
    }
    return placed;
  }
  CODE4 c;
  INDEX4FILE index;
  TAG4FILE tag;
  BLOCK4* node = nullptr;
};

void BM_LeafInsertRandom(benchmark::State& state) {
  Nodes n;
  const std::vector<std::string> keys = Nodes::keys(200, false);
  int64_t inserted = 0;
  for (auto _ : state) inserted += n.fill(keys);
  state.SetItemsProcessed(inserted);
}
BENCHMARK(BM_LeafInsertRandom);

void BM_LeafInsertAppend(benchmark::State& state) {
  Nodes n;
  const std::vector<std::string> keys = Nodes::keys(200, true);
  int64_t inserted = 0;
  for (auto _ : state) {
    n.emptyLeaf();
    for (const std::string& key : keys) {
      block4goEof(n.node);
      if (block4insertLeaf(n.node, key.data(), static_cast<uint32_t>(inserted + 1)) != 0) break;
      inserted++;
    }
  }
  state.SetItemsProcessed(inserted);
}
BENCHMARK(BM_LeafInsertAppend);

void BM_LeafSeek(benchmark::State& state) {
  Nodes n;
  const int count = n.fill(Nodes::keys(200, false));
  const std::vector<std::string> probes = Nodes::keys(256, false);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(block4seek(n.node, probes[i++ % probes.size()].data(), kKeyLength));
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["keys"] = count;
}
BENCHMARK(BM_LeafSeek);

void BM_KeyExpandInOrder(benchmark::State& state) {
  Nodes n;
  const int count = n.fill(Nodes::keys(200, false));
  for (auto _ : state) {
    n.node->builtOn = -1;
    for (int i = 0; i < count; i++) benchmark::DoNotOptimize(block4key(n.node, i));
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_KeyExpandInOrder);

void BM_KeyExpandRandom(benchmark::State& state) {
  Nodes n;
  const int count = n.fill(Nodes::keys(200, false));
  std::mt19937 random(1);
  for (auto _ : state)
    benchmark::DoNotOptimize(block4key(n.node, static_cast<int>(random() % count)));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_KeyExpandRandom);

void BM_BranchSeek(benchmark::State& state) {
  Nodes n;
  block4attributeSet(n.node, block4attrRootBranch);
  const std::vector<std::string> keys = Nodes::keys(27, true);
  for (size_t i = 0; i < keys.size(); i++) {
    block4goEof(n.node);
    block4insertBranch(n.node, keys[i].data(), static_cast<uint32_t>(i + 1), 1536, block4childHere,
                       nullptr);
  }
  const std::vector<std::string> probes = Nodes::keys(256, false);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(block4seek(n.node, probes[i++ % probes.size()].data(), kKeyLength));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BranchSeek);

}  // namespace
