// Fixed 1023-bucket hash tables of entry pointers and the process-wide
// unique-string store built on one of them.
#ifndef TUL_HASH_H
#define TUL_HASH_H

#include <cstdint>

#include "tul.h"

using TULH_HashFunction = uint32_t (*)(void*);
using TULH_EqualFunction = int (*)(void*, void*);
using TULH_Action = void (*)(void* entry, void* data);

TULH_HT* TULH_new(TULH_HashFunction hf, TULH_EqualFunction ef);
void TULH_free(TULH_HT* ht);
void* TULH_add_entry(TULH_HT* ht, void* entry);
void* TULH_assoc_entry(TULH_HT* ht, void* key);
void TULH_for_each(TULH_HT* ht, TULH_Action action, void* data);

namespace tul::hash {

// Hash and equality of the unique-string table: by the characters.
uint32_t string_hash(void* text);
int string_equal(void* entry, void* key);

// Hash of an interned name: the low 32 bits of its address, since equal
// names are one pointer.
inline uint32_t pointer_hash(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

// The process-wide unique-string table; null before the first dictionary
// and after TUL_free_unique_strings.
TULH_HT* strings();
// Creates the table if it does not exist; false on memory shortage.
bool ensure_strings();
// Bumped each time the table is destroyed, so caches of interned names know
// to intern again. Starts at 1: a cache stamped 0 was never filled.
extern unsigned generation;
inline unsigned strings_generation() { return generation; }

}  // namespace tul::hash

#endif
