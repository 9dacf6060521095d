// The answers kept with a type entry: one block per entry, the member type
// entries, the tag set, the encode tags and the member table, rebuilt whole
// when stale.
#include "type_cache.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace tul {
namespace {

// Above these a type keeps no tag set (or member table): its callers walk as
// before, so a pathological CHOICE costs what it always cost and no more.
constexpr long kTagWalkBudget = 1024;
constexpr size_t kMaxKeptTags = 64;
// Longer tag lists along a chain are walked.
constexpr size_t kMaxEncodeTags = 8;

// Collects distinct tag keys; `any` when a leaf takes every tag. Stops (and
// answers true, the walk's "found") once more than `limit` are collected.
struct TagCollector {
  std::vector<uint64_t>* tags;
  bool* any;
  size_t limit;
  bool operator()(const TagLeaf& leaf) {
    if (leaf.any) {
      *any = true;
      return true;
    }
    uint64_t key = tag_key(static_cast<uint32_t>(leaf.tag_flag & TUL_TAG_CLASS_MASK), static_cast<uint32_t>(leaf.tag_val));
    for (uint64_t kept : *tags)
      if (kept == key) return false;
    tags->push_back(key);
    return tags->size() > limit;
  }
};

// The tags of values of the type named `type`; false when there are too
// many to keep.
bool collect_tags(TUL_Metadata* dtd, char* type, std::vector<uint64_t>* tags, bool* any) {
  long budget = kTagWalkBudget;
  TagCollector keep{tags, any, kMaxKeptTags};
  walk_tags(dtd, type, 0, &budget, keep);
  return budget >= 0 && tags->size() <= kMaxKeptTags;
}

// The tags an encoding of `e` gets, base type first; false when the chain
// breaks (a type not defined, too long), so that the codec walks it and
// reports.
bool collect_encode_tags(TUL_Asn1TypeEntry* e, std::vector<TagStep>* steps) {
  TUL_Metadata* dtd = e->dtd;
  for (int depth = 0;; ++depth) {
    if (e->tag_flag != 0) steps->insert(steps->begin(), TagStep{e->tag_flag, e->tag_val});
    if (steps->size() > kMaxEncodeTags) return false;
    if (!e->type) return true;
    if (depth >= kMaxTypeChain || !(e = find_type(dtd, e->type))) return false;
  }
}

// For a CHOICE or SET: each element tag with the first member that takes it
// (the order the decoders ask the members in), and the first member that
// takes every tag. False when a member's tags are too many to keep.
bool collect_member_tags(TUL_Asn1TypeEntry* e, std::vector<MemberByTag>* table, int32_t* any_member) {
  std::vector<uint64_t> tags;
  for (int32_t i = 0; i < e->size; ++i) {
    const TUL_Asn1Type& m = e->members[i];
    bool any = false;
    tags.clear();
    if (m.tag_flag != 0) {
      tags.push_back(tag_key(static_cast<uint32_t>(m.tag_flag & TUL_TAG_CLASS_MASK), static_cast<uint32_t>(m.tag_val)));
    } else if (!m.type) {
      continue;  // matches nothing
    } else if (TULM_is_any(m.type)) {
      any = true;
    } else if (find_type(e->dtd, m.type) && !collect_tags(e->dtd, m.type, &tags, &any)) {
      return false;
    }
    if (any) {
      *any_member = i;
      return true;  // later members never get an element
    }
    for (uint64_t key : tags) {
      bool taken = false;
      for (const MemberByTag& row : *table) taken = taken || row.key == key;
      if (!taken) table->push_back(MemberByTag{key, i});
    }
    if (table->size() > kMaxKeptTags) return false;
  }
  return true;
}

bool keeps_member_table(const TUL_Asn1TypeEntry* e) {
  const Names& n = names();
  return e->members && (e->type == n.choice || e->type == n.set);
}

// Carves the block of `c` into its arrays.
template <class T>
T* carve(char** cursor, size_t count) {
  auto* array = reinterpret_cast<T*>(*cursor);
  *cursor += sizeof(T) * count;
  return array;
}

TypeCache* build(TUL_Asn1TypeEntry* e) {
  std::vector<uint64_t> tags;
  bool any = false;
  bool walk = !collect_tags(e->dtd, e->name, &tags, &any);
  if (walk || any) tags.clear();
  std::vector<TagStep> steps;
  bool encode_walk = !collect_encode_tags(e, &steps);
  if (encode_walk) steps.clear();
  std::vector<MemberByTag> table;
  int32_t any_member = -1;
  bool member_walk = !keeps_member_table(e) || !collect_member_tags(e, &table, &any_member);
  if (member_walk) table.clear();
  int32_t n = e->size > 0 && e->members ? e->size : 0;
  // Widest alignment first: the keys, then the pointers, then the steps.
  size_t bytes = sizeof(TypeCache) + sizeof(MemberByTag) * table.size() + sizeof(uint64_t) * tags.size() +
                 sizeof(TUL_Asn1TypeEntry*) * static_cast<size_t>(n) + sizeof(TagStep) * steps.size();
  // Straight from the C allocator, past the shim's failure injection: a
  // failure here changes no result (callers look up and walk as they would
  // without the block), so it must not count as a failure path of a decode.
  auto* c = static_cast<TypeCache*>(std::malloc(bytes));
  if (!c) return nullptr;
  *c = TypeCache{type_stamp, any, walk, encode_walk, member_walk, n, any_member, tags.size(), steps.size(),
                 table.size(), nullptr, nullptr, nullptr, nullptr};
  char* cursor = reinterpret_cast<char*>(c + 1);
  c->member_tags = carve<MemberByTag>(&cursor, table.size());
  c->tags = carve<uint64_t>(&cursor, tags.size());
  c->members = carve<TUL_Asn1TypeEntry*>(&cursor, static_cast<size_t>(n));
  c->encode_tags = carve<TagStep>(&cursor, steps.size());
  std::copy(table.begin(), table.end(), c->member_tags);
  std::copy(tags.begin(), tags.end(), c->tags);
  for (int32_t i = 0; i < n; ++i) c->members[i] = find_type(e->dtd, e->members[i].type);
  std::copy(steps.begin(), steps.end(), c->encode_tags);
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
