// Hot paths of the storage core's foundations: pool units taken and given
// back (every data handle, lock holder, node buffer and worker request) and
// list links added and removed.
#include <benchmark/benchmark.h>

#include <vector>

#include "engine/storage/code4.h"
#include "engine/storage/list4.h"
#include "engine/storage/memory4.h"

namespace {

struct Engine {
  Engine() { code4initLow(&c, nullptr, 6502, 1611, 1); }
  ~Engine() { code4initUndo(&c); }
  CODE4 c;
};

void BM_PoolAllocFree(benchmark::State& state) {
  Engine engine;
  MEMORY4* pool = memory4create(&engine.c, 64, 96, 64, false);
  for (auto _ : state) {
    void* unit = memory4allocDefault(pool, &engine.c, false);
    benchmark::DoNotOptimize(unit);
    memory4free(pool, unit);
  }
  memory4release(pool);
}
BENCHMARK(BM_PoolAllocFree);

// Units held in bulk: each list operation must stay constant time however
// many units are out.
void BM_PoolAllocFreeMany(benchmark::State& state) {
  Engine engine;
  MEMORY4* pool = memory4create(&engine.c, 1024, 96, 1024, false);
  std::vector<void*> units(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    for (auto& unit : units) unit = memory4alloc(pool, false);
    for (auto* unit : units) memory4free(pool, unit);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  memory4release(pool);
}
BENCHMARK(BM_PoolAllocFreeMany)->Arg(1000)->Arg(100000);

void BM_ListAddRemove(benchmark::State& state) {
  std::vector<LINK4> links(static_cast<size_t>(state.range(0)));
  LIST4 list;
  for (auto _ : state) {
    for (auto& link : links) list4add(&list, &link);
    while (list4pop(&list) != nullptr) {
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ListAddRemove)->Arg(1000)->Arg(100000);

}  // namespace
