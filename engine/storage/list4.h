// Circular doubly linked lists of engine structures.
//
// Every listed structure begins with a LINK4. A list keeps its last link;
// the ring is circular, so the first link is the last link's next. A link
// knows the list that holds it, so membership is answered at once and a
// structure can never sit in two lists. Lists carry no lock of their own:
// each is guarded by the lock of its owner.
//
// Every operation raises without a settings object. Builds with
// ENGINE_LIST_CHECKS (debug builds) walk the whole ring after each change.
#pragma once

#include <cstdint>

struct LIST4;

struct LINK4 {
  LINK4* next = nullptr;
  LINK4* prev = nullptr;
  LIST4* owner = nullptr;  // the list holding this link, or null
};

struct LIST4 {
  LINK4* lastNode = nullptr;
  LINK4* selected = nullptr;  // a cursor some users keep; moves back on remove
  uint32_t nLink = 0;
};

int32_t list4add(LIST4* list, LINK4* link);
int32_t list4addAfter(LIST4* list, LINK4* anchor, LINK4* link);
int32_t list4addBefore(LIST4* list, LINK4* anchor, LINK4* link);
LINK4* list4first(const LIST4* list);
LINK4* list4last(const LIST4* list);
LINK4* list4next(const LIST4* list, const LINK4* link);
LINK4* list4prev(const LIST4* list, const LINK4* link);
LINK4* list4pop(LIST4* list);
LINK4* list4remove(LIST4* list, LINK4* link);
void list4init(LIST4* list);

// True when `link` is in `list`.
bool list4contains(const LIST4* list, const LINK4* link);

// Walks the whole ring: 0 when it is sound, else the raised -910.
int32_t list4check(const LIST4* list);

// Typed access for structures that begin with their LINK4.
template <class T>
T* list4firstAs(const LIST4* list) {
  return reinterpret_cast<T*>(list4first(list));
}
template <class T>
T* list4nextAs(const LIST4* list, const T* item) {
  return reinterpret_cast<T*>(list4next(list, reinterpret_cast<const LINK4*>(item)));
}
