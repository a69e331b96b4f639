// What the transaction log costs a shared table with two tags: record
// writes and appends that are each a transaction of their own (start,
// change, commit phase one and phase two, each phase flushed to disk)
// against the same work with no log, a transaction of 1000 updates, and
// the rollback of one.
//
// Every run works in a fresh folder of its own: the log is found as C4.log
// in the current folder when the table opens, and the runs "without log"
// use a folder that has none.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4log.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/endian4.h"
#include "engine/storage/field4value.h"
#include "engine/storage/log4entry.h"
#include "engine/storage/tran4.h"

namespace {

constexpr int kRecords = 2000;
constexpr int kTransactionUpdates = 1000;

const FIELD4INFO kFields[] = {{"NAME", 'C', 20, 0, 0},
                              {"AMOUNT", 'N', 10, 0, 0},
                              {"CITY", 'C', 15, 0, 0},
                              {nullptr, 0, 0, 0, 0}};
const TAG4INFO kTags[] = {{"NAME", "UPPER(NAME)", nullptr, 0, 0},
                          {"AMOUNT", "AMOUNT", nullptr, 0, 0},
                          {nullptr, nullptr, nullptr, 0, 0}};

// The smallest valid log: two empty clean-end entries.
void writeEmptyLog(const char* name) {
  unsigned char bytes[log4minimumLength] = {};
  for (uint32_t at = 0; at < log4minimumLength; at += log4overhead) {
    endian4::writeLe32(bytes + at, log4overhead);
    Log4Header h;
    h.type = log4typeCleanEnd;
    h.dataId2 = log4cleanEndMarker;
    log4encodeHeader(h, bytes + at + log4lengthSize);
  }
  FILE* out = std::fopen(name, "wb");
  if (out == nullptr) std::abort();
  const bool written = std::fwrite(bytes, 1, sizeof bytes, out) == sizeof bytes;
  if (std::fclose(out) != 0 || !written) std::abort();
}

// A table of kRecords records opened shared in a fresh current folder,
// with the log in it or not. The handle is opened after the log mode is
// set, since it takes the mode when it opens.
class Shared {
 public:
  Shared(benchmark::State& state, bool withLog) : state_(state) {
    char pattern[] = "/tmp/log-bench-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr || getcwd(previous_, sizeof previous_) == nullptr || chdir(made) != 0)
      std::abort();
    folder_ = made;
    code4initLow(&c, nullptr, 6502, 1611, 1);
    c.singleOpen = 0;
    c.accessMode = 0;
    c.safety = 0;
    c.logMode = log4modeAuto;
    // The records go in before the log exists, so that filling takes no
    // transactions and no flushes.
    d = data4create(&c, "LEDGER", kFields, kTags);
    if (d == nullptr) {
      fail("data4create");
      return;
    }
    for (int r = 1; r <= kRecords; r++) {
      if (append(r) != 0) return;
    }
    if (data4recCount(d) != kRecords) {
      fail("filling");
      return;
    }
    data4close(d);
    if (withLog) writeEmptyLog(log4defaultName);
    d = data4open(&c, "LEDGER");
    if (d == nullptr) {
      fail("data4open");
      return;
    }
    if (withLog != (c.transaction.enabled != 0)) fail("opening the log");
  }
  ~Shared() {
    if (d != nullptr) data4close(d);
    code4initUndo(&c);
    if (chdir(previous_) != 0) std::abort();
    std::system(("rm -rf " + folder_).c_str());
  }
  Shared(const Shared&) = delete;
  Shared& operator=(const Shared&) = delete;

  bool ok() const { return d != nullptr && !failed_; }

