// Loads collation 4 from tables that the fuzzer has damaged: every damage
// must end in a refusal (or a collation that converts safely), never a
// crash, a hang or a leak.
//
// The three tables start as the GENERAL sequence written out, so that the
// fuzzer reaches the loader's own checks rather than the table header's.
// The input is a list of edits, five bytes each: the table (0-2), an offset
// (16-bit little-endian), a byte to store there, and a length cut (a table
// is cut to `offset` bytes when this byte is 0xFF).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/index/collate4.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4create.h"

namespace {

const char* const kNames[3] = {"coll4inf", "collate4", "compres4"};

const FIELD4INFO kInfoFields[] = {
    {"ISUNICODE", 'L', 1, 0, 0},  {"COLLSTART", 'N', 6, 0, 0}, {"COLLEND", 'N', 6, 0, 0},
    {"COMPSTART", 'N', 6, 0, 0},  {"COMPEND", 'N', 6, 0, 0},   {"EXPANREQD", 'L', 1, 0, 0},
    {"COMPREQD", 'L', 1, 0, 0},   {"SUBREQD", 'L', 1, 0, 0},   {"COMPCHAR", 'N', 4, 0, 0},
    {"NOTAILCHAR", 'N', 4, 0, 0}, {"TRANSREQD", 'L', 1, 0, 0}, {"LOSSINFO", 'L', 1, 0, 0},
    {nullptr, 0, 0, 0, 0},
};
const FIELD4INFO kCharFields[] = {
    {"TRANS_CODE", 'N', 4, 0, 0}, {"SBSORTCODE", 'N', 4, 0, 0}, {nullptr, 0, 0, 0, 0}};
const FIELD4INFO kExpansionFields[] = {{"IS_EXPAND", 'L', 1, 0, 0},
                                       {"CHAR1", 'N', 4, 0, 0},
                                       {"CHAR2", 'N', 4, 0, 0},
                                       {"SUBSORTMOD", 'N', 4, 0, 0},
                                       {nullptr, 0, 0, 0, 0}};

std::string readFile(const std::string& name) {
  std::string bytes;
  if (FILE* in = std::fopen(name.c_str(), "rb")) {
    char chunk[4096];
    while (size_t n = std::fread(chunk, 1, sizeof chunk, in)) bytes.append(chunk, n);
    std::fclose(in);
  }
  return bytes;
}

void writeFile(const std::string& name, const std::string& bytes) {
  if (FILE* out = std::fopen(name.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  }
}

std::string number(int64_t value, size_t width) {
  std::string text = std::to_string(value);
  return std::string(width - text.size(), ' ') + text;
}

// An empty table made by the engine, with `records` (already laid out)
// appended and counted.
std::string table(CODE4* c, const char* name, const FIELD4INFO* fields,
                  const std::vector<std::string>& records) {
  if (DATA4* d = data4create(c, name, fields, nullptr)) data4close(d);
  std::string bytes = readFile(std::string(name) + ".dbf");
  if (bytes.empty()) std::abort();
  bytes.pop_back();  // the end-of-file mark
  for (const std::string& record : records) bytes += " " + record;
  bytes += '\x1a';
  for (int i = 0; i < 4; i++) bytes[4 + i] = static_cast<char>(records.size() >> (8 * i));
  return bytes;
}

// The GENERAL sequence as the three tables, built once in a folder of the
// fuzzer's own, which stays the current directory.
const std::vector<std::string>& pristine() {
  static const std::vector<std::string> files = [] {
    char pattern[] = "/tmp/fuzz-collate-XXXXXX";
    if (mkdtemp(pattern) == nullptr || chdir(pattern) != 0) std::abort();
    CODE4 c;
    code4initLow(&c, nullptr, 6502, 1611, 1);
    c.safety = 0;
    const COLLATE4* general = collate4get(collate4generalWindows);
    std::vector<std::string> info(3, "F     1     1     1     1FFF   0   0FF");
    info.push_back("F     1   256     1     4TFT 255 255TF");
    std::vector<std::string> chars;
    for (int ch = 0; ch < 256; ch++)
      chars.push_back(number(general->table[2 * ch], 4) + number(general->table[2 * ch + 1], 4));
    std::vector<std::string> expansions;
    for (int i = 0; i < 4; i++) {
      expansions.push_back("T" + number(general->expansion[i].first, 4) +
                           number(general->expansion[i].second, 4) + number(0, 4));
    }
    std::vector<std::string> out = {table(&c, kNames[0], kInfoFields, info),
                                    table(&c, kNames[1], kCharFields, chars),
                                    table(&c, kNames[2], kExpansionFields, expansions)};
    code4initUndo(&c);
    return out;
  }();
  return files;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> files = pristine();
  for (size_t at = 0; at + 5 <= size; at += 5) {
    std::string& file = files[data[at] % 3];
    const size_t offset = data[at + 1] | data[at + 2] << 8;
    if (data[at + 4] == 0xFF) {
      if (offset < file.size()) file.resize(offset);
    } else if (offset < file.size()) {
      file[offset] = static_cast<char>(data[at + 3]);
    }
  }
  for (int i = 0; i < 3; i++) writeFile(std::string(kNames[i]) + ".dbf", files[i]);

  CODE4 c;
  code4initLow(&c, nullptr, 6502, 1611, 1);
  if (collate4require(&c, collate4loadable) == 0) {
    COLLATE4* loaded = collate4get(collate4loadable);
    char text[256], wide[512], key[1024];
    for (int ch = 0; ch < 256; ch++) {
      text[ch] = static_cast<char>(ch);
      wide[2 * ch] = static_cast<char>(ch);
      wide[2 * ch + 1] = static_cast<char>(ch & 1 ? 0x4E : 0);
    }
    int32_t length = 0;
    collate4stringToKey(loaded, key, text, 256, &length);
    key4fromWideCollate(loaded, key, wide, 512, &length);
  }
  code4initUndo(&c);
  return 0;
}
