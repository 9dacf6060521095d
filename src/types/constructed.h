// Helpers shared by the constructed types (SEQUENCE and SET, SEQUENCE OF and
// SET OF, CHOICE): finding a value's member list, holding and releasing
// contained values by reference count, matching member tags, decoding one
// member through a context of its own, and the nesting bound of the codec.
#ifndef TUL_CONSTRUCTED_H
#define TUL_CONSTRUCTED_H

#include "ber.h"
#include "dtd.h"

namespace tul::constructed {

// Nesting of constructed values that the decoders and encoders follow. The
// element reader already bounds element depth; this bound also covers the
// levels that add no element (a CHOICE inside a CHOICE, EXPLICIT member
// tags stripped in place), and values built by hand through the API.
inline constexpr int kMaxCodecNesting = 512;

// Enters one nesting level of a decode or encode. While the bound is reached
// the guard is false and no level was entered.
class CodecNestingGuard {
 public:
  CodecNestingGuard();
  ~CodecNestingGuard();
  CodecNestingGuard(const CodecNestingGuard&) = delete;
  CodecNestingGuard& operator=(const CodecNestingGuard&) = delete;
  explicit operator bool() const { return entered_; }

 private:
  bool entered_;
};

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

// Keeps the first error of a run: `error` goes into the context unless one
// is there already, in which case it is freed.
void pass_error(TUL_Object** slot, TUL_Object* error);

// Records error 5 for a value nested deeper than the encoders follow; 0.
int encode_too_deep(TUL_Object* obj, TULE_EncodeContext* ctx);

// Records the decode error 17 with `detail` and the type name of `obj`.
int decode_error(TULE_DecodeContext* ctx, TUL_Object* obj, const char* detail);

// The context's element with the EXPLICIT tags of `obj`'s type stripped;
// null (and no error object) when the element does not carry them.
PElement* own_element(TUL_Object* obj, TULE_DecodeContext* ctx);

// The UNIVERSAL constructed element of a SEQUENCE, SET, SEQUENCE OF or SET
// OF value (tag 17 for the SET kinds, else 16), stored as the context's
// `pe`; null with an error object in the context on memory shortage.
PElement* open_constructed(TUL_Object* obj, TULE_EncodeContext* ctx);

// The first child of a constructed element; null for a primitive element or
// one without children.
PElement* first_child(PElement* pe);
inline bool is_constructed(const PElement* pe) { return pe && pe->pe_form == ber::kConstructed; }

// Whether element `pe` can hold a value of member `m`: a tagged member by
// its class and tag number, an untagged one through its type's tags.
bool member_matches(TUL_Metadata* dtd, TUL_Asn1Type* m, PElement* pe);

// The type a decoded member gets: its declared type, or for ANY DEFINED BY
// the type its identifying sibling selects, else the built-in type of the
// element, else BER-String.
char* member_value_type(TUL_Object* obj, TUL_Asn1TypeEntry* d, TUL_Asn1Type* m, PElement* pe);

// How decode_value reports a type that yields no value at all.
enum class NoValue { kFailSilently, kMemoryError };

// Allocates a value of `type` and decodes it from `pe` through a context of
// its own. Returns the new value (owned by the caller), or null with the
// failure passed into `ctx` and everything built released.
TUL_Object* decode_value(TUL_Metadata* dtd, char* type, PElement* pe, TULE_DecodeContext* ctx,
                         NoValue no_value);

// Braces around comma-separated items (SEQUENCE, SET and the lists). Expects
// "{" as the current token and reads the next one; false with "'{' expected"
// recorded otherwise.
bool parse_open_brace(TULP_ParseContext* ctx);
// After an item: reads the next token. "}" ends the list (kEnd, "}" stays
// current); "," is skipped (kMore, the next item's first token current);
// anything else records "',' expected" (kFail), as does an earlier error.
enum class Separator { kEnd, kMore, kFail };
Separator parse_separator(TULP_ParseContext* ctx);

// Runs the encode behaviour of `value` into `local` (a context sharing the
// caller's element context). On failure the tree built so far is released.
bool encode_value(TUL_Object* value, TULE_EncodeContext* local);

}  // namespace tul::constructed

#endif
