// Fuzz target over index files as a table opens them: the input is the
// production index of a fixed table. Opening reads and checks the headers
// and every tag's expressions; each tag is then walked both ways and sought.
// Opened for reading and writing, then for reading only, the file is closed
// again: a close after walks writes nothing, so the file must keep every
// byte of the input (unless its change mark made the open rebuild it).
// Last the index is rebuilt from the table. Damage must end in an error;
// never a crash, a hang, a read outside what was read, or a header written
// where it was not read.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "engine/index/cdx4header.h"
#include "engine/index/index4.h"
#include "engine/index/tag4.h"
#include "engine/index/tag4file.h"
#include "engine/storage/error4.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/index4_table.h"

namespace {

constexpr int kStepsMax = 400;

struct Setup {
  CODE4 c;
  std::string table;
  Setup() {
    if (code4initLow(&c, nullptr, code4libraryVersion, code4structSize, 1) != 0) std::abort();
    const std::string probe = fuzz4writeInput("t.cdx", nullptr, 0);
    table = probe.substr(0, probe.size() - 4);
    if (!fuzz4makeTable(&c, table)) std::abort();
    c.errExpr = 0;
  }
};

Setup& setup() {
  static Setup* s = [] {
    auto* made = new Setup;
    std::atexit([] { code4initUndo(&setup().c); });
    return made;
  }();
  return *s;
}

void walk(CODE4* c, TAG4FILE* t, const uint8_t* data, size_t size) {
  int steps = 0;
  if (tagfile4top(t) == 0)
    while (steps++ < kStepsMax && tagfile4skip(t, 1) == 1) tagfile4key(t);
  error4set(c, 0);
  if (tagfile4bottom(t) == 0)
    while (steps++ < 2 * kStepsMax && tagfile4skip(t, -1) == -1) tagfile4recNo(t);
  error4set(c, 0);
  if (size > 8) tagfile4seek(t, data + size - 8, 8);
  error4set(c, 0);
}

void walkAll(CODE4* c, DATA4* d, const uint8_t* data, size_t size) {
  for (LINK4* i = list4first(&d->indexes); i != nullptr; i = list4next(&d->indexes, i)) {
    LIST4* tags = &reinterpret_cast<INDEX4*>(i)->tags;
    for (LINK4* t = list4first(tags); t != nullptr; t = list4next(tags, t))
      walk(c, reinterpret_cast<TAG4*>(t)->tagFile, data, size);
  }
}

// Opens the table (for reading only when `readOnly`), walks every tag and
// closes it; the index file must then hold the input as it was.
void openWalkClose(Setup& s, bool readOnly, const std::string& path, const uint8_t* data,
                   size_t size) {
  CODE4* c = &s.c;
  c->readOnly = readOnly ? 1 : 0;
  DATA4* d = data4open(c, s.table.c_str());
  if (d != nullptr) {
    walkAll(c, d, data, size);
    error4set(c, 0);
    data4close(d);
  }
  c->readOnly = 0;
  error4set(c, 0);
  const bool rebuilt = !readOnly && size > cdx4changeMarkOffset && data[cdx4changeMarkOffset] != 0;
  std::ifstream in(path, std::ios::binary);
  const std::string after{std::istreambuf_iterator<char>(in), {}};
  if (!rebuilt && after != std::string(reinterpret_cast<const char*>(data), size)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Setup& s = setup();
  CODE4* c = &s.c;
  error4set(c, 0);
  if (size > (1u << 20)) return 0;
  const std::string path = fuzz4writeInput("t.cdx", data, size);
  if (path.empty()) return 0;
  openWalkClose(s, true, path, data, size);
  openWalkClose(s, false, path, data, size);
  if (fuzz4writeInput("t.cdx", data, size).empty()) return 0;
  DATA4* d = data4open(c, s.table.c_str());
  if (d != nullptr) {
    if (INDEX4* index = reinterpret_cast<INDEX4*>(list4first(&d->indexes)))
      index4reindex(index);
    error4set(c, 0);
    data4close(d);
  }
  error4set(c, 0);
  return 0;
}
