// A fixture for expression tests: the catalogue's DBFILES table and a
// table holding a field of every type, both open, and helpers that parse
// and look at the steps.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/index/expr4.h"
#include "engine/index/expr4table.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4create.h"
#include "engine/storage/error4.h"
#include "tests/support/catalogue_schemas.h"
#include "tests/support/engine_fixture.h"

namespace testing_support {

// Every field type a table may hold, named after it.
inline const FIELD4INFO kEveryTypeFields[] = {
    {"F_C", 'C', 10, 0, 0}, {"F_Z", 'Z', 6, 0, 0},  {"F_N5", 'N', 5, 0, 0},
    {"F_N3", 'N', 3, 0, 0}, {"F_F", 'F', 8, 2, 0},  {"F_D", 'D', 8, 0, 0},
    {"F_L", 'L', 1, 0, 0},  {"F_M", 'M', 4, 0, 0},  {"F_MNULL", 'M', 4, 0, 190},
    {"F_G", 'G', 4, 0, 0},  {"F_X", 'X', 4, 0, 0},  {"F_B", 'B', 8, 2, 0},
    {"F_T", 'T', 8, 0, 0},  {"F_Y", 'Y', 8, 4, 0},  {"F_I", 'I', 4, 0, 0},
    {"F_P", 'P', 4, 0, 0},  {"F_Q", 'Q', 2, 0, 0},  {"F_R", 'R', 2, 0, 0},
    {"F_1", '1', 8, 0, 0},  {"F_2", '2', 6, 0, 0},  {"F_3", '3', 6, 0, 0},
    {"F_4", '4', 16, 0, 0}, {"F_W", 'W', 20, 0, 0}, {"F_O", 'O', 18, 0, 0},
    {"F_5", '5', 8, 0, 0},  {"F_V", 'V', 16, 0, 0}, {nullptr, 0, 0, 0, 0},
};

// Stands in for a tag: the parser only keeps and compares the pointer.
inline TAG4FILE* fakeTag() {
  static char tag;
  return reinterpret_cast<TAG4FILE*>(&tag);
}

class ExprTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    c.safety = 0;
    files = data4create(&c, "DBFILES", kFilesFields, nullptr);
    c.compatibility = 30;
    every = data4create(&c, "every", kEveryTypeFields, nullptr);
    ASSERT_NE(files, nullptr);
    ASSERT_NE(every, nullptr);
  }
  void TearDown() override {
    for (EXPR4* e : parsed) expr4free(e);
    EngineTest::TearDown();
  }

  // Parses against `d` (the every-type table by default); kept until the
  // test ends.
  EXPR4* parse(const char* text, DATA4* d = nullptr, TAG4FILE* tag = nullptr) {
    EXPR4* e = expr4parseLow(d != nullptr ? d : every, text, tag);
    if (e != nullptr) parsed.push_back(e);
    return e;
  }

  // The row of every step, in order.
  static std::vector<int> rows(const EXPR4* e) {
    std::vector<int> out;
    for (int i = 0; i < e->stepCount; i++) out.push_back(e->steps[i].row);
    return out;
  }

  static const EXPR4INFO& last(const EXPR4* e) { return e->steps[e->stepCount - 1]; }

  static double numberAt(const EXPR4* e, int offset) {
    double value;
    std::memcpy(&value, e->constants + offset, sizeof value);
    return value;
  }

  // The text fails with `code` raised at `location`; the error is cleared.
  void expectRefused(const char* text, int32_t code, int32_t location, DATA4* d = nullptr,
                     TAG4FILE* tag = nullptr) {
    SCOPED_TRACE(text);
    recorder.clear();
    EXPECT_EQ(parse(text, d, tag), nullptr);
    const RaisedError e = lastError();
    EXPECT_EQ(e.code, code);
    EXPECT_EQ(e.location, location);
    clearError();
  }

  DATA4* files = nullptr;
  DATA4* every = nullptr;
  std::vector<EXPR4*> parsed;
};

}  // namespace testing_support