  int32_t append(int n) {
    if (data4appendStart(d, 0) != 0) return fail("data4appendStart");
    data4blank(d);
    field4assign(data4field(d, "NAME"), ("name " + std::to_string(n * 7919 % 10007)).c_str());
    field4assignLong(data4field(d, "AMOUNT"), n);
    field4assign(data4field(d, "CITY"), "Springfield");
    return data4append(d) == 0 ? 0 : fail("data4append");
  }
  // Changes a tagged field of record `r`; the write happens when the handle
  // moves on or is flushed.
  int32_t change(int r, int32_t amount) {
    if (data4go(d, r) != 0) return fail("data4go");
    return field4assignLong(data4field(d, "AMOUNT"), amount) < 0 ? fail("field4assignLong") : 0;
  }
  int32_t flush() { return data4flush(d) == 0 ? 0 : fail("data4flush"); }

  int32_t fail(const char* what) {
    if (!failed_) {
      const std::string error = std::string(what) + " failed: error " +
                                std::to_string(c.errorCode.load()) + " at " +
                                std::to_string(c.errorLocation.load());
      state_.SkipWithError(error.c_str());
    }
    failed_ = true;
    return -1;
  }

  CODE4 c;
  DATA4* d = nullptr;

 private:
  benchmark::State& state_;
  std::string folder_;
  char previous_[4096] = {};
  bool failed_ = false;
};

// One record changed and flushed per iteration; with the log each one is a
// transaction of its own.
void BM_RecordWrite(benchmark::State& state) {
  Shared table(state, state.range(0) != 0);
  if (!table.ok()) return;
  int r = 0;
  for (auto _ : state) {
    r = r % kRecords + 1;
    if (table.change(r, -r) != 0 || table.flush() != 0) break;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RecordWrite)
    ->ArgName("log")
    ->Arg(0)
    ->Arg(1)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

void BM_Append(benchmark::State& state) {
  Shared table(state, state.range(0) != 0);
  if (!table.ok()) return;
  int n = kRecords;
  for (auto _ : state) {
    if (table.append(++n) != 0) break;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Append)->ArgName("log")->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMicrosecond);

// 1000 records changed one after the other: with the log inside one
// explicit transaction, without it as plain writes, for comparison.
void BM_ThousandUpdates(benchmark::State& state) {
  const bool withLog = state.range(0) != 0;
  Shared table(state, withLog);
  if (!table.ok()) return;
  int32_t round = 0;
  for (auto _ : state) {
    round++;
    if (withLog && code4transactionStart(&table.c) != 0) {
      table.fail("code4transactionStart");
      break;
    }
    bool ok = true;
    for (int r = 1; ok && r <= kTransactionUpdates; r++)
      ok = table.change(r, round * 10000 + r) == 0;
    if (!ok || table.flush() != 0) break;
    if (withLog && code4transactionCommit(&table.c) != 0) {
      table.fail("code4transactionCommit");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kTransactionUpdates);
}
BENCHMARK(BM_ThousandUpdates)
    ->ArgName("log")
    ->Arg(0)
    ->Arg(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Only the rollback is timed: the 1000 updates it undoes are made with the
// clock stopped.
void BM_RollbackThousandUpdates(benchmark::State& state) {
  Shared table(state, true);
  if (!table.ok()) return;
  int32_t round = 0;
  for (auto _ : state) {
    round++;
    if (code4transactionStart(&table.c) != 0) {
      table.fail("code4transactionStart");
      break;
    }
    bool ok = true;
    for (int r = 1; ok && r <= kTransactionUpdates; r++)
      ok = table.change(r, round * 10000 + r) == 0;
    if (!ok || table.flush() != 0) break;
    const auto start = std::chrono::steady_clock::now();
    if (code4transactionRollback(&table.c) != 0) {
      table.fail("code4transactionRollback");
      break;
    }
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  // A rollback that left the changes in place would make the figure meaningless.
  if (table.ok() && (data4go(table.d, kTransactionUpdates) != 0 ||
                     field4long(data4field(table.d, "AMOUNT")) != kTransactionUpdates))
    table.fail("undoing the updates");
  state.SetItemsProcessed(state.iterations() * kTransactionUpdates);
}
BENCHMARK(BM_RollbackThousandUpdates)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

}  // namespace
