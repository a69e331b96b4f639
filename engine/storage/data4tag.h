// The tags a handle sees through its indexes, the one it walks in, and the
// keys it seeks in that tag.
#pragma once

#include <cstdint>

struct DATA4;
struct TAG4;

// The tag of that name (cut to ten characters, any letter case) over every
// index of the handle; null when none (-330 at 90201, naming it, when the
// settings report unknown tag names).
TAG4* data4tag(DATA4* d, const char* name);
// The selected tag, else the first tag of the first index, else null.
TAG4* data4tagDefault(DATA4* d);
// The tag after / before `tag` over all indexes in order; the first / last
// for null.
TAG4* data4tagNext(DATA4* d, TAG4* tag);
TAG4* data4tagPrev(DATA4* d, TAG4* tag);
// Selects the tag the handle walks in; null walks in record order.
void data4tagSelect(DATA4* d, TAG4* tag);
TAG4* data4tagSelected(DATA4* d);

// Seeks a key in the selected tag (or the first): 0 found, 2 on the next
// greater key, 3 past the last, 50 locked, 80 no tag at all.
int32_t data4seek(DATA4* d, const char* key);
int32_t data4seekN(DATA4* d, const char* key, int16_t length);
// The next record of the same key after the current one: as data4seek, or
// 5 with the handle on the next record when its key differs.
int32_t data4seekNext(DATA4* d, const char* key);
int32_t data4seekNextN(DATA4* d, const char* key, int16_t length);
// Seeks a number in a tag with a numeric key (-250 at 80122 otherwise).
int32_t data4seekDouble(DATA4* d, double value);

// Rebuilds every index of the handle from its records.
int32_t data4reindex(DATA4* d);

// Tag-order moves, used by the record-order moves when a tag is selected.
int32_t data4topTag(DATA4* d, TAG4* tag);
int32_t data4bottomTag(DATA4* d, TAG4* tag);
int32_t data4skipTag(DATA4* d, TAG4* tag, int32_t n);
