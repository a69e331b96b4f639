// The archive file "*.cex": supports of the catalogue with their files, as
// lines of Windows-1252 text. Nothing is quoted or escaped; an empty value
// is nothing after the '='.
//
//   TOTAL_SUPPORT=<int32>          supports that follow (a hint for progress)
//   CATALOG_EXPORT=101             format number; 0 and above 101 are refused
//   then per support a volume block, followed by one file block per file:
//
//   @VOLUME=(                      @FILE=(
//   S_ID=<int32>                   F_ID=<int32>
//   S_TYPE=<text>                  F_NAME=<text>
//   S_SIZE=<int64>                 F_EXT=<text>
//   S_VOLNAME=<text>               F_PATH=<text>
//   S_VOLSN=<uint32>               F_SUPID=<int32>
//   S_FCOUNT=<int32>               F_COMMENT=<text>
//   S_USRID=<text>                 F_CATEGORY=<int32>
//   S_DATEREC=<days>               F_CRC=<text>
//   S_COMMENT multi-line value     F_MD5=<text>
//   )                              F_DATE=<days>
//                                  F_SIZE=<int64>
//                                  F_ATTR=<int32>
//                                  F_LCOMMENT multi-line value
//                                  )
//
// <days> is a day count since 30 December 1899 with the time as fraction,
// written with a '.' and exactly six decimals ("38154.500000"). Integers are
// plain decimals. Every number is written and read without the locale.
// Six decimals of a day are 0.0864 s: "37164.953333" stands for 22:52:48 a
// hair early. A file's date is taken back to its nearest whole second, as
// file dates are stored; a recording date (which holds milliseconds) is
// kept as written, and shown to its nearest second.
//
// A multi-line value under key K holds a text split at CR LF, lone CR and
// lone LF (a break at the very end adds no line; an empty text has none):
//   K.LINECOUNT=<n>
//   K.LINE.0=<line 0> ... K.LINE.<n-1>=<line n-1>
//
// Lines are written ending in CR LF; a reader ends a line at CR LF, LF or a
// lone CR. Within a block's run of key lines, keys may stand in any order and
// any letter case. Volume keys all begin with 'S' and file keys with 'F':
// the reader ends a block's run at the first line that does not, which is
// how it survives a block with a missing line. The two opening lines are
// never values: wherever they stand, a block starts there.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace archive {

inline constexpr int32_t kFormatNumber = 101;

inline constexpr std::string_view kTotalSupportKey = "TOTAL_SUPPORT";
inline constexpr std::string_view kFormatKey = "CATALOG_EXPORT";
inline constexpr std::string_view kVolumeBlockStart = "@VOLUME=(";
inline constexpr std::string_view kFileBlockStart = "@FILE=(";
inline constexpr std::string_view kBlockEnd = ")";
inline constexpr std::string_view kLineEnd = "\r\n";

// The single-line keys of a volume block in the order they are written, and
// the key of its multi-line value.
inline constexpr std::array<std::string_view, 8> kVolumeKeys = {
    "S_ID", "S_TYPE", "S_SIZE", "S_VOLNAME", "S_VOLSN", "S_FCOUNT", "S_USRID", "S_DATEREC"};
inline constexpr std::string_view kVolumeCommentKey = "S_COMMENT";

inline constexpr std::array<std::string_view, 12> kFileKeys = {
    "F_ID",       "F_NAME", "F_EXT", "F_PATH", "F_SUPID", "F_COMMENT",
    "F_CATEGORY", "F_CRC",  "F_MD5", "F_DATE", "F_SIZE",  "F_ATTR"};
inline constexpr std::string_view kFileCommentKey = "F_LCOMMENT";

inline constexpr std::string_view kLineCountSuffix = ".LINECOUNT";
inline constexpr std::string_view kLineSuffix = ".LINE.";

// The longest line a reader accepts: far beyond any line the catalogue can
// produce, short enough that a file without line ends cannot exhaust memory.
inline constexpr size_t kMaxLineBytes = size_t{16} << 20;

inline bool IsVolumeBlockStart(std::string_view line) { return line == kVolumeBlockStart; }
inline bool IsFileBlockStart(std::string_view line) { return line == kFileBlockStart; }

}  // namespace archive
