// Writes seed inputs for log4scan_fuzz into the folder given: the smallest
// valid log (two clean-end entries), a log put together entry by entry
// (user open, transaction start, an update, both commit phases, user
// close, clean end), a log the engine wrote itself around a table with a
// memo field and a tag (create, appends, updates, a committed and a rolled
// back transaction), and damaged copies of these: a length word of
// 0xFFFFFFFF, length words of 32 to 35, a header whose payload length
// disagrees with its word, a refused first entry, a missing clean end and
// cuts at several places.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/endian4.h"
#include "engine/storage/field4value.h"
#include "engine/storage/log4entry.h"
#include "engine/storage/memo4field.h"
#include "engine/storage/tran4.h"

namespace {

using Bytes = std::vector<unsigned char>;

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "log4scan_seeds: %s failed\n", what);
  std::exit(1);
}

void entry(Bytes* log, uint16_t type, int32_t transactionId, uint32_t dataId, const Bytes& payload,
           uint32_t dataId2) {
  const auto n = static_cast<uint32_t>(payload.size());
  unsigned char word[log4lengthSize];
  endian4::writeLe32(word, n + log4overhead);
  log->insert(log->end(), word, word + sizeof word);
  log->insert(log->end(), payload.begin(), payload.end());
  Log4Header h;
  h.transactionId = transactionId;
  h.userId = 1;
  h.dataId = dataId;
  h.dataId2 = dataId2;
  h.type = type;
  h.payloadLength = n;
  h.year = 2024;
  h.month = 5;
  h.day = 17;
  h.seconds = 3600;
  unsigned char header[log4headerSize];
  log4encodeHeader(h, header);
  log->insert(log->end(), header, header + sizeof header);
}

void cleanEnd(Bytes* log) { entry(log, log4typeCleanEnd, 0, 0, {}, log4cleanEndMarker); }

Bytes minimal() {
  Bytes log;
  cleanEnd(&log);
  cleanEnd(&log);
  return log;
}

// A transaction of one update on a table of one 4-byte record, as a user
// writes it between opening and closing the log.
Bytes assembled() {
  Bytes log;
  cleanEnd(&log);
  entry(&log, log4typeUserOpen, 0, 0, {0, 0, 4, 0, 'F', 'U', 'Z', 'Z'}, 0);
  entry(&log, log4typeStart, 1001, 0, {}, 0);
  Bytes update = {1, 0, 0, 0};
  for (const char* image : {" old", " new"}) update.insert(update.end(), image, image + 4);
  entry(&log, log4typeUpdate, 1001, 7, update, 7);
  entry(&log, log4typeCommitOne, 1001, 0, {}, 0);
  entry(&log, log4typeCommitTwo, 1001, 0, {}, 0);
  entry(&log, log4typeUserClose, 0, 0, {}, 0);
  cleanEnd(&log);
  return log;
}

Bytes readFile(const std::string& path) {
  FILE* in = std::fopen(path.c_str(), "rb");
  check(in != nullptr, "reading the log");
  Bytes bytes;
  unsigned char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
    bytes.insert(bytes.end(), buffer, buffer + n);
  std::fclose(in);
  return bytes;
}

void write(const std::string& folder, const std::string& name, const Bytes& bytes) {
  FILE* out = std::fopen((folder + "/" + name).c_str(), "wb");
  check(out != nullptr, "opening a seed file");
  check(std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size(), "writing a seed");
  check(std::fclose(out) == 0, "closing a seed file");
}

