// Helpers shared by the constructed types (SEQUENCE and SET, SEQUENCE OF and
// SET OF, CHOICE): finding a value's member list, holding and releasing
// contained values by reference count, matching member tags, decoding one
// member through a context of its own, and the nesting bound of the codec.
#ifndef TUL_CONSTRUCTED_H
#define TUL_CONSTRUCTED_H

#include <cstdarg>

#include "ber.h"
#include "codec.h"
#include "dtd.h"
#include "parse.h"

namespace tul::constructed {

// The entry carrying the member list of `e`'s type; null when `e` is not
// derived from a constructed type.
TUL_Asn1TypeEntry* description(TUL_Entry* e);
inline TUL_Asn1TypeEntry* description(const TUL_Object* obj) { return description(obj->type_ref); }
// Member count of the description (0 without one).
int member_count(TUL_Entry* e);

using tul::find_member;

// A container takes a value: its count goes up. The placeholder of empty
// slots is never counted.
inline void hold(TUL_Object* value) {
  if (value != tul_dtd(value)->tmp_object) ++value->ref_cnt;
}
// A container lets go of a value it holds and frees it unless another
// container still holds it.
void release(TUL_Object* value);

// Equality of two contained values, safe for values of different types and
// for the placeholder: TUL_equal only compares values of one layout.
bool values_equal(TUL_Object* a, TUL_Object* b);

// Records error 5 for a value nested deeper than the encoders follow; 0.
int encode_too_deep(TUL_Object* obj, TULE_EncodeContext* ctx);

// Records the decode error 17 with `detail` and the type name of `obj`.
// `at`, when given, is the element that failed, held as member `member`.
int decode_error(TULE_DecodeContext* ctx, TUL_Object* obj, const char* detail, const PElement* at = nullptr,
                 const char* member = nullptr);

// The UNIVERSAL constructed element of a SEQUENCE, SET, SEQUENCE OF or SET
// OF value (tag 17 for the SET kinds, else 16), stored as the context's
// `pe`; null with an error object in the context on memory shortage.
PElement* open_constructed(TUL_Object* obj, TULE_EncodeContext* ctx);

// The first child of a constructed element; null for a primitive element or
// one without children.
PElement* first_child(PElement* pe);
inline bool is_constructed(const PElement* pe) { return pe && pe->pe_form == ber::kConstructed; }

// Whether element `pe` can hold a value of member `i` of description `d`: a
// tagged member by its class and tag number, an untagged one through its
// type's tags.
bool member_matches(TUL_Metadata* dtd, TUL_Asn1TypeEntry* d, int i, PElement* pe);

// The first of the `n` members of CHOICE or SET description `d` that
// element `pe` can hold a value of (as member_matches says), or `n`.
int first_matching_member(TUL_Metadata* dtd, TUL_Asn1TypeEntry* d, int n, PElement* pe);

// The type a decoded member gets: its declared type, or for ANY DEFINED BY
// the type its identifying sibling selects, else the built-in type of the
// element, else BER-String.
char* member_value_type(TUL_Object* obj, TUL_Asn1TypeEntry* d, TUL_Asn1Type* m, PElement* pe);

// How decode_value reports a type that yields no value at all.
enum class NoValue { kFailSilently, kMemoryError };

// Allocates a value of `type` and decodes it from `pe` through a context of
// its own. Returns the new value (owned by the caller), or null with the
// failure passed into `ctx` and everything built released. `entry` is the
// entry of `type` when the caller has it (null: looked up here).
TUL_Object* decode_value(TUL_Metadata* dtd, char* type, TUL_Asn1TypeEntry* entry, PElement* pe,
                         TULE_DecodeContext* ctx, NoValue no_value);

// decode_value for a member or alternative of the declared `type`. With
// typed ANY on, a plain ANY first tries the type the element's tag names; a
// failure there is silent and leaves the element to the ANY value.
TUL_Object* decode_declared(TUL_Metadata* dtd, char* type, TUL_Asn1TypeEntry* entry, PElement* pe,
                            TULE_DecodeContext* ctx, NoValue no_value);

// Braces around comma-separated items (SEQUENCE, SET and the lists). Expects
// "{" as the current token and reads the next one; false with "'{' expected"
// recorded otherwise.
bool parse_open_brace(TULP_ParseContext* ctx);
// After an item: reads the next token. "}" ends the list (kEnd, "}" stays
// current); "," is skipped (kMore, the next item's first token current);
// anything else records "',' expected" (kFail), as does an earlier error.
enum class Separator { kEnd, kMore, kFail };
Separator parse_separator(TULP_ParseContext* ctx);

// Encodes `value` through a context of its own, gives it member `m`'s tag
// when `m` is tagged, and links it under `pe` after `*last`. False with the
// error in `ctx` and the value's tree released.
bool encode_into(PElement* pe, PElement** last, TUL_Object* value, TUL_Asn1Type* m, TULE_EncodeContext* ctx);

// The frame of every SEQUENCE, SET and list encoder: the UNIVERSAL
// constructed element, `add_all(pe)` adding the contents (through
// encode_into), then the type's own tags.
template <class AddAll>
int encode_constructed(TUL_Object* obj, TULE_EncodeContext* ctx, AddAll add_all) {
  PElement* pe = open_constructed(obj, ctx);
  if (!pe || !add_all(pe)) return 0;
  return TUL_tag_encode(tul_dtd(obj), tul_type_entry(obj), ctx);
}

// The init of SEQUENCE, SET and the lists: takes `n` values from `args` and
// hands each non-null one to `put(i, value)`, which adopts it or answers an
// error object. The caller gave away every value, so after the first error
// the rest are freed. Returns `obj` or that error.
template <class Put>
TUL_Object* init_each(TUL_Object* obj, va_list* args, int n, Put put) {
  TUL_Object* result = obj;
  for (int i = 0; i < n; ++i) {
    TUL_Object* value = va_arg(*args, TUL_Object*);
    if (!value) continue;
    if (result != obj) {
      TUL_free(value);
    } else if (value->error) {
      result = value;
    } else if (TUL_Object* error = put(i, value)) {
      TUL_free(value);
      result = error;
    }
  }
  return result;
}

// The copy of SEQUENCE, SET and the lists: copies the `n` values that
// `at(i)` gives (null: nothing to copy) and hands each to
// `adopt(copy, i, value)`; on any failure frees `copy` with `free_copy` and
// answers error 2.
template <class At, class Adopt>
TUL_Object* copy_each(TUL_Object* proto, TUL_Object* copy, int n, At at, Adopt adopt,
                      void (*free_copy)(TUL_Object*)) {
  for (int i = 0; i < n; ++i) {
    TUL_Object* value = at(i);
    if (!value) continue;
    TUL_Object* member = TUL_copy(value);
    if (!member || member->error || !adopt(copy, i, member)) {
      TUL_free(member);
      free_copy(copy);
      return TUL_error(tul_dtd(proto), TUL_ERR_MEMORY);
    }
  }
  return copy;
}

// Depth of constructed values being decoded or encoded.
extern int codec_depth;

// Every slot of a constructed type that recurses runs inside one nesting
// level, counted alike for the four walks: the tables name these wrappers
// instead of the slots themselves. Past the bound, decode records error 17,
// encode error 5, parse error 11, and print writes a marker.
template <int (*Slot)(TUL_Object*, TULE_DecodeContext*)>
int decode_level(TUL_Object* obj, TULE_DecodeContext* ctx) {
  NestingLevel level(codec_depth);
  return level ? Slot(obj, ctx) : decode_error(ctx, obj, "value nested too deeply");
}
template <int (*Slot)(TUL_Object*, TULE_EncodeContext*)>
int encode_level(TUL_Object* obj, TULE_EncodeContext* ctx) {
  NestingLevel level(codec_depth);
  return level ? Slot(obj, ctx) : encode_too_deep(obj, ctx);
}
template <TUL_Object* (*Slot)(TUL_Object*, TULP_ParseContext*)>
TUL_Object* parse_level(TUL_Object* obj, TULP_ParseContext* ctx) {
  parse::ParseLevel level(ctx);
  return level ? Slot(obj, ctx) : nullptr;
}
template <void (*Slot)(TUL_Object*, TULP_PrintContext*)>
void print_level(TUL_Object* obj, TULP_PrintContext* ctx) {
  parse::PrintLevel level(ctx);
  if (level) Slot(obj, ctx);
}

}  // namespace tul::constructed

#endif
