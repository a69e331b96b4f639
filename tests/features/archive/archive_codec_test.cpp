// The archive format byte for byte: what the writer puts on disk, and how
// the reader takes lines, headers, blocks and multi-line values back,
// damaged ones included.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "features/archive/ArchiveFormat.h"
#include "features/archive/ArchiveInput.h"
#include "features/archive/ArchiveNumbers.h"
#include "features/archive/ArchiveOutput.h"
#include "features/archive/ArchiveReader.h"
#include "features/archive/ArchiveWriter.h"
#include "tests/features/archive/archive_fixture.h"
#include "tests/support/disk_file.h"

using namespace archive;
using testing_support::crlf;
using testing_support::readDiskFile;

namespace {

std::vector<std::string> allLines(ArchiveInput& in) {
  std::vector<std::string> lines;
  for (std::string line; ReadArchiveLine(in, line);) lines.push_back(line);
  return lines;
}

// Lines ended by LF become lines ended by CR LF.
std::string withCrLf(std::string_view text) {
  std::string out;
  for (char c : text) c == '\n' ? out.append("\r\n") : out.append(1, c);
  return out;
}

TEST(ArchiveCodecTest, WritesTheGoldenArchive) {
  ArchiveOutput out;
  ASSERT_EQ(out.Open("golden.cex"), 0);
  WriteArchiveHeader(out, 1);
  WriteVolumeBlock(out, {.id = 7,
                         .type = "CD/DVD",
                         .size = 4700000000,
                         .volume = "PHOTOS\r2004",  // a break in a single-line value
                         .volumeSerial = static_cast<int32_t>(0xDEADBEEFu),
                         .fileCount = 2,
                         .userId = "holiday",
                         .dateRecorded = 38154.5,
                         .text = "first\r\n\r\nthird\r\n"});
  WriteFileBlock(out, {.id = 12,
                       .name = "\xE9t\xE9.jpg",
                       .ext = ".jpg",
                       .path = "\\Photos\\",
                       .supportId = 7,
                       .comment = "",
                       .category = -1,
                       .crc = "",
                       .md5 = "0123456789abcdef0123456789abcdef",
                       .date = 38154.25,
                       .size = 3000000000,
                       .attributes = 32,
                       .text = "a\rb\nc"});
  ASSERT_EQ(out.Commit(), 0);
  EXPECT_EQ(readDiskFile("golden.cex"), withCrLf(R"(TOTAL_SUPPORT=1
CATALOG_EXPORT=101
@VOLUME=(
S_ID=7
S_TYPE=CD/DVD
S_SIZE=4700000000
S_VOLNAME=PHOTOS 2004
S_VOLSN=3735928559
S_FCOUNT=2
S_USRID=holiday
S_DATEREC=38154.500000
S_COMMENT.LINECOUNT=3
S_COMMENT.LINE.0=first
S_COMMENT.LINE.1=
S_COMMENT.LINE.2=third
)
@FILE=(
F_ID=12
)"
                                                 "F_NAME=\xE9t\xE9.jpg"
                                                 R"(
F_EXT=.jpg
F_PATH=\Photos\
F_SUPID=7
F_COMMENT=
F_CATEGORY=-1
F_CRC=
F_MD5=0123456789abcdef0123456789abcdef
F_DATE=38154.250000
F_SIZE=3000000000
F_ATTR=32
F_LCOMMENT.LINECOUNT=3
F_LCOMMENT.LINE.0=a
F_LCOMMENT.LINE.1=b
F_LCOMMENT.LINE.2=c
)
)"));

  // An output shorter than the mark a temporary file begins with.
  ArchiveOutput tiny;
  ASSERT_EQ(tiny.Open("tiny.cex"), 0);
  tiny.WriteLine("ab");
  ASSERT_EQ(tiny.Commit(), 0);
  EXPECT_EQ(readDiskFile("tiny.cex"), "ab\r\n");
}

TEST(ArchiveCodecTest, LinesEndAtEveryKindOfBreakAcrossBufferEdges) {
  const std::string l254(254, 'p'), l255(255, 'q'), l256(256, 'r');
  struct Case {
    std::string input;
    std::vector<std::string> lines;
  } cases[] = {
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb\n", {"a", "b"}},
      {"a\rb\r", {"a", "b"}},
      {"a\r\r\nb", {"a", "", "b"}},  // a lone CR, then CR LF
      {"\r\n\n", {"", ""}},
      {"a\r\nlast", {"a", "last"}},  // a last line without its end
      {std::string("a\0b\r\n\0", 6), {std::string("a\0b", 3), std::string(1, '\0')}},
      {l254 + "\r\n" + l255 + "\r\n" + l256 + "\r\n", {l254, l255, l256}},
      {l254 + "\n" + l255 + "\n" + l256 + "\n", {l254, l255, l256}},
      {"", {}},
  };
  for (const Case& c : cases) {
    for (size_t chunk : {1, 2, 3, 255, 256, 65536}) {
      SCOPED_TRACE(c.input.substr(0, 20) + " chunk " + std::to_string(chunk));
      ArchiveInput in(c.input, chunk);
      EXPECT_EQ(allLines(in), c.lines);
      EXPECT_EQ(in.error(), ArchiveInput::Error::kNone);
    }
  }
}

TEST(ArchiveCodecTest, NumbersSaturateAndNeverFollowTheLocale) {
  struct Case {
    std::string text;
    int32_t int32;
    int64_t int64;
    uint32_t serial;
    double days;
  } cases[] = {
      {" +12abc", 12, 12, 12, 12.0},
      {"-1", -1, -1, 0xFFFFFFFF, -1.0},
      {"4294967297", INT32_MAX, 4294967297, 0xFFFFFFFF, 4294967297.0},
      {"-99999999999999999999", INT32_MIN, INT64_MIN, 0xFFFFFFFF, -1e20},
      {"3.8154e4", 3, 3, 3, 38154.0},
      {"1e999", 1, 1, 1, 0.0},
      {"nan", 0, 0, 0, 0.0},
      {"", 0, 0, 0, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseInt32(c.text), c.int32);
    EXPECT_EQ(ParseInt64(c.text), c.int64);
    EXPECT_EQ(ParseSerial(c.text), c.serial);
    EXPECT_EQ(ParseDouble(c.text), c.days);
  }
  std::string written;
  AppendSixDecimals(written, 38154.0000006);
  AppendSixDecimals(written, -0.25);
  EXPECT_EQ(written, "38154.000001-0.250000");  // a point whatever the locale

  // Six decimals of a day back to the whole second they stand for.
  const struct {
    double days, second;
  } seconds[] = {
      {37164.953333, 37164 + 82368 / 86400.0},  // 22:52:48
      {45000.999999, 45001},                    // 24:00 is the next midnight
      {-1.500006, -1 - 43201 / 86400.0},        // below 0, the time after the point
      {-1.999999, 0},
      {1e20, 1e20},
  };
  for (const auto& c : seconds) EXPECT_EQ(NearestSecond(c.days), c.second) << c.days;
}

TEST(ArchiveCodecTest, ALineBeyondTheLimitEndsTheInput) {
  ArchiveInput fits(std::string(kMaxLineBytes, 'x') + "\r\nnext\r\n");
  EXPECT_EQ(allLines(fits).size(), 2u);
  ArchiveInput tooLong("first\r\n" + std::string(kMaxLineBytes + 1, 'x') + "\r\nnext\r\n", 4096);
  EXPECT_EQ(allLines(tooLong), std::vector<std::string>{"first"});
  EXPECT_EQ(tooLong.error(), ArchiveInput::Error::kLineTooLong);
  EXPECT_EQ(tooLong.linesRead(), 1);
  std::string line;
  EXPECT_FALSE(ReadArchiveLine(tooLong, line));  // the input stays ended
  EXPECT_EQ(tooLong.Peek(), -1);
}

TEST(ArchiveCodecTest, HeadersAreMatchedAsScanfMatchedThem) {
  struct Case {
    std::string input;
    int32_t total, format;
    std::string nextLine;
  } cases[] = {
      {"TOTAL_SUPPORT=3\r\nCATALOG_EXPORT=101\r\n@VOLUME=(\r\n", 3, 101, "@VOLUME=("},
      {"TOTAL_SUPPORT= 3\n\r\n  CATALOG_EXPORT=-3\n  x\n", 3, -3, "x"},
      {"CATALOG_EXPORT=101\r\nnext\r\n", 0, 101, "next"},  // the first pattern fails at once
      {"TOTAL_SUPPORT=x\r\nCATALOG_EXPORT=101\r\n", 0, 0, "x"},
      {"TOTAL_SUPPORT=99999999999\r\nCATALOG_EXPORT=4294967397\r\n", INT32_MAX, INT32_MAX, ""},
      {"", 0, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    ArchiveInput in(c.input);
    const ArchiveHeader header = ReadArchiveHeader(in);
    EXPECT_EQ(header.supportTotal, c.total);
    EXPECT_EQ(header.format, c.format);
    std::string line;
    ReadArchiveLine(in, line);
    EXPECT_EQ(line, c.nextLine);
  }
}

TEST(ArchiveCodecTest, VolumeBlocksTakeTheirValuesOnlyFromAWholeRunOfKeys) {
  const std::string comment = "S_COMMENT.LINECOUNT=1\r\nS_COMMENT.LINE.0=c\r\n";
  struct Case {
    const char* name;
    std::string input;  // after the opening line
    bool complete;
    int32_t id;
    std::string userId, text, nextLine;
    uint32_t serial = 0;
    int64_t size = 0;
  } cases[] = {
      {"shuffled keys in any case",
       crlf({"S_volsn=-1", "S_DATEREC=38154.5", "S_ID=3", "S_usrid=u", "S_FCOUNT=9", "S_TYPE=FD",
             "S_VOLNAME=V=W", "S_SIZE=  12abc"}) +
           comment + ")\r\n",
       true, 3, "u", "c", ")", 0xFFFFFFFF, 12},
      {"one line short: the count line completes the run",
       crlf({"S_ID=3", "S_TYPE=FD", "S_SIZE=1", "S_VOLNAME=V", "S_VOLSN=5", "S_FCOUNT=9",
             "S_DATEREC=1"}) +
           comment + ")\r\n",
       true, 3, "", "", ")", 5, 1},
      {"a key twice: the first counts, the missing one is empty",
       crlf({"S_ID=3", "S_ID=4", "S_TYPE=FD", "S_SIZE=1", "S_VOLNAME=V", "S_VOLSN=5", "S_FCOUNT=9",
             "S_DATEREC=1"}) +
           comment + ")\r\n",
       true, 3, "", "c", ")", 5, 1},
      {"a line short with no comment to fill in",
       crlf({"S_ID=3", "S_TYPE=FD", "S_SIZE=1", "S_VOLNAME=V", "S_VOLSN=5", "S_FCOUNT=9",
             "S_DATEREC=1", ")", "stray", "next"}),
       false, -9, "stale", "", "next"},
      {"the next block's opening line is left to the caller wherever it stands",
       crlf({"S_ID=3", "S_TYPE=FD", "@FILE=(", "next"}), false, -9, "stale", "", "@FILE=("},
      {"the same in place of the comment",
       crlf({"S_ID=3", "S_TYPE=FD", "S_SIZE=1", "S_VOLNAME=V", "S_VOLSN=5", "S_FCOUNT=9",
             "S_DATEREC=1", ")", "@VOLUME=(", "next"}),
       false, -9, "stale", "", "@VOLUME=("},
      {"cut by the end of the file", "S_ID=3\r\nS_TYPE=FD", false, -9, "stale", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ArchiveInput in(c.input, 5);
    TSupportRecord s;
    s.id = -9;
    s.userId = "stale";
    std::vector<std::string> work;
    EXPECT_EQ(ReadVolumeBlock(in, s, work), c.complete);
    EXPECT_EQ(s.id, c.id);
    EXPECT_EQ(s.userId, c.userId);
    EXPECT_EQ(s.text, c.text);
    if (c.complete) {
      EXPECT_EQ(static_cast<uint32_t>(s.volumeSerial), c.serial);
      EXPECT_EQ(s.size, c.size);
    }
    std::string line;
    ReadArchiveLine(in, line);
    EXPECT_EQ(line, c.nextLine);
  }
}

TEST(ArchiveCodecTest, MultiLineValuesSurviveDamagedCounts) {
  struct Case {
    const char* name;
    std::string input;
    std::string text, nextLine;
  } cases[] = {
      {"lines in any order and case",
       crlf({"F_LCOMMENT.LINECOUNT=3", "F_LCOMMENT.LINE.2=c", "F_LCOMMENT.LINE.0=a",
             "f_lcomment.line.1=b", "next"}),
       "a\r\nb\r\nc", "next"},
      {"the first of a number wins; a number not as %d writes it is no line",
       crlf({"F_LCOMMENT.LINECOUNT=3", "F_LCOMMENT.LINE.0=a", "F_LCOMMENT.LINE.0=z",
             "F_LCOMMENT.LINE.01=y", "next"}),
       "a\r\n\r\n", "next"},
      {"exactly the count is consumed, whatever the lines hold",
       crlf({"F_LCOMMENT.LINECOUNT=2", ")", "@FILE", "next"}), "", "next"},
      {"but a block's opening line ends the count and is left to the caller",
       crlf({"F_LCOMMENT.LINECOUNT=5", "F_LCOMMENT.LINE.0=a", "@VOLUME=(", "next"}), "a",
       "@VOLUME=("},
      {"empty lines at the start are lost, blanks are kept",
       crlf({"F_LCOMMENT.LINECOUNT=3",
             "F_LCOMMENT.LINE.0=", "F_LCOMMENT.LINE.1=", "F_LCOMMENT.LINE.2=  x", "next"}),
       "  x", "next"},
      {"no count", crlf({"F_LCOMMENT.LINECOUNT=abc", "next"}), "", "next"},
      {"a count of two billion ends at the end of the file",
       crlf({"F_LCOMMENT.LINECOUNT=2000000000", "F_LCOMMENT.LINE.0=a", "F_LCOMMENT.LINE.1=b",
             "F_LCOMMENT.LINE.1999999999=z"}),
       "a\r\nb\r\n", ""},
      {"a count beyond 64 bits", crlf({"F_LCOMMENT.LINECOUNT=99999999999999999999999", ")"}), "",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ArchiveInput in(c.input, 3);
    std::string text;
    ReadMultiLineValue(in, "F_LCOMMENT", text);
    EXPECT_EQ(text, c.text);
    std::string line;
    ReadArchiveLine(in, line);
    EXPECT_EQ(line, c.nextLine);
  }
}

}  // namespace
