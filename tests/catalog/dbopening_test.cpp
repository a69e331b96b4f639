// Opening the catalogue: two processes starting on an empty data folder at
// once leave every table with its whole index, and a table found without
// its index file, or without one of its tags, gets them back from the
// declarations at the next open, reported once.
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

struct TableTags {
  const char* table;
  std::vector<std::string> tags;
};

const TableTags kDeclaredTags[] = {
    {"DBFILES", {"T_F_ID", "T_F_SUPPID", "T_SUP_PAT", "T_F_NAME"}},
    {"DBSUPPORT", {"T_S_ID"}},
    {"DBID", {"T_TBLNAME"}},
};

// The tags of an index file, read by the independent checker; empty when
// the file is missing or damaged.
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
  int status = 0;
  const std::string computed = runCommand(
      "/usr/bin/python3 -c \"import dbfread\n"
      "keys = {'DBFILES': [('T_F_ID', 'num', lambda r: r['F_ID']),\n"
      "                    ('T_F_SUPPID', 'num', lambda r: r['F_SUPPID']),\n"
      "                    ('T_SUP_PAT', 'char', lambda r: '%5d' % r['F_SUPPID'] + "
      "r['F_PATH'][:50].upper()),\n"
      "                    ('T_F_NAME', 'char', lambda r: r['F_NAME'][:60].upper())],\n"
      "        'DBSUPPORT': [('T_S_ID', 'num', lambda r: r['S_ID'])],\n"
      "        'DBID': [('T_TBLNAME', 'char', lambda r: r['TBLNAME'])]}\n"
      "rows = list(enumerate(dbfread.DBF('" +
          folder + "/" + table + ".dbf'), 1))\n" + "for tag, kind, key in keys['" + table +
          "']:\n"
          "    print(tag, kind)\n"
          "    for k, n in sorted((key(r), n) for n, r in rows): print('%s %d' % (str(k).rstrip(), "
          "n))\"",
      &status);
  ASSERT_EQ(status, 0) << computed;
  std::string dumped;
  for (const TableTags& declared : kDeclaredTags) {
    if (table != declared.table) continue;
    for (const std::string& tag : declared.tags) {
      const std::string kind =
          tag == "T_SUP_PAT" || tag == "T_F_NAME" || tag == "T_TBLNAME" ? "char" : "num";
      dumped += tag + " " + kind + "\n" +
                runCommand("/usr/bin/index_dump --type " + kind + " " + folder + "/" + table +
                               ".cdx " + tag,
                           &status);
      EXPECT_EQ(status, 0) << tag;
    }
  }
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
        starting.OpenAll();
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
    for (const TableTags& declared : kDeclaredTags) {
      std::vector<std::string> expected = declared.tags;
      std::sort(expected.begin(), expected.end());
      ASSERT_EQ(tagsOnDisk(file(std::string(declared.table) + ".cdx")), expected) << declared.table;
    }
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

TEST_F(OpeningTest, ALostIndexFileIsRebuiltAndReportedOnce) {
  catalogue->open();
  fill(*catalogue);
  catalogue->close();
  for (const TableTags& lost : kDeclaredTags) {
    SCOPED_TRACE(lost.table);
    const std::string index = file(std::string(lost.table) + ".cdx");
    ASSERT_EQ(std::remove(index.c_str()), 0);
    recorder.clear();
    catalogue->open();
    ASSERT_EQ(recorder.errors().size(), 1u);
    EXPECT_EQ(recorder.errors()[0].code, -330);
    EXPECT_NE(recorder.errors()[0].text1.find(lost.table), std::string::npos);
    // Working: the counters go on, the files of a support are found.
    EXPECT_GT(catalogue->addFile(-1, "new.txt", 2), 10);
    EXPECT_TRUE(catalogue->supports.SeekById(2));
    EXPECT_TRUE(catalogue->files.SeekBySupport(2));
    catalogue->close();
    expectIndexAgreesWithRecords(folder, lost.table);
    restart();
    catalogue->close();
    EXPECT_EQ(recorder.errors().size(), 1u);  // healed for good
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

TEST_F(OpeningTest, AMissingTagIsBuiltFromTheDeclarations) {
  catalogue->open();
  fill(*catalogue);
  catalogue->close();
  rewriteFilesIndexWithout(c, folder, "T_F_NAME");
  ASSERT_EQ(tagsOnDisk(file("DBFILES.cdx")),
            (std::vector<std::string>{"T_F_ID", "T_F_SUPPID", "T_SUP_PAT"}));
  recorder.clear();
  catalogue->open();
  ASSERT_EQ(recorder.errors().size(), 1u);
  EXPECT_EQ(recorder.errors()[0].code, -330);
  EXPECT_NE(recorder.errors()[0].text2.find("T_F_NAME"), std::string::npos);
  EXPECT_EQ(catalogue->addFile(-1, "gamma", 1), 11);
  catalogue->close();
  expectIndexAgreesWithRecords(folder, "DBFILES");
  restart();
  EXPECT_EQ(recorder.errors().size(), 1u);
}

}  // namespace
