#include "app/TextFormat.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <string>

namespace {

TEST(TextFormat, FillsConversionsAsPrintfDoes) {
  const int32_t minusOne = -1;
  const struct {
    std::string got;
    std::string expected;
  } cases[] = {
      {FormatText("Trouvé(s) : %d", {42}), "Trouvé(s) : 42"},
      {FormatText("%05d", {7}), "00007"},
      {FormatText("[%5d]", {-42}), "[  -42]"},
      {FormatText("[%-5d|%+d|% d]", {3, 4, 5}), "[3    |+4| 5]"},
      {FormatText("%ld octet(s)", {int32_t{-5}}), "-5 octet(s)"},
      {FormatText("%ld", {int64_t{5000000000}}), "5000000000"},
      {FormatText("%lu", {minusOne}), "4294967295"},
      {FormatText("%04X-%04X", {0xABCu, 0x12u}), "0ABC-0012"},
      {FormatText("%#x %o", {255, 8}), "0xff 10"},
      {FormatText("%.3d|%.0d|", {7, 0}), "007||"},
      {FormatText("%.2f Mo", {4.0}), "4.00 Mo"},
      {FormatText("Total : %12.2f Mo", {10240.0}), "Total :     10240.00 Mo"},
      {FormatText("%f", {38154.5}), "38154.500000"},
      {FormatText("%e|%g|%G", {1234.5, 0.0001, 1e20}), "1.234500e+03|0.0001|1E+20"},
      {FormatText("%08.2f|%-8.1f|", {-3.14159, 2.0}), "-0003.14|2.0     |"},
      {FormatText("%s=%-4s|%.2s", {"A", "b", "xyz"}), "A=b   |xy"},
      {FormatText("%*d|%-*d|%.*f", {4, 1, 3, 2, 1, 2.25}), "   1|2  |2.2"},
      {FormatText("%c%c 100%%", {'o', 'k'}), "ok 100%"},
      // Values missing, too many, or of another kind: nothing is read
      // beyond what was given.
      {FormatText("%d and %s and %f", {1}), "1 and  and "},
      {FormatText("%d", {1, 2, 3}), "1"},
      {FormatText("%s|%d", {5, "x"}), "|0"},
      {FormatText("%n%p|end%", {1, 2}), "|end"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expected);
}

TEST(TextFormat, NumbersIgnoreTheProcessLocaleAndWidthsAreCapped) {
  const char* previous = std::setlocale(LC_ALL, nullptr);
  const std::string saved = previous != nullptr ? previous : "C";
  if (std::setlocale(LC_ALL, "fr_FR.UTF-8") == nullptr) GTEST_SKIP() << "no French locale";
  EXPECT_EQ(FormatText("%.2f|%g", {1234.5, 0.5}), "1234.50|0.5");
  std::setlocale(LC_ALL, saved.c_str());

  EXPECT_EQ(FormatText("%999999999d", {1}).size(), static_cast<size_t>(kMaxFieldWidth));
  EXPECT_EQ(FormatText("%.999999999f", {1.0}).size(), static_cast<size_t>(kMaxFieldWidth + 2));
}

TEST(TextFormat, TranslationIsUsedOnlyWithTheSameKindsOfValue) {
  const char* builtIn = "Taille totale : %ld octet(s) de données";
  EXPECT_EQ(FormatTranslated("Total size: %d bytes", builtIn, {12}), "Total size: 12 bytes");
  EXPECT_EQ(FormatTranslated("Total size: %s bytes", builtIn, {12}),
            "Taille totale : 12 octet(s) de données");
  EXPECT_EQ(FormatTranslated("Total size", builtIn, {12}),
            "Taille totale : 12 octet(s) de données");
  EXPECT_EQ(FormatTranslated("%d %d", builtIn, {12}), "Taille totale : 12 octet(s) de données");
  EXPECT_EQ(FormatTranslated("%n%d", builtIn, {12}), "Taille totale : 12 octet(s) de données");
  // Width, flags and length may change; '*' takes a value of its own.
  EXPECT_EQ(FormatTranslated("MEDIA: %-3u read, %i", "SUPPORTS : %5d traité(s), %d", {4, 2}),
            "MEDIA: 4   read, 2");
  EXPECT_EQ(FormatTranslated("%*d", "%d", {4, 2}), "4");
  EXPECT_EQ(FormatTranslated("Used: %.1f%%", "Used  : %12.2f Mo", {6144.0}), "Used: 6144.0%");
}

}  // namespace
