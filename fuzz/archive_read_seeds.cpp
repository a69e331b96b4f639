// Writes seed inputs for archive_read_fuzz into the folder given: an
// archive as the export writes it (two supports, files, comments of several
// lines, a serial above 2^31, a 64-bit size) and hand-made variants: LF and
// lone CR line ends, shuffled lower-case keys, a block one line short, a
// comment count of two billion at the end, a header of white space.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "features/archive/ArchiveOutput.h"
#include "features/archive/ArchiveWriter.h"
#include "tests/support/disk_file.h"

namespace {

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "archive_read_seeds: %s failed\n", what);
  std::exit(1);
}

void writeSeed(const std::string& folder, const char* name, const std::string& bytes) {
  FILE* out = std::fopen((folder + "/" + name).c_str(), "wb");
  check(out != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size(), name);
  check(std::fclose(out) == 0, name);
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  check(argc == 2, "usage: archive_read_seeds FOLDER");
  const std::string folder = argv[1];
  {
    archive::ArchiveOutput out;
    check(out.Open(folder + "/exported") == 0, "open");
    archive::WriteArchiveHeader(out, 2);
    for (int32_t s = 1; s <= 2; s++) {
      TSupportRecord support;
      support.id = s;
      support.type = "CD/DVD";
      support.size = 4700000000;
      support.volume = "DISC" + std::to_string(s);
      support.volumeSerial = static_cast<int32_t>(0xDEADBEEFu) + s;
      support.fileCount = 3;
      support.userId = "short";
      support.dateRecorded = 38154.5;
      support.text = s == 1 ? "one\r\n\r\nthree" : "";
      archive::WriteVolumeBlock(out, support);
      for (int32_t f = 0; f < 3; f++) {
        TFileRecord file;
        file.id = s * 10 + f;
        file.name = "file" + std::to_string(f) + ".txt";
        file.ext = ".txt";
        file.path = f == 2 ? "@11:\\sub\\" : "\\docs\\";
        file.supportId = s;
        file.category = -1;
        file.date = 38000.25;
        file.size = 3000000000;
        file.attributes = 32;
        file.text = f == 1 ? "a\r\nb" : "";
        archive::WriteFileBlock(out, file);
      }
    }
    check(out.Commit() == 0, "commit");
  }
  const std::string exported = testing_support::readDiskFile(folder + "/exported");
  writeSeed(folder, "lf", replaced(exported, "\r\n", "\n"));
  writeSeed(folder, "cr", replaced(exported, "\r\n", "\r"));
  writeSeed(folder, "shuffled",
            replaced(replaced(exported, "S_ID=1\r\nS_TYPE=CD/DVD", "S_type=CD/DVD\r\nS_iD=1"),
                     "F_LCOMMENT.LINE.0=a\r\nF_LCOMMENT.LINE.1=b",
                     "f_lcomment.line.1=b\r\nF_LCOMMENT.LINE.0=a"));
  writeSeed(folder, "short_block", replaced(exported, "S_USRID=short\r\n", ""));
  writeSeed(folder, "huge_count",
            exported + "@FILE=(\r\nF_LCOMMENT.LINECOUNT=2000000000\r\nF_LCOMMENT.LINE.0=x");
  writeSeed(folder, "blank_header", " \r\n\tTOTAL_SUPPORT= -1 \r\n\r\nCATALOG_EXPORT=+7\r\n");
  return 0;
}
