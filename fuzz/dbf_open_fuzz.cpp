// Opens a table whose DBF file is the fuzzer's input: every damage must end
// in a refusal, never a crash or a hang.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/storage/code4.h"
#include "fuzz/fuzz_input.h"
#include "engine/storage/data4.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name = fuzz4writeInput("input.dbf", data, size);
  if (name.empty()) return 0;

  CODE4 c;
  code4initLow(&c, nullptr, 6502, 1611, 1);
  c.autoOpen = 0;
  for (int mode = 0; mode < 2; mode++) {
    c.accessMode = static_cast<int8_t>(mode);
    if (DATA4* d = data4open(&c, name.c_str())) {
      for (int i = 1; i <= data4numFields(d); i++) field4ptr(data4fieldJ(d, i));
      data4close(d);
    }
    c.errorCode = 0;
  }
  code4initUndo(&c);
  return 0;
}
