// The two built-in GENERAL tables and the expansion table they share.
//
// Each table holds 256 pairs (weight, sub-sort) indexed by the character.
// Weights:
//   0x10        control characters and unused codes    0x11  blank, tab
//   0x12-0x31   ASCII punctuation, in code order        0x56-0x5F  digits 0-9
//   0x32-0x49   the other symbols of 0x82-0xBF, in code order, two to a
//               weight told apart by sub-sorts 1 and 2 (there are 47 of
//               them and only 34 weights left below 0x54)
//   0x54, 0x55  multiplication and division signs
//   0x60-0x7E   letters, either case; 0x65 eth, 0x81 o-stroke
//   0xFF        the expansion marker: the sub-sort names the expansion entry
// Sub-sorts: 0 for the plain letters A C E I N O S U Y that have accented
// forms, then acute 1, grave 2, circumflex 3, diaeresis 4, tilde 5, ring 6,
// cedilla 7, caron 8; 1 also for variants such as the no-break space and
// the superscript digits; 255 (no-tail) for everything else.
#include <array>
#include <initializer_list>

#include "engine/index/collate4internal.h"

namespace {

using Table = std::array<unsigned char, 2 * collate4characters>;

constexpr unsigned char kNone = collate4generalNoTail;
constexpr unsigned char kControl = 0x10;
constexpr unsigned char kBlank = 0x11;

enum Accent : unsigned char {
  kPlain = 0,
  kAcute = 1,
  kGrave = 2,
  kCircumflex = 3,
  kDiaeresis = 4,
  kTilde = 5,
  kRing = 6,
  kCedilla = 7,
  kCaron = 8,
};
constexpr unsigned char kVariant = 1;

// Letter weights A-Z: gaps leave room for letters that sort between them.
constexpr unsigned char kLetter[26] = {0x60, 0x61, 0x62, 0x64, 0x66, 0x67, 0x68, 0x69, 0x6A,
                                       0x6B, 0x6C, 0x6D, 0x6F, 0x70, 0x72, 0x73, 0x74, 0x75,
                                       0x76, 0x77, 0x78, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E};

constexpr unsigned char letter(char upper) { return kLetter[upper - 'A']; }

constexpr unsigned char digit(char d) { return static_cast<unsigned char>(0x56 + (d - '0')); }

// Expansion entries of the shared table.
enum : unsigned char { kOE = 0, kAE = 1, kTH = 2, kSS = 3 };

struct Builder {
  Table table{};
  std::array<bool, collate4characters> assigned{};

