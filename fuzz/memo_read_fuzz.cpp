// Reads and writes memo values in an FPT file that is the fuzzer's input:
// every damage must end in a refusal, never a crash or a hang.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/storage/code4.h"
#include "fuzz/fuzz_input.h"
#include "engine/storage/data4.h"
#include "engine/storage/memo4file.h"
#include "engine/storage/memory4.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name = fuzz4writeInput("input.fpt", data, size);
  if (name.empty()) return 0;

  CODE4 c;
  code4initLow(&c, nullptr, 6502, 1611, 1);
  DATA4FILE owner;
  owner.codeBase = &c;
  MEMO4FILE memo;
  if (memo4fileOpen(&memo, &owner, name.c_str()) == 0) {
    char* buffer = nullptr;
    uint32_t capacity = 0;
    for (int64_t block = 0; block < 8; block++) {
      uint32_t length = 0;
      memo4fileRead(&memo, block, &buffer, &capacity, &length, 0, UINT32_MAX, nullptr);
      c.errorCode = 0;
    }
    int64_t block = 1;
    memo4fileWrite(&memo, &block, "value", 5);
    c.errorCode = 0;
    memory4freeBlock(buffer);
  }
  file4close(&memo.file);
  c.errorCode = 0;
  code4initUndo(&c);
  return 0;
}
