// The collection behind SEQUENCE OF and SET OF values: a pointer array that
// doubles up to 1000 slots and then grows 1000 slots at a time, so large lists
// waste at most 1000 slots. Slots at and above `count` are kept NULL.
#include "coll.h"

#include <cstdlib>
#include <cstring>

#include "mem.h"

namespace tul::coll {
namespace {

constexpr int kInitialSlots = 8;
constexpr int kMaxDelta = 1000;

// 0 <= i < upper.
bool index_ok(int i, int upper) { return i >= 0 && i < upper; }

}  // namespace
}  // namespace tul::coll

using namespace tul::coll;

void TULC_error(const char* /*message*/) {}

int TULC_init(TULC_Collection* list) {
  auto* items = tul::mem::zalloc_array<void*>(kInitialSlots);
  if (!items) {
    TULC_error("Collection: allocation error in TULC_init");
    return 0;
  }
  list->items = items;
  list->magic = kTULC_Magic;
  list->count = 0;
  list->limit = kInitialSlots;
  list->delta = kInitialSlots;
  return 1;
}

int TULC_destroy(TULC_Collection* list) {
  tul::mem::free(list->items);
  list->items = nullptr;
  list->magic = 0;
  list->count = 0;
  return 1;
}

int TULC_is_list(TULC_Collection* list) {
  if (list && list->magic == kTULC_Magic) return 1;
  TULC_error("Collection: invalid list");
  return 0;
}

int TULC_size(TULC_Collection* list) { return list->count; }

void* TULC_at(TULC_Collection* list, int i) {
  if (!index_ok(i, list->count)) {
    TULC_error("Collection: index error in TULC_at");
    return nullptr;
  }
  return list->items[i];
}

int TULC_index_of(TULC_Collection* list, void* item) {
  if (!item) return -1;
  for (int i = 0; i < list->count; ++i) {
    if (list->items[i] == item) return i;
  }
  return -1;
}

int TULC_expand(TULC_Collection* list) {
  if (list->delta == 0) return 0;
  int delta = list->limit < kMaxDelta ? list->limit : kMaxDelta;
  int limit = 0;
  if (delta <= 0 || __builtin_add_overflow(list->limit, delta, &limit) ||
      static_cast<size_t>(limit) > SIZE_MAX / sizeof(void*)) {
    TULC_error("Collection: allocation error in TULC_expand");
    return 0;
  }
  auto* items = static_cast<void**>(tul::mem::realloc(list->items, sizeof(void*) * limit));
  if (!items) {
    TULC_error("Collection: allocation error in TULC_expand");
    return 0;
  }
  // Clear from `count`, not from the old limit: both are equal whenever the
  // collection expands because it is full, and clearing from `count` also
  // keeps the "slots above count are NULL" rule if expand is called early.
  std::memset(items + list->count, 0, sizeof(void*) * (limit - list->count));
  list->items = items;
  list->limit = limit;
  list->delta = delta;
  return 1;
}

int TULC_append(TULC_Collection* list, void* item) {
  if (list->count == list->limit && !TULC_expand(list)) return 0;
  list->items[list->count++] = item;
  return 1;
}

int TULC_at_insert(TULC_Collection* list, int ind, void* item) {
  if (!index_ok(ind, list->count + 1)) {
    TULC_error("Collection: index error in TULC_at_insert");
    return 0;
  }
  if (list->count == list->limit && !TULC_expand(list)) return 0;
  std::memmove(list->items + ind + 1, list->items + ind, sizeof(void*) * (list->count - ind));
  list->items[ind] = item;
  ++list->count;
  return 1;
}

int TULC_at_delete(TULC_Collection* list, int i) {
  if (!index_ok(i, list->count)) {
    TULC_error("Collection: index error in TULC_at_delete");
    return 0;
  }
  std::memmove(list->items + i, list->items + i + 1, sizeof(void*) * (list->count - i - 1));
  list->items[--list->count] = nullptr;
  return 1;
}

int TULC_at_replace(TULC_Collection* list, int i, void* item) {
  if (!index_ok(i, list->count)) {
    TULC_error("Collection: index error in TULC_at_replace");
    return 0;
  }
  list->items[i] = item;
  return 1;
}

int TULC_foreach(TULC_Collection* list, TULC_Action action, void* data) {
  for (int i = 0; i < list->count; ++i) action(list->items[i], data);
  return 1;
}

int TULC_sort(TULC_Collection* list, TULC_Compare function) {
  if (list->count > 1) std::qsort(list->items, list->count, sizeof(void*), function);
  return 1;
}

void* TULC_search(TULC_Collection* list, TULC_Match function, void* data) {
  for (int i = 0; i < list->count; ++i) {
    if (function(list->items[i], data)) return list->items[i];
  }
  return nullptr;
}
