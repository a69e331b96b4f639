// The statistics of the whole catalogue as the statistics dialog shows
// them: ten lines of text from the totals of the supports and the space of
// the drive the program runs from.
//
// Numbers are written without the locale: a point before two decimals,
// whatever language the desktop speaks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalog/Udbwrapper.h"

// The texts of the lines, printf-style with one number each, as the
// language strings give them (ids 131 to 138); the defaults are the
// program's own. A text that does not take the same kind of value as the
// program's own (app/TextFormat.h) gives way to it.
struct StatisticsTexts {
  std::string title = "Statistiques sur l'ensemble de la base";  // 131
  std::string supports = "Total supports    : %ld";              // 132
  std::string files = "Total fichiers    : %ld";                 // 133
  std::string size = "Taille totale     : %.2f Mo";              // 134
  std::string deleted = "[Supports effaces : %ld]";              // 135
  std::string driveTotal = "Total : %12.2f Mo";                  // 136
  std::string driveUsed = "Used  : %12.2f Mo";                   // 137
  std::string driveFree = "Free  : %12.2f Mo";                   // 138
  // In place of the four catalogue lines when the table could not be read
  // to its end: no figure is shown for the whole that was not read.
  std::string unreadable = "La base n'a pas pu \xEAtre lue jusqu'au bout";  // 276
};

// The drive's space in bytes; both 0 when the drive cannot be asked.
struct DriveSpace {
  uint64_t total = 0;
  uint64_t free = 0;  // available to the user
};

// Title; supports, files, size in megabytes, deleted supports (or, when
// the totals are not whole, the one line that says so); a rule of 41
// hyphens; the drive's total, used and free megabytes; the rule again.
std::vector<std::string> StatisticsLines(const TSupportTotals& totals, const DriveSpace& drive,
                                         const StatisticsTexts& texts = {});
