// Parses the fuzzer's input as an expression against a table holding a
// field of every type, as a plain expression and as a tag expression, with
// and without errors reported: every text must end in an EXPR4 or a
// refusal, never a crash, a hang or a leak.
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/index/expr4.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4create.h"
#include "engine/storage/error4.h"

namespace {

const FIELD4INFO kFields[] = {
    {"C", 'C', 10, 0, 0},   {"Z", 'Z', 6, 0, 0},
    {"N", 'N', 5, 0, 0},    {"F", 'F', 8, 2, 0},
    {"D", 'D', 8, 0, 0},    {"L", 'L', 1, 0, 0},
    {"M", 'M', 4, 0, 0},    {"MN", 'M', 4, 0, 190},
    {"G", 'G', 4, 0, 0},    {"X", 'X', 4, 0, 0},
    {"B", 'B', 8, 2, 0},    {"T", 'T', 8, 0, 0},
    {"Y", 'Y', 8, 4, 0},    {"I", 'I', 4, 0, 0},
    {"P", 'P', 4, 0, 0},    {"Q", 'Q', 2, 0, 0},
    {"R", 'R', 2, 0, 0},    {"I8", '1', 8, 0, 0},
    {"DP", '2', 6, 0, 0},   {"TP", '3', 6, 0, 0},
    {"DTP", '4', 16, 0, 0}, {"W", 'W', 20, 0, 0},
    {"O", 'O', 18, 0, 0},   {"S5", '5', 8, 0, 0},
    {"V", 'V', 16, 0, 0},   {"LONGNAME_X", 'C', 300, 0, 0},
    {nullptr, 0, 0, 0, 0},
};

struct Fixture {
  CODE4 c;
  DATA4* every = nullptr;
  DATA4* other = nullptr;  // a second open table, for aliases

  // The tables are named by full path: the fuzzer keeps its own working
  // folder for the inputs it saves.
  Fixture() {
    char pattern[] = "/tmp/fuzz-expr-XXXXXX";
    const char* folder = mkdtemp(pattern);
    if (folder == nullptr) std::abort();
    code4initLow(&c, nullptr, 6502, 1611, 1);
    c.safety = 0;
    c.compatibility = 30;
    every = data4create(&c, (std::string(folder) + "/every").c_str(), kFields, nullptr);
    const FIELD4INFO small[] = {{"C", 'C', 4, 0, 0}, {"K", 'N', 10, 0, 0}, {nullptr, 0, 0, 0, 0}};
    other = data4create(&c, (std::string(folder) + "/other").c_str(), small, nullptr);
    if (every == nullptr || other == nullptr) std::abort();
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Fixture& f = fixture();
  const std::string text(reinterpret_cast<const char*>(data), size);
  char tagStandIn = 0;
  auto* tag = reinterpret_cast<TAG4FILE*>(&tagStandIn);
  for (int pass = 0; pass < 4; pass++) {
    f.c.errExpr = pass & 1;
    EXPR4* e = expr4parseLow(f.every, text.c_str(), (pass & 2) ? tag : nullptr);
    if (e != nullptr) {
      // Every step must stand inside the work area and the constants.
      for (int i = 0; i < e->stepCount; i++) {
        const EXPR4INFO& s = e->steps[i];
        if (s.len < 0 || s.resultPos < 0 || s.resultPos + s.len > e->workLen) std::abort();
        if (s.entryCount < 1 || s.entryCount > i + 1) std::abort();
      }
      if (e->len < 0 || e->workLen < e->len) std::abort();
    }
    expr4free(e);
    error4set(&f.c, 0);
  }
  return 0;
}