// The log the engine writes in a fresh folder while a table is created,
// filled, changed in transactions of its own and in an explicit one that
// commits, and changed again in one that rolls back.
Bytes engineWritten() {
  char pattern[] = "/tmp/log4scan-seeds-XXXXXX";
  const char* folder = mkdtemp(pattern);
  check(folder != nullptr, "making a folder");
  char previous[4096];
  check(getcwd(previous, sizeof previous) != nullptr, "getcwd");
  check(chdir(folder) == 0, "chdir");

  write(folder, log4defaultName, minimal());
  CODE4 c;
  code4initLow(&c, nullptr, 6502, 1611, 1);
  c.logMode = 1;
  c.safety = 0;
  const FIELD4INFO fields[] = {
      {"NAME", 'C', 10, 0, 0}, {"N", 'N', 6, 0, 0}, {"NOTE", 'M', 10, 0, 0}, {nullptr, 0, 0, 0, 0}};
  const TAG4INFO tags[] = {{"NAME", "NAME", nullptr, 0, 0}, {nullptr, nullptr, nullptr, 0, 0}};
  DATA4* d = data4create(&c, "T", fields, tags);
  check(d != nullptr, "data4create");
  check(c.transaction.enabled != 0, "opening the log with the table");
  for (int i = 1; i <= 3; i++) {
    check(data4appendStart(d, 0) == 0, "data4appendStart");
    data4blank(d);
    field4assign(data4field(d, "NAME"), ("name" + std::to_string(i)).c_str());
    field4assignLong(data4field(d, "N"), i);
    field4memoAssignN(data4field(d, "NOTE"), "memo text", 9);
    check(data4append(d) == 0, "data4append");
  }
  check(data4go(d, 2) == 0, "data4go");
  field4assign(data4field(d, "NAME"), "changed");
  check(data4flush(d) == 0, "data4flush");

  check(code4transactionStart(&c) == 0, "code4transactionStart");
  check(data4go(d, 1) == 0, "data4go");
  field4assignLong(data4field(d, "N"), 100);
  field4memoAssignN(data4field(d, "NOTE"), "a longer memo value", 19);
  check(data4go(d, 3) == 0, "data4go");
  check(code4transactionCommit(&c) == 0, "code4transactionCommit");

  check(code4transactionStart(&c) == 0, "code4transactionStart");
  check(data4go(d, 2) == 0, "data4go");
  field4assign(data4field(d, "NAME"), "undone");
  check(data4flush(d) == 0, "data4flush");
  check(code4transactionRollback(&c) == 0, "code4transactionRollback");
  check(data4close(d) == 0, "data4close");
  code4initUndo(&c);

  Bytes log = readFile(std::string(folder) + "/" + log4defaultName);
  check(chdir(previous) == 0, "chdir back");
  std::system(("rm -rf " + std::string(folder)).c_str());
  return log;
}

Bytes withWord(Bytes log, size_t offset, uint32_t word) {
  endian4::writeLe32(log.data() + offset, word);
  return log;
}

// Offset of the length word of the second entry.
size_t secondEntry(const Bytes& log) { return endian4::readLe32(log.data()); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: log4scan_seeds FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  const Bytes small = minimal();
  const Bytes built = assembled();
  const Bytes engine = engineWritten();
  write(folder, "log4scan-minimal", small);
  write(folder, "log4scan-assembled", built);
  write(folder, "log4scan-engine", engine);

  for (const auto& [name, log] : {std::pair{"assembled", built}, std::pair{"engine", engine}}) {
    const std::string base = std::string("log4scan-") + name;
    const size_t second = secondEntry(log);
    write(folder, base + "-word-max", withWord(log, second, 0xFFFFFFFF));
    for (uint32_t word = 32; word <= 35; word++)
      write(folder, base + "-word-" + std::to_string(word), withWord(log, second, word));
    // The payload length of the third entry's header, one more than its word says.
    const size_t third = second + endian4::readLe32(log.data() + second);
    const uint32_t thirdWord = endian4::readLe32(log.data() + third);
    const size_t thirdHeader = third + thirdWord - log4headerSize;
    write(folder, base + "-header-length",
          withWord(log, thirdHeader + 18, thirdWord - log4overhead + 1));
    Bytes refused = log;
    endian4::writeLe16(refused.data() + log4lengthSize + 16, log4typeRefused);
    write(folder, base + "-refused-first", refused);
    write(folder, base + "-no-clean-end", Bytes(log.begin(), log.end() - log4overhead));
    for (size_t cut : {log.size() / 2, log.size() - 1, size_t{log4overhead + 3}})
      write(folder, base + "-cut-" + std::to_string(cut), Bytes(log.begin(), log.begin() + cut));
  }
  write(folder, "log4scan-minimal-cut-71", Bytes(small.begin(), small.end() - 1));
  write(folder, "log4scan-minimal-word-max", withWord(small, 36, 0xFFFFFFFF));
  return 0;
}
