// Parses the fuzzer's input as an expression over a table holding a field
// of every type and evaluates it on a record: as a plain expression, and
// as a tag expression building keys in machine order and under the
// GENERAL collation.
//
// Input: the expression text, optionally followed by a newline and bytes
// that overwrite the record from its start (damaged numbers, dates, null
// flags and memo block numbers). Every input must end in a result or a
// refusal, never a crash, a hang or a leak, and:
//   - a result is as long as the expression says;
//   - an evaluation never changes the record it reads;
//   - a key is as long as expr4keyLen says, and ends in a zero byte.
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/index/expr4.h"
#include "engine/index/tag4file.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4value.h"
#include "engine/storage/memo4field.h"

namespace {

const FIELD4INFO kFields[] = {
    {"C", 'C', 10, 0, 0},
    {"CN", 'C', 6, 0, field4nullable},
    {"N", 'N', 5, 0, 0},
    {"NN", 'N', 8, 2, field4nullable},
    {"F", 'F', 8, 2, 0},
    {"D", 'D', 8, 0, 0},
    {"L", 'L', 1, 0, 0},
    {"M", 'M', 4, 0, 0},
    {"MN", 'M', 4, 0, field4nullable},
    {"G", 'G', 4, 0, 0},
    {"B", 'B', 8, 2, 0},
    {"T", 'T', 8, 0, 0},
    {"Y", 'Y', 8, 4, 0},
    {"I", 'I', 4, 0, 0},
    {"P", 'P', 4, 0, 0},
    {"Q", 'Q', 2, 0, 0},
    {"R", 'R', 2, 0, 0},
    {"I8", '1', 8, 0, 0},
    {"DP", '2', 6, 0, 0},
    {"TP", '3', 6, 0, 0},
    {"DTP", '4', 16, 0, 0},
    {"W", 'W', 20, 0, 0},
    {"O", 'O', 18, 0, 0},
    {nullptr, 0, 0, 0, 0},
};

void fail() { std::abort(); }

struct Fixture {
  CODE4 c;
  DATA4* every = nullptr;
  TAG4FILE machine;
  TAG4FILE general;
  std::vector<char> base;  // the record as appended

  // The table is named by full path: the fuzzer keeps its own working
  // folder for the inputs it saves.
  Fixture() {
    char pattern[] = "/tmp/fuzz-eval-XXXXXX";
    const char* folder = mkdtemp(pattern);
    if (folder == nullptr) fail();
    code4initLow(&c, nullptr, 6502, 1611, 1);
    c.safety = 0;
    c.compatibility = 30;
    every = data4create(&c, (std::string(folder) + "/every").c_str(), kFields, nullptr);
    if (every == nullptr) fail();
    std::memcpy(general.header.collation, "GENERAL", 7);
    if (data4appendStart(every, 0) != 0 || data4blank(every) != 0) fail();
    const char* texts[][2] = {{"C", "Hello w"}, {"CN", "abc"},     {"N", "-12"}, {"NN", "3.25"},
                              {"F", "1e3"},     {"D", "20240131"}, {"L", "T"},   {"Y", "12.3456"}};
    for (const auto& t : texts) field4assign(data4field(every, t[0]), t[1]);
    field4assignDouble(data4field(every, "B"), 2.5);
    field4assignLong(data4field(every, "I"), -7);
    field4memoAssignN(data4field(every, "M"), "memo text", 9);
    for (const char* binary : {"P", "Q", "R", "I8", "DP", "TP", "DTP", "W", "O", "T"}) {
      const FIELD4* f = data4field(every, binary);
      for (int i = 0; i < f->length; i++)
        every->record[f->offset + i] = static_cast<char>(i * 37 + 1);
    }
    if (data4append(every) != 0 || data4go(every, 1) != 0) fail();
    base.assign(every->record, every->record + every->dataFile->recordLength);
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void evaluate(Fixture& f, EXPR4* e, TAG4FILE* tag) {
  const char* record = f.every->record;
  const std::vector<char> before(record, record + f.base.size());
  char* result = nullptr;
  const int32_t length = expr4vary(e, &result);
  if (length >= 0 && length != e->len) fail();
  error4set(&f.c, 0);
  if (e->type == 'L') {
    const int32_t truth = expr4true(e);
    if (truth < -1 || truth > 1) fail();
    error4set(&f.c, 0);
  }
  char* key = nullptr;
  const int32_t keyLength = expr4key(e, &key, tag);
  error4set(&f.c, 0);
  if (keyLength >= 0) {
    if (key[keyLength] != '\0' || keyLength >= expr4keyRoom(e->len)) fail();
    if (tag != nullptr && keyLength != expr4keyLen(e)) fail();
  }
  expr4nullLow(e, 1);
  error4set(&f.c, 0);
  if (std::memcmp(before.data(), record, before.size()) != 0) fail();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Fixture& f = fixture();
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t newline = input.find('\n');
  const std::string text = input.substr(0, newline);
  std::memcpy(f.every->record, f.base.data(), f.base.size());
  if (newline != std::string::npos) {
    const size_t n = std::min(input.size() - newline - 1, f.base.size());
    std::memcpy(f.every->record, input.data() + newline + 1, n);
  }
  for (MEMO4FIELD& memo : f.every->memoFields) field4memoReset(memo.field);
  // The three code-page values that change what UPPER and GENERAL do.
  const int32_t codePages[] = {0, 1, 3};
  f.every->dataFile->codePage = codePages[size % 3];

  TAG4FILE* tags[] = {nullptr, &f.machine, &f.general};
  for (TAG4FILE* tag : tags) {
    f.c.errExpr = tag == nullptr ? 1 : 0;
    EXPR4* e = expr4parseLow(f.every, text.c_str(), tag);
    error4set(&f.c, 0);
    if (e != nullptr) evaluate(f, e, tag);
    expr4free(e);
  }
  f.every->recordChanged = 0;
  return 0;
}
