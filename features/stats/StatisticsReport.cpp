#include "features/stats/StatisticsReport.h"

#include "app/TextFormat.h"

namespace {

constexpr double kBytesPerMegabyte = 1048576.0;
constexpr size_t kRuleWidth = 41;

double megabytes(uint64_t bytes) { return static_cast<double>(bytes) / kBytesPerMegabyte; }

}  // namespace

std::vector<std::string> StatisticsLines(const TSupportTotals& totals, const DriveSpace& drive,
                                         const StatisticsTexts& texts) {
  static const StatisticsTexts builtIn;
  const std::string rule(kRuleWidth, '-');
  const uint64_t used = drive.total > drive.free ? drive.total - drive.free : 0;
  return {
      texts.title,
      FormatTranslated(texts.supports, builtIn.supports, {totals.supports}),
      FormatTranslated(texts.files, builtIn.files, {totals.files}),
      FormatTranslated(texts.size, builtIn.size,
                       {static_cast<double>(totals.bytes) / kBytesPerMegabyte}),
      FormatTranslated(texts.deleted, builtIn.deleted, {totals.deleted}),
      rule,
      FormatTranslated(texts.driveTotal, builtIn.driveTotal, {megabytes(drive.total)}),
      FormatTranslated(texts.driveUsed, builtIn.driveUsed, {megabytes(used)}),
      FormatTranslated(texts.driveFree, builtIn.driveFree, {megabytes(drive.free)}),
      rule,
  };
}
