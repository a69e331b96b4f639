// Appending files to the catalogue allocates nothing per record once its
// tables, caches and pools have grown to their working size.
//
// This program counts every allocation of the process: with a sanitizer
// through its allocator hooks, otherwise by standing in front of the C
// library's allocator (operator new reaches malloc too).
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "catalog/Udbwrapper.h"
#include "engine/storage/code4.h"
#include "tests/support/error_recorder.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ALLOCATION_HOOKS 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ALLOCATION_HOOKS 1
#endif

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void counted() {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

#ifdef ALLOCATION_HOOKS
#include <sanitizer/allocator_interface.h>

namespace {
void onMalloc(const volatile void*, size_t) { counted(); }
void onFree(const volatile void*) {}
[[maybe_unused]] const int installed = __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
}  // namespace
#else
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);

void* malloc(size_t size) {
  counted();
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
  counted();
  return __libc_calloc(count, size);
}
void* realloc(void* block, size_t size) {
  counted();
  return __libc_realloc(block, size);
}
}
#endif

namespace {

TFileEntry scannedFile(int n) {
  TFileEntry e;
  e.name = "f" + std::to_string(n) + ".dat";
  e.extension = ".dat";
  e.directory = "\\d" + std::to_string(n / 300) + "\\";
  e.attributes = 32;
  e.size = 1000 + n;
  e.date = 45000.5;
  return e;
}

TEST(AppendAllocation, AFileAddedToAWarmCatalogueAllocatesNothing) {
  testing_support::ErrorRecorder recorder{true};
  CODE4 c;
  ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0);
  std::filesystem::create_directory("data");
  {
    TDBWrapper db(c, "data");
    TVolumeInfo volume;
    volume.volumeName = "WARM";
    volume.cdRom = true;
    const int32_t support = db.AddScannedSupport("warm", "", 0, 4000, volume);
    ASSERT_GT(support, 0);
    constexpr int kWarmUp = 2000;
    constexpr int kCounted = 2000;
    std::vector<TFileEntry> files;
    for (int n = 0; n < kWarmUp + kCounted; n++) files.push_back(scannedFile(n));
    for (int n = 0; n < kWarmUp; n++) ASSERT_GT(db.AddScannedFile(support, files[n], nullptr), 0);

    counting = true;
    for (int n = kWarmUp; n < kWarmUp + kCounted; n++)
      if (db.AddScannedFile(support, files[n], nullptr) <= 0) break;
    counting = false;
    // A node split now and then takes a unit from a pool that may grow.
    EXPECT_LT(allocations.load(), kCounted / 20);
    db.FlushAll();
    EXPECT_EQ(db.GetSupportCount(), 1);
  }
  code4initUndo(&c);
}

}  // namespace
