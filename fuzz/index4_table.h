// Shared by index4open_fuzz and its seeds: the table whose production
// index the inputs are, and how its records and index are made.
#pragma once

#include <cstdint>
#include <string>

#include "engine/index/index4.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4record.h"
#include "engine/storage/field4value.h"

inline const FIELD4INFO kFuzzFields[] = {
    {"NAME", 'C', 20, 0, 0}, {"SIZE", 'N', 10, 0, 0}, {"DAY", 'D', 8, 0, 0},
    {"DONE", 'L', 1, 0, 0},  {nullptr, 0, 0, 0, 0},
};

inline const TAG4INFO kFuzzTags[] = {
    {"NAME", "UPPER(NAME)", nullptr, 0, 0},
    {"SIZE", "SIZE", nullptr, 25, 10},
    {"DAY", "DAY", "DONE", 0, 0},
    {"MIX", "NAME+DTOS(DAY)", ".NOT. DONE", -340, 0},
    {},
};

inline constexpr int32_t kFuzzRecords = 300;

// Creates `name` (replacing it) with its records and production index,
// and closes it: true when all of it was made.
inline bool fuzz4makeTable(CODE4* c, const std::string& name) {
  c->safety = 0;
  c->accessMode = 1;
  DATA4* d = data4create(c, name.c_str(), kFuzzFields, nullptr);
  if (d == nullptr) return false;
  bool made = true;
  for (int32_t r = 1; r <= kFuzzRecords && made; r++) {
    const std::string text = "file " + std::to_string(r * 7919 % 1009);
    const std::string day = "2024" + std::string(r % 12 < 9 ? "0" : "") + std::to_string(r % 12 + 1) + "15";
    made = data4appendStart(d, 0) == 0 && data4blank(d) == 0 &&
           field4assign(data4field(d, "NAME"), text.c_str()) == 0 &&
           field4assignLong(data4field(d, "SIZE"), r * 37 % 500) == 0 &&
           field4assign(data4field(d, "DAY"), day.c_str()) == 0 &&
           field4assign(data4field(d, "DONE"), r % 3 == 0 ? "T" : "F") == 0 && data4append(d) == 0;
  }
  made = made && index4create(d, nullptr, kFuzzTags) != nullptr;
  return data4close(d) == 0 && made;
}
