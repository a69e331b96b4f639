// Opening the catalogue: two processes starting on an empty data folder at
// once leave every table with its whole index, and a table found without
// its index file, or without one of its tags, gets them back from the
// declarations at the next open, which says so once.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "catalog/Dbschema.h"
#include "catalog/Globaldbhandler.h"
#include "engine/index/index4.h"
#include "engine/storage/data4.h"
#include "engine/storage/info4.h"
#include "tests/catalog/catalog_fixture.h"
#include "tests/support/cdx_checker.h"
#include "tests/support/disk_file.h"
#include "tests/support/fake_os.h"

using namespace testing_support;

namespace {

using OpeningTest = CatalogTest;

// Each table's tags, sorted, with the key type index_dump reads them as.
struct TableTags {
  const char* table;
  std::vector<std::pair<std::string, const char*>> tags;
};

const TableTags kDeclaredTags[] = {
    {"DBFILES",
     {{"T_F_ID", "num"}, {"T_F_NAME", "char"}, {"T_F_SUPPID", "num"}, {"T_SUP_PAT", "char"}}},
    {"DBSUPPORT", {{"T_S_ID", "num"}}},
    {"DBID", {{"T_TBLNAME", "char"}}},
};

const TableTags& declared(const std::string& table) {
  return *std::find_if(std::begin(kDeclaredTags), std::end(kDeclaredTags),
                       [&](const TableTags& t) { return table == t.table; });
}

std::vector<std::string> declaredNames(const std::string& table) {
  std::vector<std::string> names;
  for (const auto& [name, kind] : declared(table).tags) names.push_back(name);
  return names;
}

// The tags of an index file, sorted, read by the independent checker;
// empty when the file is missing or damaged.
std::vector<std::string> tagsOnDisk(const std::string& index) {
  const CdxReport report = checkCdxFile(index, {{"T_F_ID", 0}, {"T_F_SUPPID", 0}, {"T_S_ID", 0}});
  std::vector<std::string> names;
  if (!report.ok()) return names;
  for (const CdxTagReport& tag : report.tags) names.push_back(tag.name);
  std::sort(names.begin(), names.end());
  return names;
}

// Each tag of the table as python computes it from dbfread's records (the
// key, then the record number) and as index_dump walks it in the file.
void expectIndexAgreesWithRecords(const std::string& folder, const std::string& table) {
  std::string computing =
      "/usr/bin/python3 -c \"import dbfread, sys\n"
      "keys = {'T_F_ID': lambda r: r['F_ID'], 'T_F_SUPPID': lambda r: r['F_SUPPID'],\n"
      "  'T_SUP_PAT': lambda r: '%5d' % r['F_SUPPID'] + r['F_PATH'][:50].upper(),\n"
      "  'T_F_NAME': lambda r: r['F_NAME'][:60].upper(), 'T_S_ID': lambda r: r['S_ID'],\n"
      "  'T_TBLNAME': lambda r: r['TBLNAME']}\n"
      "rows = list(enumerate(dbfread.DBF(sys.argv[1]), 1))\n"
      "for tag in sys.argv[2:]:\n"
      "    print(tag)\n"
      "    for k, n in sorted((keys[tag](r), n) for n, r in rows): print(str(k).rstrip(), n)\" " +
      folder + "/" + table + ".dbf";
  std::string dumped;
  int status = 0;
  for (const auto& [tag, kind] : declared(table).tags) {
    computing += " " + tag;
    dumped += tag + "\n" +
              runCommand(std::string("/usr/bin/index_dump --type ") + kind + " " + folder + "/" +
                             table + ".cdx " + tag,
                         &status);
    EXPECT_EQ(status, 0) << tag;
  }
  const std::string computed = runCommand(computing, &status);
  ASSERT_EQ(status, 0) << computed;
  EXPECT_EQ(dumped, computed) << table;
}

TEST_F(OpeningTest, TwoProcessesStartingTogetherLeaveEveryTableIndexed) {
  for (int round = 0; round < 50; round++) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directory(folder);
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    pid_t children[2];
    for (pid_t& child : children) {
      child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        close(go[1]);
        char byte;
        (void)!read(go[0], &byte, 1);  // returns when the parent closes its end
        TGlobalDBHandler starting(c, folder);
        starting.OpenAll(false);
        starting.CloseAll();
        _exit(0);
      }
    }
    close(go[0]);
    close(go[1]);
    for (pid_t child : children) {
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (const TableTags& table : kDeclaredTags)
      ASSERT_EQ(tagsOnDisk(file(std::string(table.table) + ".cdx")), declaredNames(table.table))
          << table.table;
    // A third start stores a support and its files, with no error.
    catalogue->open();
    const int32_t support = catalogue->addSupport();
    ASSERT_EQ(support, 1);
    ASSERT_EQ(catalogue->addFile(-1, "a.txt", support), 1);
    ASSERT_EQ(catalogue->addFile(-1, "b.txt", support), 2);
    catalogue->close();
    ASSERT_TRUE(recorder.errors().empty()) << recorder.errors().front().code;
  }
}

