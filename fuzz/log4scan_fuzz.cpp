// Checks and walks a transaction log that is the fuzzer's input: the
// validator, the scan both ways over whatever lies between the ends, and a
// user's whole stay in the log (open with its user entry, a transaction
// that looks up its id from the log's end and rolls back, close). Every
// damage must end in a refusal, never a crash or a hang.
#include <cstdint>
#include <string>

#include "engine/storage/code4.h"
#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"
#include "engine/storage/file4.h"
#include "engine/storage/log4file.h"
#include "engine/storage/tran4.h"
#include "fuzz/fuzz_input.h"

namespace {

// Each step moves at least one entry (36 bytes), so a walk ends long
// before this on inputs of the sizes the fuzzer makes; the bound turns a
// scan that fails to progress into a plain stop rather than a hang.
constexpr int kMaxSteps = 10000;

// Walks from the last entry back to the first, and on its own from the
// first entry (found through the length word at offset 0) to the end.
void walk(CODE4* c, FILE4* file) {
  Log4Scan scan;
  scan.file = file;
  int32_t rc = log4scanLast(&scan);
  c->errorCode = 0;
  for (int steps = 0; rc == 0 && steps < kMaxSteps; steps++) {
    const int64_t before = scan.position;
    rc = log4scanBack(&scan);
    c->errorCode = 0;
    if (rc == 0 && scan.position >= before) __builtin_trap();  // a back step must go back
  }

  unsigned char bytes[log4lengthSize];
  if (file4readAll(file, 0, bytes, sizeof bytes) < 0) {
    c->errorCode = 0;
    return;
  }
  const uint32_t first = endian4::readLe32(bytes);
  if (first < log4overhead) return;
  rc = log4scanRead(&scan, uint64_t{first} - log4headerSize);
  c->errorCode = 0;
  for (int steps = 0; rc == 0 && steps < kMaxSteps; steps++) {
    const int64_t before = scan.position;
    rc = log4scanForward(&scan);
    c->errorCode = 0;
    if (rc == 0 && scan.position <= before) __builtin_trap();  // a forward step must advance
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name = fuzz4writeInput("input.log", data, size);
  if (name.empty()) return 0;

  CODE4 c;
  code4initLow(&c, nullptr, 6502, 1611, 1);
  c.errOpen = 0;

  // The scan reads logs that passed the checks, but nothing between the
  // ends is checked, so it also walks the file when the checks refuse it.
  LOG4FILE log;
  if (log4fileOpen(&log, &c, name.c_str()) == 0) {
    walk(&c, &log.file);
    log4fileClose(&log);
  } else {
    c.errorCode = 0;
    FILE4 raw;
    if (file4open(&raw, &c, name.c_str(), 1) == 0) {
      walk(&c, &raw);
      file4close(&raw);
    }
  }
  c.errorCode = 0;

  if (code4logOpen(&c, name.c_str(), "FUZZ") == 0 && c.transaction.enabled) {
    if (code4transactionStart(&c) == 0) code4transactionRollback(&c);
    c.errorCode = 0;
  }
  c.errorCode = 0;
  code4logClose(&c);
  c.errorCode = 0;
  code4initUndo(&c);
  return 0;
}
