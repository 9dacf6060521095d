// Hash tables with 1023 buckets, each a null-terminated array grown by one
// slot per insertion, and the unique-string store. Entries and labels hash by
// the address of their interned name, so lookups never compare characters.
#include "hash.h"

#include <cstring>

#include "mem.h"

namespace {

TULH_HT* unique_strings = nullptr;

uint32_t bucket_of(TULH_HT* ht, void* entry_or_key) {
  return ht->hash_function(entry_or_key) % TULH_BUCKETS;
}

}  // namespace

TULH_HT* TULH_new(TULH_HashFunction hf, TULH_EqualFunction ef) {
  auto* ht = static_cast<TULH_HT*>(tul::mem::zalloc(sizeof(TULH_HT)));
  if (!ht) return nullptr;
  ht->hash_function = hf;
  ht->equal_function = ef;
  return ht;
}

void TULH_free(TULH_HT* ht) {
  if (!ht) return;
  ht->count = 0;
  for (void**& bucket : ht->table) tul::mem::free(bucket);
  tul::mem::free(ht);
}

void* TULH_add_entry(TULH_HT* ht, void* entry) {
  if (!ht) return nullptr;
  void**& bucket = ht->table[bucket_of(ht, entry)];
  size_t n = 0;
  if (bucket)
    while (bucket[n]) ++n;
  auto* grown = static_cast<void**>(tul::mem::realloc(bucket, (n + 2) * sizeof(void*)));
  if (!grown) return nullptr;
  grown[n] = entry;
  grown[n + 1] = nullptr;
  bucket = grown;
  ++ht->count;
  return entry;
}

void* TULH_assoc_entry(TULH_HT* ht, void* key) {
  // An empty table (a dictionary without registrations) costs no hashing.
  if (!ht || ht->count == 0) return nullptr;
  void** bucket = ht->table[bucket_of(ht, key)];
  if (!bucket) return nullptr;
  for (; *bucket; ++bucket)
    if (ht->equal_function(*bucket, key)) return *bucket;
  return nullptr;
}

void TULH_for_each(TULH_HT* ht, TULH_Action action, void* data) {
  if (!ht || ht->count == 0) return;
  for (void** bucket : ht->table)
    if (bucket)
      for (; *bucket; ++bucket) action(*bucket, data);
}

namespace tul::hash {

uint32_t string_hash(void* text) {
  uint32_t h = 0;
  for (const signed char* c = static_cast<const signed char*>(text); *c; ++c)
    h = 2 * h + static_cast<uint32_t>(static_cast<int32_t>(*c));
  return h;
}

int string_equal(void* entry, void* key) {
  return std::strcmp(static_cast<const char*>(entry), static_cast<const char*>(key)) == 0;
}

TULH_HT* strings() { return unique_strings; }

bool ensure_strings() {
  if (!unique_strings) unique_strings = TULH_new(string_hash, string_equal);
  return unique_strings != nullptr;
}

unsigned generation = 1;

}  // namespace tul::hash

extern "C" {

// Each interned text is preceded by a 4-byte index cell that the persistence
// writer numbers strings with; callers only ever see the text pointer.
TUL_API char* TUL_unique_string(const char* string) {
  if (!string || !tul::hash::ensure_strings()) return nullptr;
  TULH_HT* table = unique_strings;
  if (auto* found = static_cast<char*>(TULH_assoc_entry(table, const_cast<char*>(string))))
    return found;
  size_t n = std::strlen(string);
  auto* block = static_cast<char*>(tul::mem::alloc(n + 5));
  if (!block) return nullptr;
  std::memset(block, 0, 4);
  std::memcpy(block + 4, string, n + 1);
  if (!TULH_add_entry(table, block + 4)) {
    tul::mem::free(block);
    return nullptr;
  }
  return block + 4;
}

// The library's last call: the blocks kept for reuse go back too.
TUL_API void TUL_free_unique_strings(void) {
  if (unique_strings) {
    TULH_for_each(unique_strings, [](void* text, void*) { tul::mem::free(static_cast<char*>(text) - 4); },
                  nullptr);
    TULH_free(unique_strings);
    unique_strings = nullptr;
    ++tul::hash::generation;
  }
  tul::mem::release_cached_blocks();
}

}  // extern "C"
