// The answers kept with a type entry: one block per entry, the member type
// entries and then the tag set, rebuilt whole when stale.
#include "type_cache.h"

#include <cstdlib>
#include <vector>

namespace tul {
namespace {

// Above these a type keeps no tag set: its callers walk as before, so a
// pathological CHOICE costs what it always cost and no more.
constexpr long kTagWalkBudget = 1024;
constexpr size_t kMaxKeptTags = 64;

// The tags of `e`'s values; false when there are too many to keep.
bool collect_tags(TUL_Asn1TypeEntry* e, std::vector<uint64_t>* tags, bool* any) {
  long budget = kTagWalkBudget;
  auto keep = [&](const TagLeaf& leaf) {
    if (leaf.any) {
      *any = true;
      return true;
    }
    uint64_t key = tag_key(static_cast<uint32_t>(leaf.tag_flag & TUL_TAG_CLASS_MASK), static_cast<uint32_t>(leaf.tag_val));
    for (uint64_t kept : *tags)
      if (kept == key) return false;
    tags->push_back(key);
    return tags->size() > kMaxKeptTags;
  };
  walk_tags(e->dtd, e->name, 0, &budget, keep);
  return budget >= 0 && tags->size() <= kMaxKeptTags;
}

TypeCache* build(TUL_Asn1TypeEntry* e) {
  std::vector<uint64_t> tags;
  bool any = false;
  bool walk = !collect_tags(e, &tags, &any);
  if (walk || any) tags.clear();
  int32_t n = e->size > 0 && e->members ? e->size : 0;
  size_t bytes = sizeof(TypeCache) + sizeof(TUL_Asn1TypeEntry*) * static_cast<size_t>(n) + sizeof(uint64_t) * tags.size();
  // Straight from the C allocator, past the shim's failure injection: a
  // failure here changes no result (callers look up and walk as they would
  // without the block), so it must not count as a failure path of a decode.
  auto* c = static_cast<TypeCache*>(std::malloc(bytes));
  if (!c) return nullptr;
  c->stamp = type_stamp;
  c->any = any;
  c->walk = walk;
  c->member_count = n;
  c->tag_count = tags.size();
  c->tags = reinterpret_cast<uint64_t*>(c + 1);
  for (size_t k = 0; k < tags.size(); ++k) c->tags[k] = tags[k];
  c->members = reinterpret_cast<TUL_Asn1TypeEntry**>(c->tags + tags.size());
  for (int32_t i = 0; i < n; ++i) c->members[i] = find_type(e->dtd, e->members[i].type);
  return c;
}

}  // namespace

unsigned type_stamp = 1;

void types_changed() { ++type_stamp; }

void free_type_cache(TUL_Asn1TypeEntry* e) {
  std::free(e->cache);
  e->cache = nullptr;
}

TypeCache* rebuild_type_cache(TUL_Asn1TypeEntry* e) {
  free_type_cache(e);
  e->cache = build(e);
  return static_cast<TypeCache*>(e->cache);
}

}  // namespace tul
