// What the crash tests check of a catalogue once a start has settled it:
// the media it lists, each as its row says it and as its files are found
// through the index and through the records; each table's end, and each
// tag against the keys the engine makes of the counted records (read by the
// independent CDX checker); and the change marks its index files carry.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "catalog/Udbwrapper.h"
#include "engine/index/cdx4header.h"
#include "engine/index/expr4.h"
#include "engine/index/tag4.h"
#include "engine/index/tag4file.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4tag.h"
#include "engine/storage/field4value.h"
#include "tests/support/cdx_checker.h"
#include "tests/support/disk_file.h"

namespace testing_support {

// A medium as the catalogue lists it: the files its row counts, its short
// and long comments.
struct ListedMedium {
  int32_t files = 0;
  std::string label;
  std::string comment;
  bool operator==(const ListedMedium&) const = default;
};
// By volume name.
using ListedMedia = std::map<std::string, ListedMedium>;

inline std::string describe(const ListedMedium& m) {
  return std::to_string(m.files) + " files, \"" + m.label + "\", " +
         std::to_string(m.comment.size()) + "-byte comment";
}

inline void PrintTo(const ListedMedium& m, std::ostream* out) { *out << describe(m); }

// The media the catalogue lists. `problems` gets a line for each medium
// whose files the index and the records find differently; and, of a
// catalogue a start could repair (`repaired`), for each medium that does not
// hold as many files as its row says and for live files of no listed
// medium.
inline ListedMedia listMedia(TDBWrapper& db, std::string& problems, bool repaired = true) {
  ListedMedia found;
  std::map<int32_t, int32_t> held;  // support id -> live files, by the records
  if (DATA4* d = db.Files().Handle()) {
    for (int32_t record = 1; record <= data4recCount(d); record++) {
      data4go(d, record);
      if (!data4deleted(d)) held[field4long(data4field(d, "F_SUPPID"))]++;
    }
  }
  db.CountSupports();
  for (int32_t n = 1; db.GotoSupport(n); n++) {
    TSupportRecord s;
    db.ReadCurrentSupport(s);
    int32_t files = 0;
    int64_t size = 0;
    db.CountFilesOfSupport(s.id, files, size);
    if (files != held[s.id] || (repaired && files != s.fileCount))
      problems += s.volume + " says " + std::to_string(s.fileCount) + " files, its index finds " +
                  std::to_string(files) + ", its records " + std::to_string(held[s.id]) + "\n";
    held.erase(s.id);
    found[s.volume] = ListedMedium{s.fileCount, s.userId, s.text};
  }
  for (const auto& [id, files] : held) {
    if (repaired)
      problems += std::to_string(files) + " files of support " + std::to_string(id) +
                  ", which is not listed\n";
  }
  return found;
}

inline uint32_t littleEndian(const std::string& bytes, size_t at, int n) {
  uint32_t value = 0;
  for (int i = n - 1; i >= 0; i--) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

// The table's end, and its index against its records: each tag holds, for
// every counted record, the key the engine makes of it, and nothing else.
// `c` opens the table again, for reading only.
inline std::string tableDisagrees(CODE4& c, const std::string& folder, const std::string& table) {
  const std::string base = folder + "/" + table;
  const std::string dbf = readDiskFile(base + ".dbf");
  if (dbf.size() < 12) return table + ": no header\n";
  const uint32_t count = littleEndian(dbf, 4, 4);
  const uint64_t end = littleEndian(dbf, 8, 2) + uint64_t{count} * littleEndian(dbf, 10, 2);
  std::string problems;
  // Right after the counted records, with its end-of-file mark or without
  // it (a cut between the file's shortening and the mark's write).
  const bool ends = dbf.size() == end || (dbf.size() == end + 1 && dbf.back() == '\x1a');
  if (!ends)
    problems += table + ": " + std::to_string(dbf.size()) + " bytes, " + std::to_string(end + 1) +
                " for its " + std::to_string(count) + " records\n";
  const CdxReport index =
      checkCdxFile(base + ".cdx", {{"T_F_ID", 0}, {"T_F_SUPPID", 0}, {"T_S_ID", 0}});
  if (!index.ok()) return problems + table + ".cdx: " + index.text();
  c.readOnly = 1;
  DATA4* d = data4open(&c, base.c_str());
  c.readOnly = 0;
  if (d == nullptr) return problems + table + ": does not open\n";
  for (TAG4* t = data4tagNext(d, nullptr); t != nullptr; t = data4tagNext(d, t)) {
    TAG4FILE* tag = t->tagFile;
    expr4context(tag->expr, d);
    std::vector<CdxEntry> expected;
    for (int32_t record = 1; record <= data4recCount(d); record++) {
      char* key = nullptr;
      if (data4go(d, record) != 0) return problems + table + ": a record does not read\n";
      const int32_t length = expr4key(tag->expr, &key, tag);
      expected.push_back({std::string(key, static_cast<size_t>(std::max(length, 0))),
                          static_cast<uint32_t>(record)});
    }
    std::sort(expected.begin(), expected.end(), [](const CdxEntry& a, const CdxEntry& b) {
      return a.key != b.key ? a.key < b.key : a.record < b.record;
    });
    const CdxTagReport* found = index.tag(tag->name);
    if (found == nullptr || found->entries != expected)
      problems += table + " " + tag->name + ": " +
                  std::to_string(found ? found->entries.size() : 0) + " keys, " +
                  std::to_string(expected.size()) + " records\n";
  }
  data4close(d);
  return problems;
}

inline std::string catalogueTablesDisagree(CODE4& c, const std::string& folder) {
  std::string problems;
  for (const char* table : {"DBFILES", "DBSUPPORT", "DBID"})
    problems += tableDisagrees(c, folder, table);
  return problems;
}

// The index files of the catalogue in `folder` that carry their change
// mark, as a copy of the folder taken now would hold them.
inline std::string changeMarksIn(const std::string& folder) {
  std::string marked;
  for (const char* table : {"DBFILES", "DBSUPPORT", "DBID"}) {
    const std::string cdx = readDiskFile(folder + "/" + table + ".cdx");
    if (cdx.size() > cdx4changeMarkOffset && cdx[cdx4changeMarkOffset] != 0)
      marked += std::string(table) + ".cdx marked\n";
  }
  return marked;
}

}  // namespace testing_support
