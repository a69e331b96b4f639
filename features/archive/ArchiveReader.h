// Reads the pieces of an archive (see ArchiveFormat.h) back, tolerating what
// hand editing and damage do to it.
//
// A block's values are taken only when its run of key lines is complete:
// 8 lines beginning with 'S' after "@VOLUME=(", 12 beginning with 'F' after
// "@FILE=(". The run ends early at a line that does not begin with the
// block's letter (that line is consumed, unless it opens a block) or at the
// end of the input; the values are then left as they were and the reader
// says so.
//
// A line "@VOLUME=(" or "@FILE=(" is never part of a block: a block reader
// that meets one, where a key line, a LINECOUNT line or a counted line
// should stand, ends the block there and puts the line back for the
// import's line loop. A damaged block thus never takes the next block's
// opening line, and the next block's files are never taken for files of
// the support before it. Within a
// complete run each value is that of the first line whose key (the text
// before its first '=') matches without regard to ASCII letter case; a key
// no line holds gives an empty value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/Udbwrapper.h"
#include "features/archive/ArchiveInput.h"

namespace archive {

struct ArchiveHeader {
  int32_t supportTotal = 0;
  int32_t format = 0;
};

// The two header lines, matched as the patterns "TOTAL_SUPPORT=%d\n" and
// "CATALOG_EXPORT=%d\n" are by scanf: white space before a number and any
// run of white space (blank lines too) after it is taken; at the first byte
// that does not fit, the pattern stops there and its value stays 0, and the
// next pattern starts at that byte.
ArchiveHeader ReadArchiveHeader(ArchiveInput& in);

// The next line without its end; false at the end of the input or at an
// error (see ArchiveInput).
inline bool ReadArchiveLine(ArchiveInput& in, std::string& line) { return in.ReadLine(line); }

// A volume block whose opening line was just read, up to and including its
// comment. True when the values were taken. `work` keeps lines between
// calls (its storage is reused).
bool ReadVolumeBlock(ArchiveInput& in, TSupportRecord& support, std::vector<std::string>& work);
// The same for a file block; F_SUPID goes into supportId.
bool ReadFileBlock(ArchiveInput& in, TFileRecord& file, std::vector<std::string>& work);

// The multi-line value of `key`: one line is read for its LINECOUNT (none
// there: 0), then that many more lines whatever they hold, up to the end of
// the input or a block's opening line when either comes first. Line i of
// the text is the value of the first of those lines keyed "<key>.LINE.<i>",
// empty when none is. The text joins lines with CR LF but stays empty until
// the first non-empty line, so empty lines at its start are lost; its final
// line break never comes back.
void ReadMultiLineValue(ArchiveInput& in, std::string_view key, std::string& text);

}  // namespace archive