// The lock guards creation only: a folder where it cannot be taken (a
// read-only one without the lock file, a file system without such locks)
// keeps its catalogue working.
TEST_F(OpeningTest, WithoutTheFolderLockTheCatalogueStillOpens) {
  FakeOs os;
  platform::ScopedOs scoped(os);
  os.lockWaitErrno = ENOLCK;
  catalogue->open();
  EXPECT_EQ(catalogue->addSupport(), 1);
  catalogue->close();
  os.lockWaitErrno = 0;
  os.openError = EROFS;  // the lock file's open, the first of a start
  catalogue->open();
  EXPECT_EQ(catalogue->addSupport(), 2);
  catalogue->close();
  EXPECT_TRUE(recorder.errors().empty());
}

// A catalogue with a few supports and files whose names and paths differ.
void fill(Catalogue& catalogue) {
  const char* names[] = {"zeta.txt", "Alpha.doc", "photos", "beta.jpg", "alpha.doc"};
  for (int32_t support = 1; support <= 2; support++) {
    ASSERT_EQ(catalogue.addSupport(), support);
    for (const char* name : names) {
      int32_t id = -1;
      const std::string path = "\\dir" + std::to_string(support) + "\\" + name[0] + "\\";
      ASSERT_EQ(catalogue.files.AppendFile(id, name, "", path, support, "", -1, "", "", 45000.5, 1,
                                           32, ""),
                0);
    }
  }
}

// Rebuilds DBFILES's production index with every declared tag but
// `dropped`, as a tool that knows fewer tags might leave it.
void rewriteFilesIndexWithout(CODE4& c, const std::string& folder, const std::string& dropped) {
  c.autoOpen = 0;
  DATA4* d = data4open(&c, (folder + "/DBFILES").c_str());
  c.autoOpen = 1;
  ASSERT_NE(d, nullptr);
  Tag4info tags(c);
  for (const TDBTagDef& t : kFilesTags) {
    const std::string name = TDBDataHandler::MakeTagName(t.name);
    if (name != dropped)
      tags.add(name.c_str(), t.expression, nullptr, UniqueModeToEngine(t.uniqueMode));
  }
  c.safety = 0;
  EXPECT_NE(index4create(d, nullptr, tags.tags()), nullptr);
  c.safety = 1;
  EXPECT_EQ(data4close(d), 0);
}

// A first start that died while it created the tables left empty data
// files: the next start makes them again. A damaged table is still
// refused, never replaced.
TEST_F(OpeningTest, TablesWhoseCreationDiedBeforeTheirHeaderAreMadeAgain) {
  writeDiskFile(file("DBID.dbf"), "");
  writeDiskFile(file("DBSUPPORT.dbf"), "");
  catalogue->open();
  EXPECT_TRUE(recorder.errors().empty());
  EXPECT_EQ(catalogue->addSupport(), 1);
  EXPECT_EQ(catalogue->addFile(-1), 1);
  restart();
  EXPECT_TRUE(catalogue->supports.SeekById(1));
  catalogue->close();

  const std::string damaged(20, '\x03');
  writeDiskFile(file("DBID.dbf"), damaged);
  catalogue->open();
  EXPECT_FALSE(recorder.errors().empty());
  catalogue->close();
  EXPECT_EQ(readDiskFile(file("DBID.dbf")), damaged);
}

