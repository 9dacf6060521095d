// Helpers shared by the constructed types: the nesting bound of the codec,
// holding and releasing contained values by reference count, matching member
// tags, decoding one member through a context of its own, and the steps
// around the member loops of the encoders, initialisers and copies.
#include "constructed.h"
#include "tulversion.h"

#include "codec.h"
#include "dict.h"
#include "failure.h"
#include "parse.h"
#include "type_cache.h"

namespace tul::constructed {
int codec_depth = 0;

int encode_too_deep(TUL_Object* obj, TULE_EncodeContext* ctx) {
  keep_first_error(ctx->error, TUL_error(tul_dtd(obj), TUL_ERR_LIMIT, "nesting of constructed values"));
  return 0;
}

PElement* open_constructed(TUL_Object* obj, TULE_EncodeContext* ctx) {
  bool is_set = tul_behavior(obj)->basic_type & (TUL_SET_TYPE | TUL_SETOF_TYPE);
  PElement* pe = new_PE(ctx->pe_ctx, ber::kUniversal, ber::kConstructed, is_set ? ber::kTagSet : ber::kTagSequence);
  if (!pe) {
    keep_first_error(ctx->error, TUL_error(tul_dtd(obj), TUL_ERR_MEMORY));
    return nullptr;
  }
  ctx->pe = pe;
  return pe;
}

TUL_Asn1TypeEntry* description(TUL_Entry* e) {
  auto* entry = reinterpret_cast<TUL_Asn1TypeEntry*>(e);
  return entry->final_def ? entry->final_def : TULM_description(entry);
}

int member_count(TUL_Entry* e) {
  TUL_Asn1TypeEntry* d = description(e);
  return d && d->size > 0 ? d->size : 0;
}

void release(TUL_Object* value) {
  if (value == tul_dtd(value)->tmp_object) return;
  --value->ref_cnt;
  TUL_free(value);
}

bool values_equal(TUL_Object* a, TUL_Object* b) {
  if (a == b) return true;
  TUL_Object* tmp = tul_dtd(a)->tmp_object;
  if (a == tmp || b == tmp) return false;
  // A member of type ANY may hold values of different layouts; an equal
  // behaviour reads its second argument as its own layout.
  if (TUL_object_basic_type(a) != TUL_object_basic_type(b)) return false;
  return TUL_equal(a, b) != 0;
}

int decode_error(TULE_DecodeContext* ctx, TUL_Object* obj, const char* detail, const PElement* at,
                 const char* member) {
  if (at) {
    failure::at_element(nullptr, at);
    failure::member(member);
  }
  keep_first_error(ctx->error, TUL_error(tul_dtd(obj), TUL_ERR_DECODE, detail, TUL_object_type(obj)));
  return 0;
}

PElement* first_child(PElement* pe) { return is_constructed(pe) ? pe->pe_un1.un_pe_cons : nullptr; }

bool member_matches(TUL_Metadata* dtd, TUL_Asn1TypeEntry* d, int i, PElement* pe) {
  TUL_Asn1Type* m = &d->members[i];
  if (m->tag_flag != 0)
    return (m->tag_flag & TUL_TAG_CLASS_MASK) == pe->pe_class && m->tag_val == pe->pe_id;
  if (!m->type || !pe) return false;
  return TULM_is_any(m->type) || codec::entry_matches(dtd, member_type(d, i), m->type, pe) != 0;
}

int first_matching_member(TUL_Metadata* dtd, TUL_Asn1TypeEntry* d, int n, PElement* pe) {
  int kept = n > 0 && dtd == d->dtd && n == d->size ? member_by_tag(d, pe->pe_class, pe->pe_id) : kMembersNotKept;
  if (kept != kMembersNotKept) return kept < 0 ? n : kept;
  int i = 0;
  while (i < n && !member_matches(dtd, d, i, pe)) ++i;
  return i;
}

char* member_value_type(TUL_Object* obj, TUL_Asn1TypeEntry* d, TUL_Asn1Type* m, PElement* pe) {
  const Names& n = names();
  if (m->type != n.any_defined_by) return m->type;
  if (char* type = TULM_anydefinedbyId2type(obj, d, m->anydefbyId)) return type;
  if (char* type = TUL_type_from_any(pe)) return type;
  return n.ber_string;
}

TUL_Object* decode_value(TUL_Metadata* dtd, char* type, TUL_Asn1TypeEntry* entry, PElement* pe,
                         TULE_DecodeContext* ctx, NoValue no_value) {
  TUL_Object* value = entry ? alloc_of(dtd, entry, type) : TUL_alloc_US(type, dtd);
  if (!value) {
    if (no_value == NoValue::kMemoryError) keep_first_error(ctx->error, TUL_error(dtd, TUL_ERR_MEMORY));
    return nullptr;
  }
  if (value->error) {
    keep_first_error(ctx->error, value);
    return nullptr;
  }
  TULE_DecodeContext local{pe, nullptr, ctx->pe_ctx};
  TUL_Behavior* b = tul_behavior(value);
  if (!b->decode || !b->decode(value, &local)) {
    failure::at_element(type, pe);
    keep_first_error(ctx->error, local.error);
    TUL_free(value);
    return nullptr;
  }
  return value;
}

TUL_Object* decode_declared(TUL_Metadata* dtd, char* type, TUL_Asn1TypeEntry* entry, PElement* pe,
                            TULE_DecodeContext* ctx, NoValue no_value) {
  char* typed = type == names().any && globals.typed_any ? TUL_type_from_any(pe) : nullptr;
  if (typed) {
    // The attempt may fail on valid input (a Counter beyond 32 bits): its
    // reports would be noise, and its error object is not the caller's.
    TULE_DecodeContext scratch{pe, nullptr, ctx->pe_ctx};
    int trace = globals.trace_error;
    globals.trace_error = 0;
    TUL_Object* value = decode_value(dtd, typed, nullptr, pe, &scratch, NoValue::kFailSilently);
    globals.trace_error = trace;
    if (value) return value;
    failure::discard();
    if (scratch.error != dtd->alloc_error) TUL_free(scratch.error);
  }
  return decode_value(dtd, type, entry, pe, ctx, no_value);
}

bool parse_open_brace(TULP_ParseContext* ctx) {
  if (ctx->id != TULP_OPEN_BRACE) {
    parse::record_error(ctx, "'{' expected");
    return false;
  }
  TULP_get_token(ctx);
  return true;
}

Separator parse_separator(TULP_ParseContext* ctx) {
  TULP_get_token(ctx);
  // The tokenizer leaves the previous token current at the end of the input.
  if (ctx->error) return Separator::kFail;
  if (ctx->id == TULP_CLOSE_BRACE) return Separator::kEnd;
  if (ctx->id != TULP_COMMA) {
    parse::record_error(ctx, "',' expected");
    return Separator::kFail;
  }
  TULP_get_token(ctx);
  return Separator::kMore;
}

bool encode_into(PElement* pe, PElement** last, TUL_Object* value, TUL_Asn1Type* m, TULE_EncodeContext* ctx) {
  TULE_EncodeContext local{nullptr, nullptr, ctx->pe_ctx};
  TUL_Behavior* b = tul_behavior(value);
  if (!b->encode || !b->encode(value, &local)) {
    pe_free(local.pe);
    keep_first_error(ctx->error, local.error);
    return false;
  }
  if (m && m->tag_flag && !TUL_membertag_encode(m, &local)) {
    pe_free(local.pe);
    TUL_Metadata* dtd = tul_dtd(value);
    keep_first_error(ctx->error, dict::valid_tag_number(m->tag_val) ? TUL_error(dtd, TUL_ERR_MEMORY)
                                                                     : codec::unreadable_tag(dtd, m->tag_val, m->name));
    return false;
  }
  seq_addon(pe, *last, local.pe);
  *last = local.pe;
  return true;
}

}  // namespace tul::constructed
