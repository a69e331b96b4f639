// The statistics lines from a real catalogue's supports and a given drive,
// and what translated texts may do to them.
#include "features/stats/StatisticsReport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/features/catalogue_fixture.h"

using testing_support::FeatureCatalogueTest;

namespace {

using Lines = std::vector<std::string>;

const std::string kRule(41, '-');

class StatisticsTest : public FeatureCatalogueTest {
 protected:
  void addSized(int64_t size, int32_t entries) {
    TSupportRecord support;
    support.volume = "V";
    support.size = size;
    support.fileCount = entries;
    db->AddSupportRecord(support);
  }
};

TEST_F(StatisticsTest, TheExampleCatalogueOnATenGigabyteDrive) {
  addSized(1048576, 10);
  addSized(999, 999);
  addSized(3145728, 25);
  db->DeleteSupport(2);
  const DriveSpace drive{10ULL << 30, 4ULL << 30};
  EXPECT_EQ(StatisticsLines(db->SumSupports(), drive),
            (Lines{"Statistiques sur l'ensemble de la base", "Total supports    : 2",
                   "Total fichiers    : 35", "Taille totale     : 4.00 Mo",
                   "[Supports effaces : 1]", kRule, "Total :     10240.00 Mo",
                   "Used  :      6144.00 Mo", "Free  :      4096.00 Mo", kRule}));
}

TEST_F(StatisticsTest, SizesPast32BitsAndADriveThatCannotBeAsked) {
  EXPECT_EQ(StatisticsLines(db->SumSupports(), {})[3], "Taille totale     : 0.00 Mo");
  addSized(4'700'000'000, 2'000'000'000);
  addSized(4'700'000'000, 2'000'000'000);
  const Lines lines = StatisticsLines(db->SumSupports(), {});
  EXPECT_EQ(lines[2], "Total fichiers    : 4000000000");
  EXPECT_EQ(lines[3], "Taille totale     : 8964.54 Mo");
  EXPECT_EQ(lines[6], "Total :         0.00 Mo");
  EXPECT_EQ(lines[7], "Used  :         0.00 Mo");
}

// A translation is used only when it takes the kind of value the
// program's own text takes; otherwise the program's text stands.
TEST(StatisticsTextsTest, TranslatedTextsTakeTheirOneNumberOrGiveWay) {
  StatisticsTexts texts;
  texts.supports = "Supports: %d (100%%)";
  texts.files = "Files: %s";
  texts.size = "Size: %-9.1fMB|";
  texts.deleted = "Deleted: %05ld, %d";
  texts.driveTotal = "Total %";
  texts.driveUsed = "Used: %d MB";
  texts.driveFree = "Free: %e";
  TSupportTotals totals;
  totals.supports = 3;
  totals.deleted = 7;
  totals.bytes = 1572864;
  const Lines lines = StatisticsLines(totals, {3ULL << 20, 1ULL << 20}, texts);
  EXPECT_EQ(lines[1], "Supports: 3 (100%)");
  EXPECT_EQ(lines[2], "Total fichiers    : 0");
  EXPECT_EQ(lines[3], "Size: 1.5      MB|");
  EXPECT_EQ(lines[4], "[Supports effaces : 7]");
  EXPECT_EQ(lines[6], "Total :         3.00 Mo");
  EXPECT_EQ(lines[7], "Used  :         2.00 Mo");
  EXPECT_EQ(lines[8], "Free: 1.000000e+00");
}

}  // namespace
