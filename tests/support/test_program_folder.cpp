#include "tests/support/test_program_folder.h"

#include <unistd.h>

#include <filesystem>

namespace {

std::string currentFolder() {
  std::error_code error;
  return std::filesystem::current_path(error).string() + "/";
}

}  // namespace

TestProgramFolder::TestProgramFolder(const std::string& languageLibrary)
    : folder_(currentFolder()), path_(folder_ + "vantrelodisk"), check_(BuiltProgram()) {
  if (!languageLibrary.empty()) {
    std::filesystem::copy_file(languageLibrary, folder_ + "QuendrixResDemo.dll",
                               std::filesystem::copy_options::overwrite_existing);
  }
}

std::string BuiltLanguageLibrary() { return BUILT_PROGRAM_FOLDER "/QuendrixResDemo.dll"; }

std::string BuiltProgram() { return BUILT_PROGRAM_FOLDER "/vantrelodisk"; }

std::string SmallLanguageLibrary() { return TEST_LANGUAGES_FOLDER "/small/QuendrixResDemo.dll"; }

std::string HostileLanguageLibrary() {
  return TEST_LANGUAGES_FOLDER "/hostile/QuendrixResDemo.dll";
}

std::string HarmfulLanguageLibrary(const std::string& kind) {
  return TEST_LANGUAGES_FOLDER "/" + kind + "/QuendrixResDemo.dll";
}
