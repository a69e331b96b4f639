// The forms' uses of the string table, read from their sources: every text
// id that a LocalText or LocalFormat call (or a `wording` callable that
// stands for LocalFormat) names has an English and a French
// text, the French text is the built-in text the call gives (so that the
// library's French shows what the program shows without it), and no id
// stands for two different built-in texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/language/LanguageTexts.h"
#include "tests/support/disk_file.h"

namespace {

namespace fs = std::filesystem;

// Documented in FrenchTexts.cpp: id 79 stands for three built-in texts and
// has no French text; id 139, an empty prefix, has no text at all.
const std::set<int> kLeftToTheProgram = {79, 139};

struct Use {
  std::string place;  // file:line
  int id;
  std::optional<std::string> builtIn;  // when the call gives it as a literal
};

// Reads C++ source text from a position on.
class SourceReader {
 public:
  SourceReader(const std::string& text, size_t at) : text_(text), at_(at) {}

  void skipBlanks() {
    while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) at_++;
  }
  bool take(const std::string& word) {
    skipBlanks();
    if (text_.compare(at_, word.size(), word) != 0) return false;
    at_ += word.size();
    return true;
  }
  std::optional<int> number() {
    skipBlanks();
    const size_t start = at_;
    while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) at_++;
    if (at_ == start || at_ - start > 6) return std::nullopt;
    return std::stoi(text_.substr(start, at_ - start));
  }
  // Adjacent string literals as one text, their escapes read.
  std::optional<std::string> literals() {
    std::string value;
    bool any = false;
    while (take("\"")) {
      any = true;
      while (at_ < text_.size() && text_[at_] != '"') {
        char c = text_[at_++];
        if (c == '\\' && at_ < text_.size()) c = escaped(text_[at_++]);
        value += c;
      }
      at_++;
    }
    if (!any) return std::nullopt;
    return value;
  }

 private:
  static char escaped(char c) {
    switch (c) {
      case 'n':
        return '\n';
      case 't':
        return '\t';
      case 'r':
        return '\r';
      default:
        return c;  // \" \\ \'
    }
  }

  const std::string& text_;
  size_t at_;
};

bool identifierCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The calls with a literal text id in one source file.
void collectUses(const fs::path& file, std::vector<Use>& uses) {
  const std::string text = testing_support::readDiskFile(file.string());
  for (const std::string call : {"LocalText(", "LocalFormat(", "wording("}) {
    for (size_t at = text.find(call); at != std::string::npos; at = text.find(call, at + 1)) {
      if (at > 0 && identifierCharacter(text[at - 1])) continue;
      SourceReader reader(text, at + call.size());
      const std::optional<int> id = reader.number();
      if (!id || !reader.take(",")) continue;
      Use use{file.filename().string() + ":" +
                  std::to_string(1 + std::count(text.begin(), text.begin() + at, '\n')),
              *id, std::nullopt};
      if (call != "LocalText(") {
        use.builtIn = reader.literals();
      } else if (reader.take("QStringLiteral(") || reader.take("QString::fromUtf8(")) {
        use.builtIn = reader.literals();
      }
      uses.push_back(use);
    }
  }
}

std::vector<Use> sourceUses() {
  std::vector<Use> uses;
  for (const char* folder : {"app", "features"}) {
    for (const auto& entry : fs::recursive_directory_iterator(fs::path(SOURCE_FOLDER) / folder)) {
      const fs::path extension = entry.path().extension();
      if (extension == ".cpp" || extension == ".h") collectUses(entry.path(), uses);
    }
  }
  return uses;
}

TEST(TextIds, EveryIdTheFormsUseHasBothTextsAndItsFrenchIsTheBuiltIn) {
  namespace lt = language_texts;
  const std::vector<Use> uses = sourceUses();
  // Far fewer would mean that the calls are no longer read.
  EXPECT_GT(uses.size(), 100u);
  size_t literals = 0;
  std::map<int, Use> firstBuiltIn;
  for (const Use& use : uses) {
    SCOPED_TRACE(use.place + ": text " + std::to_string(use.id));
    ASSERT_GE(use.id, 0);
    ASSERT_LT(use.id, lt::kTextCount);
    if (kLeftToTheProgram.count(use.id) != 0) continue;
    const char* english = lt::kEnglish[static_cast<size_t>(use.id)];
    const char* french = lt::kFrench[static_cast<size_t>(use.id)];
    EXPECT_NE(english, nullptr) << "no English text";
    EXPECT_NE(french, nullptr) << "no French text";
    if (!use.builtIn) continue;
    literals++;
    if (french != nullptr) {
      EXPECT_EQ(*use.builtIn, french);
    }
    const auto [first, added] = firstBuiltIn.emplace(use.id, use);
    if (!added) {
      EXPECT_EQ(*use.builtIn, *first->second.builtIn) << "as at " << first->second.place;
    }
  }
  EXPECT_GT(literals, 80u);
}

}  // namespace
