// Writes seed inputs for language_report_fuzz into the folder given: the
// reports of a library without languages, of one language with a missing
// string, and of two named languages of three entries with the start entry
// beyond them, one of them after what a loader wrote first.
#include <cstdio>
#include <string>

#include "app/LanguageLibraryCheck.h"
#include "app/LanguageSnapshot.h"

namespace {

namespace snap = language_snapshot;

void write(const std::string& folder, const char* name, const std::string& bytes) {
  if (std::FILE* out = std::fopen((folder + "/" + name).c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  snap::Snapshot none;
  none.languages.resize(1);
  write(argv[1], "none", language_check::CheckerReport(none));

  snap::Snapshot one;
  one.defaultLanguage = 7;
  one.entryIds = {7};
  one.startEntryId = 7;
  one.stringCount = 3;
  one.languages = {{7, false, "", {"string 0", "", "%d \xE9l\xE9ments"}}};
  write(argv[1], "one", language_check::CheckerReport(one));

  snap::Snapshot two;
  two.defaultLanguage = 1033;
  two.entryIds = {1033, 1036, 1033};
  two.startEntry = 5;
  two.stringCount = 2;
  two.languages = {{1033, true, "English", {"&File", "Show tool bar"}},
                   {1036, true, "Fran\347ais", {"&Fichier", ""}},
                   {0, false, "", {"", ""}}};
  write(argv[1], "two", language_check::CheckerReport(two));
  write(argv[1], "after-loader-text",
        "Inconsistency detected by ld.so: a line\n" + language_check::CheckerReport(two));
  return 0;
}
