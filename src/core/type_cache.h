// Answers the codec asks about a type entry again and again, kept with the
// entry: the entries of its members' types, the element tags a value of the
// type can start with, the tags an encoding of it gets, and for a CHOICE or
// SET which member an element goes to. Entries never change once entered,
// but a name may be defined later, so the answers are stamped with the
// number of types entered so far and rebuilt once another one came in.
// Behaviour tables are never kept here: a registration replaces them and
// must be seen at once.
#ifndef TUL_TYPE_CACHE_H
#define TUL_TYPE_CACHE_H

#include <cstdint>

#include "dtd.h"

namespace tul {

// Every type entered into any dictionary makes the kept answers stale.
void types_changed();
// Frees what `e` keeps; the entry's own memory stays.
void free_type_cache(TUL_Asn1TypeEntry* e);

// A tag class and number as one key.
inline uint64_t tag_key(uint32_t tag_class, uint32_t number) { return (uint64_t{tag_class} << 32) | number; }

// A tag an encoding gets: class and modifier bits, number.
struct TagStep {
  int32_t tag_flag;
  int32_t tag_val;
};

// Element tag (tag_key) and the first member it goes to.
struct MemberByTag {
  uint64_t key;
  int32_t index;
};

// What an entry keeps, in one block.
struct TypeCache {
  unsigned stamp;
  bool any;   // every element matches
  bool walk;  // no tag set kept
  bool encode_walk;  // no encode tags kept: the chain must be walked
  bool member_walk;  // no member table kept
  int32_t member_count;
  int32_t any_member;  // the first member that takes every element, or -1
  size_t tag_count;
  size_t encode_tag_count;
  size_t member_tag_count;
  TUL_Asn1TypeEntry** members;  // the entry of each member's type
  uint64_t* tags;               // tag_key of each tag
  TagStep* encode_tags;         // along the derivation chain, base type first
  MemberByTag* member_tags;     // CHOICE and SET only, in member order
};

// The count of types entered when the answers were built.
extern unsigned type_stamp;
// Builds the answers of `e` anew; null without memory.
TypeCache* rebuild_type_cache(TUL_Asn1TypeEntry* e);
inline TypeCache* type_cache(TUL_Asn1TypeEntry* e) {
  auto* c = static_cast<TypeCache*>(e->cache);
  return c && c->stamp == type_stamp ? c : rebuild_type_cache(e);
}

// Entry of the type of member `i` of description `d`; null when that type is
// not defined.
inline TUL_Asn1TypeEntry* member_type(TUL_Asn1TypeEntry* d, int i) {
  TypeCache* c = type_cache(d);
  return c && i < c->member_count ? c->members[i] : find_type(d->dtd, d->members[i].type);
}

// Whether an element of class `pe_class` and tag number `pe_id` can hold a
// value of type `e` (walk_tags from its name); -1 when nothing is kept for
// it (too many types behind it, or no memory), and the caller walks.
inline int tag_match(TUL_Asn1TypeEntry* e, uint32_t pe_class, uint32_t pe_id) {
  TypeCache* c = type_cache(e);
  if (!c || c->walk) return -1;
  if (c->any) return 1;
  uint64_t key = tag_key(pe_class, pe_id);
  for (size_t k = 0; k < c->tag_count; ++k)
    if (c->tags[k] == key) return 1;
  return 0;
}

// The tags TUL_tag_encode applies to a value of `e` (base types first), or
// null when they are not kept and the chain must be walked.
inline const TypeCache* encode_tags(TUL_Asn1TypeEntry* e) {
  TypeCache* c = type_cache(e);
  return c && !c->encode_walk ? c : nullptr;
}

// The first member of CHOICE or SET description `d` an element of class
// `pe_class` and tag number `pe_id` goes to, -1 for none, or kMembersNotKept
// when the caller must ask each member in turn.
inline constexpr int kMembersNotKept = -2;
inline int member_by_tag(TUL_Asn1TypeEntry* d, uint32_t pe_class, uint32_t pe_id) {
  TypeCache* c = type_cache(d);
  if (!c || c->member_walk) return kMembersNotKept;
  uint64_t key = tag_key(pe_class, pe_id);
  for (size_t k = 0; k < c->member_tag_count; ++k)
    if (c->member_tags[k].key == key) return c->member_tags[k].index;
  return c->any_member;
}

// One tag a value may start with, or every tag (`any`).
struct TagLeaf {
  bool any;
  int32_t tag_flag;
  int32_t tag_val;
};

// Calls `leaf` with each tag a value of `type` can start with: every tag for
// ANY, else the type's own tag, or through an untagged derivation its base
// type's tags, or for a CHOICE those of each alternative. Stops and answers
// true when `leaf` does. Types not defined and chains past kMaxTypeChain
// give nothing. Each type visited counts `*budget` down; past 0 the walk
// gives nothing more.
template <class Leaf>
bool walk_tags(TUL_Metadata* dtd, char* type, int depth, long* budget, Leaf& leaf) {
  if (TULM_is_any(type)) return leaf(TagLeaf{true, 0, 0});
  TUL_Asn1TypeEntry* e = find_type(dtd, type);
  if (!e || depth >= kMaxTypeChain || --*budget < 0) return false;
  if (e->type != names().choice) {
    if (e->tag_flag == 0 && e->type) return walk_tags(dtd, e->type, depth + 1, budget, leaf);
    return leaf(TagLeaf{false, e->tag_flag, e->tag_val});
  }
  for (int32_t k = 0; k < e->size; ++k) {
    const TUL_Asn1Type& alternative = e->members[k];
    if (alternative.tag_flag ? leaf(TagLeaf{false, alternative.tag_flag, alternative.tag_val})
                             : walk_tags(dtd, alternative.type, depth + 1, budget, leaf))
      return true;
  }
  return false;
}

}  // namespace tul

#endif
