// The growable array of untyped pointers inside every SEQUENCE OF and SET OF
// value. It never owns, copies or compares its items: pointer identity is the
// only equality it knows, and the list types above it carry the ownership.
#ifndef TUL_COLL_H
#define TUL_COLL_H

#include "dtd.h"

// Value of `magic` while a collection is initialised.
inline constexpr int kTULC_Magic = 4711;

using TULC_Action = void (*)(void* item, void* data);
using TULC_Compare = int (*)(const void* slot1, const void* slot2);
using TULC_Match = int (*)(void* item, void* data);

// Every operation takes the collection by address; unless stated otherwise
// the result is 1 for success and 0 for failure, and each failure passes its
// message to TULC_error. Indexes are 0-based.

// 8 zero-filled slots, growth step 8.
int TULC_init(TULC_Collection* list);
// Releases the slot array (never the items); always 1.
int TULC_destroy(TULC_Collection* list);
// 1 for an initialised collection; "Collection: invalid list" otherwise.
int TULC_is_list(TULC_Collection* list);
int TULC_size(TULC_Collection* list);
// The item at `i`, or null for an index outside 0 .. count - 1.
void* TULC_at(TULC_Collection* list, int i);
// Index of the first slot holding exactly `item`; -1 when absent or null.
int TULC_index_of(TULC_Collection* list, void* item);
int TULC_append(TULC_Collection* list, void* item);
// Inserts before index `ind` (0 .. count; count appends).
int TULC_at_insert(TULC_Collection* list, int ind, void* item);
// Drops the item at `i` without releasing or returning it.
int TULC_at_delete(TULC_Collection* list, int i);
// Overwrites the item at `i` without releasing or returning the old one.
int TULC_at_replace(TULC_Collection* list, int i, void* item);
// Calls `action` for each index below the current count, re-read at every
// step so that an action may shrink the collection; always 1.
int TULC_foreach(TULC_Collection* list, TULC_Action action, void* data);
// qsort over the `count` slots; `function` receives pointers to slots.
int TULC_sort(TULC_Collection* list, TULC_Compare function);
// The first item in index order for which `function` is non-zero, or null.
void* TULC_search(TULC_Collection* list, TULC_Match function, void* data);
// Grows the capacity: doubling up to 1000 slots, then 1000 at a time.
int TULC_expand(TULC_Collection* list);
// The one hook every failure message passes through; it has no effect.
void TULC_error(const char* message);

#endif
