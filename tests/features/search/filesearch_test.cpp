// The file search on a real catalogue: which records it visits and which
// are hits, the bounds, the limit, a stop, the supports of the hits, and how
// hits reach the window.
#include "features/search/FileSearch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/features/catalogue_fixture.h"

using testing_support::FeatureCatalogueTest;

namespace {

using Names = std::vector<std::string>;

class RecordingObserver : public SearchObserver {
 public:
  void Started(int32_t recordCount) override { records = recordCount; }
  void HitsFound(std::span<const SearchHit> found) override {
    batches.push_back(found.size());
    hits.insert(hits.end(), found.begin(), found.end());
  }
  void Pause(int32_t visited) override {
    pauses.push_back(visited);
    if (onPause) onPause();
  }
  int32_t HitLimit() override { return limit; }
  bool StopRequested() override { return stop; }

  Names names() const {
    Names result;
    for (const SearchHit& hit : hits) result.push_back(hit.name);
    return result;
  }

  int32_t limit = 1000;
  bool stop = false;
  std::function<void()> onPause;
  int32_t records = -1;
  std::vector<size_t> batches;
  std::vector<int32_t> pauses;
  std::vector<SearchHit> hits;
};

// Counts the supports read through the catalogue.
class CountingLookup : public WrapperSupportLookup {
 public:
  using WrapperSupportLookup::WrapperSupportLookup;
  bool Read(int32_t id, TSupportRecord& support) override {
    reads.push_back(id);
    return WrapperSupportLookup::Read(id, support);
  }
  std::vector<int32_t> reads;
};

SearchCriteria masked(const char* mask) {
  SearchCriteria criteria;
  criteria.mask = mask;
  return criteria;
}

class FileSearchTest : public FeatureCatalogueTest {
 protected:
  SearchOutcome run(const SearchCriteria& criteria) {
    observer = RecordingObserver();
    return FileSearch(*db).Run(criteria, observer);
  }
  SearchOutcome run(const char* mask) { return run(masked(mask)); }
  Names found(const SearchCriteria& criteria) {
    run(criteria);
    return observer.names();
  }
  RecordingObserver observer;
};

TEST_F(FileSearchTest, ALiteralBeginningVisitsOnlyItsKeysAndTheWholeNameDecides) {
  const int32_t s = addSupport("VOL");
  for (const char* name : {"zeta.txt", "abc", "ABCD", "Abc", "abd", "x1a", "x3a", "x[12]b"})
    addRow(s, "\\", name);
  const int32_t gone = addSupport("GONE");
  addRow(gone, "\\", "abc");
  db->DeleteSupport(gone);           // its file is deleted with it
  EXPECT_EQ(run("abc").visited, 4);  // abc, Abc, the deleted abc, ABCD: the ABC keys
  EXPECT_EQ(observer.names(), (Names{"abc", "Abc"}));
  EXPECT_EQ(observer.records, 9);
  EXPECT_EQ(found(masked("a?c*")), (Names{"abc", "Abc", "ABCD"}));  // in key order
  EXPECT_EQ(found(masked("x[12]*")), (Names{"x1a"}));               // "X" is sought, not "X[12]"
  const SearchOutcome all = run("*");                               // record order
  EXPECT_EQ(all.visited, 9);
  EXPECT_EQ(all.hits, 8);
  EXPECT_EQ(all.end, SearchEnd::kExhausted);
  EXPECT_EQ(observer.hits.front().name, "zeta.txt");
  EXPECT_EQ(run("").end, SearchEnd::kEmptyMask);
}

// A table marked Windows ANSI upper-cases accented letters in its keys:
// the prefix is sought and followed as they are.
TEST_F(FileSearchTest, ATableOfWindowsTextIsSoughtWithItsOwnUpperCase) {
  recreateWithCodePage(3);
  const int32_t s = addSupport("VOL");
  for (const char* name : {"\xE9t\xE9.txt", "\xC9T\xC9 2.txt", "\xE9tang", "etc"})
    addRow(s, "\\", name);
  EXPECT_EQ(found(masked("\xE9t\xE9*")), (Names{"\xE9t\xE9.txt"}));
  EXPECT_EQ(observer.records, 4);
  EXPECT_EQ(run("\xE9t\xE9*").visited, 2);  // both keys of "\xC9T\xC9"
}

TEST_F(FileSearchTest, DateBoundsTakeWholeDaysAndSizeBoundsAreInclusiveEachMayBeAbsent) {
  const int32_t s = addSupport("VOL");
  addRow(s, "\\", "before", 999, 44999.999);
  addRow(s, "\\", "midnight", 1000, 45000.0);
  addRow(s, "\\", "evening", 1001, 45000.99);
  addRow(s, "\\", "next", 4'700'000'000, 45001.0);
  SearchCriteria criteria = masked("*");
  criteria.minDate = criteria.maxDate = 45000.0;  // one day
  EXPECT_EQ(found(criteria), (Names{"midnight", "evening"}));
  criteria.minDate.reset();
  criteria.maxDate = 45000.75;  // the day counts, not the time
  EXPECT_EQ(found(criteria), (Names{"before", "midnight", "evening"}));

  criteria = masked("*");
  criteria.minSize = ParseSizeText("");
  criteria.maxSize = ParseSizeText("1000");
  EXPECT_EQ(found(criteria), (Names{"before", "midnight"}));
  criteria.minSize = ParseSizeText("lots");  // letters read as 0
  EXPECT_EQ(found(criteria), (Names{"before", "midnight"}));
  criteria.minSize = ParseSizeText("4294967296");
  criteria.maxSize.reset();
  EXPECT_EQ(found(criteria), (Names{"next"}));
  EXPECT_EQ(observer.hits[0].size, 4'700'000'000);
}

TEST_F(FileSearchTest, TheLimitAStopAndASecondStartAreTakenBetweenRecords) {
  const int32_t s = addSupport("VOL");
  for (int i = 0; i < 120; i++) addRow(s, "\\", "f" + std::to_string(i));
  observer = RecordingObserver();
  observer.limit = 120;
  SearchOutcome outcome = FileSearch(*db).Run(masked("f*"), observer);
  EXPECT_EQ(outcome.end, SearchEnd::kLimit);  // reached exactly
  EXPECT_EQ(outcome.hits, 120);
  EXPECT_EQ(observer.batches, (std::vector<size_t>{50, 50, 20}));  // handed over at the pauses
  EXPECT_EQ(observer.pauses, (std::vector<int32_t>{50, 100}));

  observer = RecordingObserver();
  observer.onPause = [this] { observer.limit = 60; };  // the track bar moved
  EXPECT_EQ(FileSearch(*db).Run(masked("*"), observer).hits, 60);

  FileSearch search(*db);
  SearchOutcome second;
  observer = RecordingObserver();
  observer.onPause = [&] {
    RecordingObserver other;
    second = search.Run(masked("*"), other);
    observer.stop = true;
  };
  outcome = search.Run(masked("*"), observer);
  EXPECT_EQ(second.end, SearchEnd::kBusy);
  EXPECT_EQ(outcome.end, SearchEnd::kStopped);
  EXPECT_EQ(outcome.visited, 50);
  EXPECT_EQ(observer.hits.size(), 50u);  // the hits so far remain
  EXPECT_FALSE(search.Running());
}

TEST_F(FileSearchTest, EachRunOfHitsOfOneSupportReadsItOnceAndAMissingOneLeavesItsCellsEmpty) {
  const int32_t a = addSupport("ALPHA", 0xA1B2C3D4);
  const int32_t b = addSupport("BETA");
  addRow(a, "\\docs\\", "one.txt");
  addRow(a, "\\", "two.txt", 4096, 45000.25);
  addRow(b, "\\", "three.txt");
  addRow(77, "\\", "orphan.txt");
  addRow(a, "\\", "four.txt");
  CountingLookup lookup(*db);
  observer = RecordingObserver();
  FileSearch(*db, lookup).Run(masked("*.txt"), observer);
  EXPECT_EQ(lookup.reads, (std::vector<int32_t>{a, b, 77, a}));
  ASSERT_EQ(observer.hits.size(), 5u);
  EXPECT_EQ(SearchHitCells(observer.hits[1], "date"),
            (std::array<std::string, 8>{"2", "two.txt", "ALPHA", "date", "4096", "\\", "A1B2-C3D4",
                                        "00001"}));
  const SearchHit& orphan = observer.hits[3];
  EXPECT_EQ(orphan.supportId, 77);  // still there to open the browser with
  EXPECT_EQ(SearchHitCells(orphan, "d"),
            (std::array<std::string, 8>{"4", "orphan.txt", "", "d", "10", "\\", "", ""}));
}

TEST_F(FileSearchTest, AFileTableThatCannotBeOpenedGivesNoHits) {
  db.reset();
  std::filesystem::create_directory("damaged");
  std::ofstream("damaged/DBFILES.DBF") << "not a table";
  db = std::make_unique<TDBWrapper>(c, "damaged");
  const SearchOutcome outcome = run("*");
  EXPECT_EQ(outcome.end, SearchEnd::kNoTable);
  EXPECT_EQ(outcome.hits, 0);
  EXPECT_FALSE(recorder.errors().empty());  // the engine said why
}

}  // namespace
