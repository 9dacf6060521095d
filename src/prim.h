// Helpers shared by the behaviour tables of the primitive types: record
// allocation with the allocation-error object, the common decode/encode
// steps (explicit-tag unwrap, error 17, type tagging), and deriving a sibling
// table from its base by replacing named slots.
#ifndef TUL_PRIM_H
#define TUL_PRIM_H

#include <cstddef>

#include "dtd.h"
#include "support/mem.h"

struct PElement;

namespace tul::prim {

// A sibling table is its base with a few slots replaced; `change` edits a
// copy, so the derivation stays a constant expression.
template <class Change>
constexpr TUL_Behavior derive(TUL_Behavior base, Change change) {
  change(base);
  return base;
}

// A zeroed record of `size` bytes for `entry`; on memory shortage the traced
// allocation-error object of the entry's dictionary.
inline TUL_Object* new_record(TUL_Entry* entry, size_t size) {
  TUL_Object* obj = alloc_object(entry, size);
  if (obj && obj->error) return TUL_error(entry->dtd, 2);
  return obj;
}

template <class Record>
TUL_Object* new_record(TUL_Entry* entry) {
  return new_record(entry, sizeof(Record));
}

// A new record of the same layout and type as `obj`: header reset, value
// fields copied bytewise, so the caller must replace every owned pointer.
// Null with `*failure` set to the allocation-error object on shortage.
template <class Record>
Record* clone_record(const TUL_Object* obj, TUL_Object** failure) {
  TUL_Object* copy = new_record<Record>(obj->type_ref);
  if (!copy || copy->error) {
    *failure = copy;
    return nullptr;
  }
  auto* record = reinterpret_cast<Record*>(copy);
  *record = *reinterpret_cast<const Record*>(obj);
  record->error = 0;
  record->specific = nullptr;
  record->ref_cnt = 0;
  return record;
}

// Releases a record that owns no further blocks.
inline void free_record(TUL_Object* obj) { mem::free(obj); }

// Every primitive value evaluates to itself.
inline void* evaluate_self(TUL_Object* obj, void*) { return obj; }

// Writes `text` through the print context.
inline void print(TULP_PrintContext* ctx, const char* text) { ctx->prints(text, ctx->ptr); }

}  // namespace tul::prim

namespace tul::integer {

// INTEGER's slots, which ENUMERATED takes over except for those it replaces.
TUL_Object* _alloc(TUL_Entry* entry);
TUL_Object* _init(TUL_Object* obj, va_list* args);
TUL_Object* _copy(TUL_Object* obj);
long _size(TUL_Object* obj);
int _equal(TUL_Object* a, TUL_Object* b);
unsigned int _hash(TUL_Object* obj);

inline constexpr TUL_Behavior kTable = {
    .basic_type = TUL_INTEGER_TYPE,
    .alloc = _alloc,
    .init = _init,
    .free = prim::free_record,
    .decode = nullptr,
    .encode = nullptr,
    .parse = nullptr,
    .print = nullptr,
    .copy = _copy,
    .size = _size,
    .equal = _equal,
    .evaluate = prim::evaluate_self,
    .hash = _hash,
    .action = {},
    .mapping = nullptr,
};

}  // namespace tul::integer

#endif
