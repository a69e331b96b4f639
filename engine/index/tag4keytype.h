// The choice, by key type, of a tag's key routines, compare and pad byte.
//
//   key type            routines (seek converters)         pad byte
//   C                   bytes copied, blank padded         blank
//   C with a collation  collated string key                0
//   W, O                wide key (collated with one)       0
//   D, d  I, Q  P, R    date, integer, unsigned            0
//   T  N, n  Y          date-time, numeric, currency       0
//   1, 2, 3, 4          the internal result kinds          0
//   L                   logical                            left as it was
//   any other           refused: -910 at 80121
//
// Only C, W and O keys follow a collation; a collated key needs a
// collation of kind 6, loaded on first use (-1090 at 80187 otherwise).
// The tag of tags uses the C routines with a blank pad.
//
// The converters of every type but C in machine order, and the collations,
// belong to the key-conversion and collation modules: they install them
// here once at start-up, before any tag is set up. Until then a tag of such
// a type gets no converter (seeks by text or number of that type are not
// possible) and collated tags are refused.
#pragma once

#include <cstdint>

#include "engine/index/tag4file.h"

struct CODE4;

// What the collation module offers the tags.
struct Tag4Collation {
  // Loads collation `number` when it is not loaded yet and returns its kind
  // (6: keys can be made under it), or a negative error already raised.
  int32_t (*kind)(CODE4* c, int32_t number) = nullptr;
  // The compare of keys made under collation `number`, with the contract of
  // Tag4Compare.
  Tag4Compare (*compare)(int32_t number) = nullptr;
};

// Installs the converters of key type `type`, in machine order or, for C,
// W and O, under a collation (`collated`). 0, or -1 for a type the table
// does not know. Not thread-safe: call before tags are set up.
int32_t tag4keyRoutinesInstall(char type, bool collated, const Tag4KeyRoutines& routines);
// Installs the collation hooks (a default-constructed value removes them).
void tag4collationInstall(const Tag4Collation& hooks);

// Gives the tag the routines, compare and pad byte of key type `type`
// under collation `collation` (tag4machineOrder for none). 0, -910 at
// 80121 for an unknown type, or -1090 at 80187 for a collation that cannot
// be loaded or is not of kind 6.
int32_t tagfile4keyTypeSet(TAG4FILE* t, char type, int32_t collation);
