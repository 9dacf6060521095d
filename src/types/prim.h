// Helpers shared by the behaviour tables of the primitive types: record
// allocation with the allocation-error object, the common decode/encode
// steps (explicit-tag unwrap, error 17, type tagging), and deriving a sibling
// table from its base by replacing named slots.
#ifndef TUL_PRIM_H
#define TUL_PRIM_H

#include <cstdarg>
#include <cstddef>
#include <cstring>

#include "codec.h"
#include "dtd.h"
#include "mem.h"

namespace tul::prim {

// A sibling table is its base with a few slots replaced; `change` edits a
// copy, so the derivation stays a constant expression.
template <class Change>
constexpr TUL_Behavior derive(TUL_Behavior base, Change change) {
  change(base);
  return base;
}

// Room for a formatted number or a short message about one.
inline constexpr size_t kFormatSize = 512;

// A zeroed record of `size` bytes for `entry`; on memory shortage the traced
// allocation-error object of the entry's dictionary.
inline TUL_Object* new_record(TUL_Entry* entry, size_t size) { return alloc_object(entry, size); }

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

// A new block with `n` bytes of `bytes` and a NUL after them; null on
// shortage.
inline char* copy_block(const void* bytes, size_t n) {
  auto* block = static_cast<char*>(mem::alloc(n + 1));
  if (!block) return nullptr;
  if (n) std::memcpy(block, bytes, n);
  block[n] = '\0';
  return block;
}

// Copy of an OCTET STRING or BIT STRING record: `len` as given, the first
// `n` bytes of the block, no cached text.
inline TUL_Object* copy_octet_record(TUL_Object* obj, size_t n, int32_t len) {
  char* block = copy_block(reinterpret_cast<TUL_Octet*>(obj)->octet, n);
  if (!block) return TUL_error(tul_dtd(obj), TUL_ERR_MEMORY);
  TUL_Object* failure = nullptr;
  TUL_Octet* copy = clone_record<TUL_Octet>(obj, &failure);
  if (!copy) {
    mem::free(block);
    return failure;
  }
  copy->len = len;
  copy->octet = block;
  copy->string = nullptr;
  return reinterpret_cast<TUL_Object*>(copy);
}

// Releases a record that owns no further blocks.
inline void free_record(TUL_Object* obj) { mem::free(obj); }

// Free slot of every TUL_Octet value (the strings and BIT STRING): the
// bytes, the cached text form, the record.
inline void free_octet_record(TUL_Object* obj) {
  auto* o = reinterpret_cast<TUL_Octet*>(obj);
  mem::free(o->octet);
  mem::free(o->string);
  mem::free(o);
}

// Every primitive value evaluates to itself.
inline void* evaluate_self(TUL_Object* obj, void*) { return obj; }

// Writes `text` through the print context.
inline void print(TULP_PrintContext* ctx, const char* text) { ctx->prints(text, ctx->ptr); }

// Calls the init slot of `obj`'s table. Unlike TUL_init it never frees
// `obj`: behaviours that fill a value they were handed must leave its
// release to their caller.
inline TUL_Object* call_init(TUL_Object* obj, ...) {
  TUL_Behavior* b = tul_behavior(obj);
  if (!b->init) return obj;
  va_list args;
  va_start(args, obj);
  TUL_Object* result = b->init(obj, &args);
  va_end(args);
  return result;
}

// True for an error object other than `obj` itself.
inline bool failed(TUL_Object* result, TUL_Object* obj) {
  return result && result != obj && result->error;
}

// Leaves `error` in the decode context (the first one stays) and returns 0.
inline int decode_failed(TULE_DecodeContext* ctx, TUL_Object* error) {
  keep_first_error(ctx->error, error);
  return 0;
}

// Contents that cannot be converted: error 17 with the type name; 0.
inline int wrong_encoding(TUL_Object* obj, TULE_DecodeContext* ctx) {
  return decode_failed(ctx, TUL_error(tul_dtd(obj), TUL_ERR_DECODE, "wrong encoding or data overflow",
                                      obj->type_ref->name));
}

// Stores the converted element and gives it the type's own tags; 0 when the
// conversion produced no element or tagging fails.
inline int finish_encode(TUL_Object* obj, TULE_EncodeContext* ctx, PElement* pe) {
  ctx->pe = pe;
  if (!pe) return 0;
  return TUL_tag_encode(tul_dtd(obj), tul_type_entry(obj), ctx);
}

}  // namespace tul::prim

namespace tul::integer {

// INTEGER's slots, which ENUMERATED takes over except for those it replaces.
TUL_Object* _alloc(TUL_Entry* entry);
TUL_Object* _init(TUL_Object* obj, va_list* args);
int _decode(TUL_Object* obj, TULE_DecodeContext* ctx);
int _encode(TUL_Object* obj, TULE_EncodeContext* ctx);
TUL_Object* _parse(TUL_Object* obj, TULP_ParseContext* ctx);
void _print(TUL_Object* obj, TULP_PrintContext* ctx);
TUL_Object* _copy(TUL_Object* obj);
long _size(TUL_Object* obj);
int _equal(TUL_Object* a, TUL_Object* b);
unsigned int _hash(TUL_Object* obj);

inline constexpr TUL_Behavior kTable = {
    .basic_type = TUL_INTEGER_TYPE,
    .alloc = _alloc,
    .init = _init,
    .free = prim::free_record,
    .decode = _decode,
    .encode = _encode,
    .parse = _parse,
    .print = _print,
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
