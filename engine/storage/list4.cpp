#include "engine/storage/list4.h"

#include "engine/storage/error4.h"

namespace {

// Locations of the list checks.
constexpr int32_t kLocAdd = 90420;
constexpr int32_t kLocAddAfter = 90421;
constexpr int32_t kLocAddBefore = 90422;
constexpr int32_t kLocFirst = 90424;
constexpr int32_t kLocLast = 90425;
constexpr int32_t kLocMember = 80229;
constexpr int32_t kLocCheck = 80228;
constexpr int32_t kLocSelected = 90420;

int32_t checkAfterChange(const LIST4* list) {
#ifdef ENGINE_LIST_CHECKS
  return list4check(list);
#else
  (void)list;
  return 0;
#endif
}

void linkAlone(LIST4* list, LINK4* link) {
  link->next = link;
  link->prev = link;
  list->lastNode = link;
}

void spliceAfter(LINK4* anchor, LINK4* link) {
  link->prev = anchor;
  link->next = anchor->next;
  anchor->next->prev = link;
  anchor->next = link;
}

// The common part of the two insertions: validation and the empty case.
// Returns 1 when the caller must splice beside the anchor.
int32_t prepareAdd(LIST4* list, LINK4* anchor, LINK4* link, int32_t location) {
  if (list == nullptr || link == nullptr) return error4(nullptr, e4parmNull, location);
  if (link->owner != nullptr) return error4(nullptr, e4info, location);
  if (list->lastNode == nullptr) {
    linkAlone(list, link);
    return 0;
  }
  if (anchor == nullptr) return error4(nullptr, e4parmNull, location);
  if (anchor->owner != list) return error4(nullptr, e4info, location);
  return 1;
}

int32_t finishAdd(LIST4* list, LINK4* link) {
  link->owner = list;
  list->nLink++;
  return checkAfterChange(list);
}

}  // namespace

void list4init(LIST4* list) { *list = LIST4{}; }

bool list4contains(const LIST4* list, const LINK4* link) {
  return list != nullptr && link != nullptr && link->owner == list;
}

int32_t list4check(const LIST4* list) {
  if (list == nullptr) return error4(nullptr, e4parmNull, kLocCheck);
  if ((list->lastNode == nullptr) != (list->nLink == 0)) return error4(nullptr, e4info, kLocCheck);
  const LINK4* link = list->lastNode;
  for (uint32_t i = 0; i < list->nLink; i++) {
    if (link->owner != list || link->next->prev != link || link->prev->next != link)
      return error4(nullptr, e4info, kLocCheck);
    link = link->next;
    // Coming back to the last link before the count-th step means the ring
    // is shorter than the count says.
    if (link == list->lastNode && i + 1 != list->nLink) return error4(nullptr, e4info, kLocCheck);
  }
  if (link != list->lastNode) return error4(nullptr, e4info, kLocCheck);
  if (list->selected != nullptr && list->selected->owner != list)
    return error4(nullptr, e4info, kLocSelected);
  return 0;
}

int32_t list4add(LIST4* list, LINK4* link) {
  if (list == nullptr || link == nullptr) return error4(nullptr, e4parmNull, kLocAdd);
  return list4addAfter(list, list->lastNode, link);
}

int32_t list4addAfter(LIST4* list, LINK4* anchor, LINK4* link) {
  int32_t rc = prepareAdd(list, anchor, link, kLocAddAfter);
  if (rc < 0) return rc;
  if (rc == 1) {
    spliceAfter(anchor, link);
    if (anchor == list->lastNode) list->lastNode = link;
  }
  return finishAdd(list, link);
}

int32_t list4addBefore(LIST4* list, LINK4* anchor, LINK4* link) {
  int32_t rc = prepareAdd(list, anchor, link, kLocAddBefore);
  if (rc < 0) return rc;
  if (rc == 1) spliceAfter(anchor->prev, link);  // the last link stays the last
  return finishAdd(list, link);
}

LINK4* list4first(const LIST4* list) {
  if (list == nullptr) {
    error4(nullptr, e4parmNull, kLocFirst);
    return nullptr;
  }
  return list->lastNode == nullptr ? nullptr : list->lastNode->next;
}

LINK4* list4last(const LIST4* list) {
  if (list == nullptr) {
    error4(nullptr, e4parmNull, kLocLast);
    return nullptr;
  }
  return list->lastNode;
}

LINK4* list4next(const LIST4* list, const LINK4* link) {
  if (link == nullptr) return list4first(list);
  if (!list4contains(list, link)) {
    error4(nullptr, e4parmNull, kLocMember);
    return nullptr;
  }
  return link == list->lastNode ? nullptr : link->next;
}

LINK4* list4prev(const LIST4* list, const LINK4* link) {
  if (link == nullptr) return list4last(list);
  if (!list4contains(list, link)) {
    error4(nullptr, e4parmNull, kLocMember);
    return nullptr;
  }
  return link == list->lastNode->next ? nullptr : link->prev;
}

LINK4* list4pop(LIST4* list) { return list4remove(list, list4last(list)); }

LINK4* list4remove(LIST4* list, LINK4* link) {
  if (link == nullptr) return nullptr;
  if (!list4contains(list, link)) {
    error4(nullptr, e4parmNull, kLocMember);
    return nullptr;
  }
  const bool alone = link->next == link;
  if (list->selected == link) list->selected = alone ? nullptr : link->prev;
  if (alone) {
    list->lastNode = nullptr;
  } else {
    link->prev->next = link->next;
    link->next->prev = link->prev;
    if (list->lastNode == link) list->lastNode = link->prev;
  }
  list->nLink--;
  *link = LINK4{};
  checkAfterChange(list);
  return link;
}
