// The encode/decode driver between values and BER-String values, the tag
// rules of type definitions and members, the typing of ANY and ANY DEFINED BY
// elements.
#ifndef TUL_CODEC_H
#define TUL_CODEC_H

#include "ber.h"
#include "dtd.h"
#include "type_cache.h"

// New BER-String value in `dtd` holding the encoding of `pe` (definite
// lengths); null on failure (trace 2 when the value cannot be made).
TUL_Object* TUL_pe2ber(PElement* pe, TUL_Metadata* dtd);
// Reads the one element that BER-String `ber` holds into `ctx`, pointing into
// the value's octets (so `ber` must outlive the tree). 1 with the root in
// `*out_pe`, or 0.
int TUL_ber2pe(PECtx* ctx, TUL_Object* ber, PElement** out_pe);

// Applies the tags of type entry `e` (base types first) to ctx->pe. 1, or
// 0 with the reason recorded in ctx->error.
int TUL_tag_encode(TUL_Metadata* dtd, TUL_Asn1TypeEntry* e, TULE_EncodeContext* ctx);
// Strips the EXPLICIT tags of `e` (outermost first) from `*pe`, replacing it
// by the inner element, and caches has_explicit. 1 or 0.
int TUL_tag_decode(TUL_Metadata* dtd, TUL_Asn1TypeEntry* e, PElement** pe);
// The element a decode behaviour of `obj` works on: the context's element
// with the EXPLICIT tags of `obj`'s type stripped while its entry says it
// may have any. Null when there is none or the element does not carry the
// tags (no error object is left for that).
PElement* TUL_own_element(TUL_Object* obj, TULE_DecodeContext* ctx);
// Applies a member's own tag to ctx->pe. 1, or 0 (also for an untagged member).
int TUL_membertag_encode(TUL_Asn1Type* member, TULE_EncodeContext* ctx);
// 1 when element `pe` can be a value of the interned type name `type`.
int TUL_equal_tags(TUL_Metadata* dtd, char* type, PElement* pe);
// Interned name of the built-in type of a universal or SNMP application
// element, or null.
char* TUL_type_from_any(PElement* pe);
// Interned type of the ANY DEFINED BY member of SEQUENCE or SET value `obj`
// (description `e`) identified by member `id`; null when unresolved.
char* TULM_anydefinedbyId2type(TUL_Object* obj, TUL_Asn1TypeEntry* e, char* id);

// Writes the trace of element tree `pe` through the print context in one
// `prints` call; nothing when the trace cannot be built.
void TUL_pe2pl(PElement* pe, TULP_PrintContext* ctx);

namespace tul::codec {

// Error 5 for a tag number the element reader could not read back, naming
// its type or member.
TUL_Object* unreadable_tag(TUL_Metadata* dtd, int32_t tag_val, const char* owner);

// TUL_equal_tags by walking the tags of `type` (not ANY) anew.
int walk_equal_tags(TUL_Metadata* dtd, char* type, PElement* pe);

// TUL_equal_tags for a type other than ANY whose entry `e` (null when the
// type is not defined) was found already: from the tags kept with the
// entry, else by the walk. On the decoder's path for every member.
inline int entry_matches(TUL_Metadata* dtd, TUL_Asn1TypeEntry* e, char* type, PElement* pe) {
  if (!e) return 0;
  int kept = tag_match(e, pe->pe_class, pe->pe_id);
  return kept >= 0 ? kept : walk_equal_tags(dtd, type, pe);
}

}  // namespace tul::codec

#endif