  constexpr void set(int c, unsigned char weight, unsigned char subSort = kNone) {
    table[2 * c] = weight;
    table[2 * c + 1] = subSort;
    assigned[c] = true;
  }
  constexpr void accented(int c, char base, Accent accent) { set(c, letter(base), accent); }
  constexpr void expands(int c, unsigned char entry) { set(c, collate4generalMarker, entry); }
  // Characters first..last weighted from `weight` on, one each.
  constexpr void run(int first, int last, unsigned char weight) {
    for (int c = first; c <= last; c++) set(c, static_cast<unsigned char>(weight + (c - first)));
  }
};

// 0x00-0x7F: the part both tables share.
constexpr void setAscii(Builder& b) {
  for (int c = 0; c < 0x20; c++) b.set(c, kControl);
  b.set('\t', kBlank);
  b.set(' ', kBlank);
  b.run(0x21, 0x2F, 0x12);
  b.run('0', '9', digit('0'));
  b.run(0x3A, 0x40, 0x21);
  b.run(0x5B, 0x60, 0x28);
  b.run(0x7B, 0x7E, 0x2E);
  b.set(0x7F, kControl);
  for (char upper = 'A'; upper <= 'Z'; upper++) {
    const bool hasAccents = upper == 'A' || upper == 'C' || upper == 'E' || upper == 'I' ||
                            upper == 'N' || upper == 'O' || upper == 'S' || upper == 'U' ||
                            upper == 'Y';
    const unsigned char subSort = hasAccents ? static_cast<unsigned char>(kPlain) : kNone;
    b.set(upper, letter(upper), subSort);
    b.set(upper + ('a' - 'A'), letter(upper), subSort);
  }
}

// Upper case at `upper`, lower case 0x20 above it, for a run of accents.
constexpr void accentedPair(Builder& b, int upper, char base,
                            std::initializer_list<Accent> accents) {
  int c = upper;
  for (Accent accent : accents) {
    b.accented(c, base, accent);
    b.accented(c + 0x20, base, accent);
    c++;
  }
}

constexpr Table buildWindows() {
  Builder b;
  setAscii(b);
  for (int c : {0x80, 0x81, 0x8D, 0x8E, 0x8F, 0x90, 0x9D, 0x9E}) b.set(c, kControl);
  b.accented(0x8A, 'S', kCaron);
  b.accented(0x9A, 'S', kCaron);
  b.accented(0x9F, 'Y', kDiaeresis);
  b.expands(0x8C, kOE);
  b.expands(0x9C, kOE);
  b.set(0xA0, 0x20, kVariant);
  b.set(0xB2, digit('2'), kVariant);
  b.set(0xB3, digit('3'), kVariant);
  b.set(0xB9, digit('1'), kVariant);
  accentedPair(b, 0xC0, 'A', {kGrave, kAcute, kCircumflex, kTilde, kDiaeresis, kRing});
  b.expands(0xC6, kAE);
  b.expands(0xE6, kAE);
  accentedPair(b, 0xC7, 'C', {kCedilla});
  accentedPair(b, 0xC8, 'E', {kGrave, kAcute, kCircumflex, kDiaeresis});
  accentedPair(b, 0xCC, 'I', {kGrave, kAcute, kCircumflex, kDiaeresis});
  b.set(0xD0, 0x65);
  b.set(0xF0, 0x65);
  accentedPair(b, 0xD1, 'N', {kTilde});
  accentedPair(b, 0xD2, 'O', {kGrave, kAcute, kCircumflex, kTilde, kDiaeresis});
  b.set(0xD7, 0x54);
  b.set(0xF7, 0x55);
  b.set(0xD8, 0x81);
  b.set(0xF8, 0x81);
  accentedPair(b, 0xD9, 'U', {kGrave, kAcute, kCircumflex, kDiaeresis});
  accentedPair(b, 0xDD, 'Y', {kAcute});
  b.expands(0xDE, kTH);
  b.expands(0xFE, kTH);
  b.expands(0xDF, kSS);
  b.accented(0xFF, 'Y', kDiaeresis);
  // The remaining symbols, in code order.
  int k = 0;
  for (int c = 0x82; c <= 0xBF; c++) {
    if (b.assigned[c]) continue;
    b.set(c, static_cast<unsigned char>(0x32 + k / 2), static_cast<unsigned char>(1 + k % 2));
    k++;
  }
  // Checked while compiling: every code has its weight, and the symbols
  // stayed below the multiplication sign.
  for (bool done : b.assigned)
    if (!done) throw "a character without a weight";
  if (0x32 + (k - 1) / 2 >= 0x54) throw "symbol weights overflow";
  return b.table;
}

constexpr Table buildOem() {
  Builder b;
  setAscii(b);
  for (int c = 0x80; c < collate4characters; c++) b.set(c, kControl);
  b.accented(0x80, 'C', kCedilla);
  b.accented(0x81, 'U', kDiaeresis);
  b.accented(0x82, 'E', kAcute);
  b.accented(0x83, 'A', kCircumflex);
  b.accented(0x84, 'A', kDiaeresis);
  b.accented(0x85, 'A', kGrave);
  b.accented(0x86, 'A', kRing);
  b.accented(0x87, 'C', kCedilla);
  b.accented(0x88, 'E', kCircumflex);
  b.accented(0x89, 'E', kDiaeresis);
  b.accented(0x8A, 'E', kGrave);
  b.accented(0x8B, 'I', kDiaeresis);
  b.accented(0x8C, 'I', kCircumflex);
  b.accented(0x8D, 'I', kGrave);
  b.accented(0x8E, 'A', kDiaeresis);
  b.accented(0x8F, 'A', kRing);
  b.accented(0x90, 'E', kAcute);
  b.expands(0x91, kAE);
  b.expands(0x92, kAE);
  b.accented(0x93, 'O', kCircumflex);
  b.accented(0x94, 'O', kDiaeresis);
  b.accented(0x95, 'O', kGrave);
  b.accented(0x96, 'U', kCircumflex);
  b.accented(0x97, 'U', kGrave);
  b.accented(0x98, 'Y', kDiaeresis);
  b.accented(0x99, 'O', kDiaeresis);
  b.accented(0x9A, 'U', kDiaeresis);
  b.accented(0xA0, 'A', kAcute);
  b.accented(0xA1, 'I', kAcute);
  b.accented(0xA2, 'O', kAcute);
  b.accented(0xA3, 'U', kAcute);
  b.accented(0xA4, 'N', kTilde);
  b.accented(0xA5, 'N', kTilde);
  b.expands(0xE1, kSS);
  return b.table;
}

constexpr Table kWindows = buildWindows();
constexpr Table kOem = buildOem();

constexpr Collate4Expansion kExpansion[collate4generalExpansions + 1] = {
    {collate4expand, 'O', 'E'}, {collate4expand, 'A', 'E'}, {collate4expand, 'T', 'H'},
    {collate4expand, 'S', 'S'}, {collate4end, 0, 0},
};

}  // namespace

const unsigned char* collate4generalTable(int32_t number) {
  if (number == collate4generalWindows) return kWindows.data();
  if (number == collate4generalOem) return kOem.data();
  return nullptr;
}

const Collate4Expansion* collate4generalExpansion() { return kExpansion; }
