// What the collation files share among themselves and nobody else.
#pragma once

#include <cstdint>
#include <mutex>

#include "engine/index/collate4.h"

struct CODE4;

// The sub-sort value of the general tables that leaves nothing in a key, and
// their expansion marker.
inline constexpr unsigned char collate4generalNoTail = 255;
inline constexpr unsigned char collate4generalMarker = 255;
inline constexpr int32_t collate4generalExpansions = 4;

// The general tables: 256 pairs (weight, sub-sort) for collation 2 (Windows
// text) or 3 (OEM text), and the expansion table both share, ending with its
// collate4end entry.
const unsigned char* collate4generalTable(int32_t number);
const Collate4Expansion* collate4generalExpansion();

// Guards loading, building the wide tables and freeing.
std::mutex& collate4lock();

// collate4load with the lock held.
int32_t collate4loadLocked(CODE4* c, int32_t number, COLLATE4* collate);
