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

// The four hash/equality pairs of the dictionary.
uint32_t string_hash(void* text);
int string_equal(void* entry, void* key);
uint32_t entry_hash(void* entry);  // by the interned `name` pointer
int entry_equal(void* entry, void* key);
uint32_t label_hash(void* entry);  // by the interned `label` pointer
int label_equal(void* entry, void* key);
uint32_t registration_hash(void* oid_value);
int registration_equal(void* entry, void* key);

// The process-wide unique-string table; null before the first dictionary
// and after TUL_free_unique_strings.
TULH_HT* strings();
// Creates the table if it does not exist; false on memory shortage.
bool ensure_strings();
// Bumped each time the table is destroyed, so caches of interned names know
// to intern again.
unsigned strings_generation();

}  // namespace tul::hash

#endif