TEST_F(OpeningTest, ALostIndexOrTagIsRebuiltAndReportedOnce) {
  catalogue->open();
  fill(*catalogue);
  catalogue->close();
  struct Loss {
    const char* table;
    const char* tag;  // the one tag lost, or null for the whole index file
  };
  const Loss losses[] = {
      {"DBFILES", nullptr}, {"DBSUPPORT", nullptr}, {"DBID", nullptr}, {"DBFILES", "T_F_NAME"}};
  int32_t lastFile = 10;
  for (const Loss& loss : losses) {
    SCOPED_TRACE(std::string(loss.table) + " " + (loss.tag ? loss.tag : "index file"));
    if (loss.tag != nullptr)
      rewriteFilesIndexWithout(c, folder, loss.tag);
    else
      ASSERT_EQ(std::remove(file(std::string(loss.table) + ".cdx").c_str()), 0);
    ASSERT_NE(tagsOnDisk(file(std::string(loss.table) + ".cdx")), declaredNames(loss.table));
    recorder.clear();
    catalogue->open();
    EXPECT_TRUE(recorder.errors().empty());
    EXPECT_TRUE(catalogue->table(loss.table).OpenRepairs().indexRebuilt);
    // Working: the counters go on, the files of a support are found.
    EXPECT_EQ(catalogue->addFile(-1, "new.txt", 2), ++lastFile);
    EXPECT_TRUE(catalogue->supports.SeekById(2));
    EXPECT_TRUE(catalogue->files.SeekBySupport(2));
    catalogue->close();
    expectIndexAgreesWithRecords(folder, loss.table);
    restart();
    EXPECT_FALSE(catalogue->table(loss.table).OpenRepairs().indexRebuilt);  // healed for good
    catalogue->close();
  }
}

// A damaged index is refused by the engine as it opens and made anew from
// the declarations, which the table's open says in place of the engine's
// error; one that cannot be made anew leaves its table refused, never open
// without its tags.
TEST_F(OpeningTest, ADamagedIndexIsReportedOnceAndRebuilt) {
  catalogue->open();
  fill(*catalogue);
  catalogue->close();
  struct Damage {
    const char* table;
    int offset;
    char byte;
  } damages[] = {
      {"DBFILES", 14, 0x60},  // the tag of tags lost its option: one bit
      {"DBSUPPORT", 14, 0x60},
      {"DBID", 14, 0x60},
      {"DBFILES", 12, 0},  // the tag of tags' key length
  };
  int32_t lastFile = 10;
  for (const Damage& damage : damages) {
    const std::string index = file(std::string(damage.table) + ".cdx");
    SCOPED_TRACE(index + " " + std::to_string(damage.offset));
    std::string bytes = readDiskFile(index);
    bytes[damage.offset] = damage.byte;
    writeDiskFile(index, bytes);
    recorder.clear();
    catalogue->open();
    EXPECT_TRUE(catalogue->table(damage.table).OpenRepairs().indexRebuilt);
    EXPECT_EQ(catalogue->addFile(-1, "new.txt", 2), ++lastFile);
    EXPECT_TRUE(catalogue->supports.SeekById(2));
    EXPECT_TRUE(catalogue->files.SeekBySupport(2));
    catalogue->close();
    EXPECT_TRUE(recorder.errors().empty());
    expectIndexAgreesWithRecords(folder, damage.table);
  }

  std::string bytes = readDiskFile(file("DBFILES.cdx"));
  bytes[14] = 0x60;
  writeDiskFile(file("DBFILES.cdx"), bytes);
  recorder.clear();
  {
    // A disk with no room: the index is made in memory, and read through.
    testing_support::FakeOs os;
    platform::ScopedOs scoped(os);
    os.diskSpace = 0;
    EXPECT_TRUE(catalogue->files.Open());
    EXPECT_TRUE(catalogue->files.OpenRepairs().indexInMemory);
    EXPECT_TRUE(catalogue->files.SeekBySupport(2));
    catalogue->files.Close();
  }
  EXPECT_TRUE(recorder.errors().empty());
  catalogue->open();
  EXPECT_EQ(catalogue->addFile(-1, "later.txt", 2), ++lastFile);
  catalogue->close();
  expectIndexAgreesWithRecords(folder, "DBFILES");
}

}  // namespace
