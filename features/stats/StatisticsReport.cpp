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
  std::vector<std::string> lines{texts.title};
  if (totals.whole) {
    lines.push_back(FormatTranslated(texts.supports, builtIn.supports, {totals.supports}));
    lines.push_back(FormatTranslated(texts.files, builtIn.files, {totals.files}));
    lines.push_back(FormatTranslated(texts.size, builtIn.size,
                                     {static_cast<double>(totals.bytes) / kBytesPerMegabyte}));
    lines.push_back(FormatTranslated(texts.deleted, builtIn.deleted, {totals.deleted}));
  } else {
    lines.push_back(texts.unreadable);
  }
  lines.insert(
      lines.end(),
      {rule, FormatTranslated(texts.driveTotal, builtIn.driveTotal, {megabytes(drive.total)}),
       FormatTranslated(texts.driveUsed, builtIn.driveUsed, {megabytes(used)}),
       FormatTranslated(texts.driveFree, builtIn.driveFree, {megabytes(drive.free)}), rule});
  return lines;
}
