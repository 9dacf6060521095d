// Encode/decode driver, tagging, ANY typing. The driver types ANY DEFINED BY
// members through the dictionary's registration index, so this layer looks
// templates up in the dictionary below it.
// Every run owns one element context on the stack; a decode reads the
// BER-String's octets in place, and encodings below kSmallEncoding octets are
// assembled in the call's own buffer so that only the result is allocated.
#include "codec.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "dict.h"
#include "failure.h"
#include "mem.h"
#include "type_cache.h"

using namespace tul::ber;

namespace {

constexpr int kSmallEncoding = 1024;

// A memory-string stream on the stack; the stream record never needs the
// heap, only a buffer it grows itself.
class LocalStream {
 public:
  LocalStream() { str_open(&ps_); }
  ~LocalStream() { str_close(&ps_); }
  LocalStream(const LocalStream&) = delete;
  LocalStream& operator=(const LocalStream&) = delete;
  PStream* get() { return &ps_; }

 private:
  PStream ps_{};
};

// Applies one tag to ctx->pe: IMPLICIT retags it, EXPLICIT wraps it. The
// caller has checked the tag number.
int apply_tag(int32_t tag_flag, int32_t tag_val, TULE_EncodeContext* ctx) {
  if (!ctx->pe) return 0;
  auto tagclass = static_cast<uint8_t>(tag_flag & TUL_TAG_CLASS_MASK);
  auto id = static_cast<uint16_t>(tag_val);
  if (tag_flag & TUL_TAG_IMPLICIT) {
    ctx->pe->pe_class = tagclass;
    ctx->pe->pe_id = id;
    return 1;
  }
  if (tag_flag & TUL_TAG_EXPLICIT) {
    PElement* outer = new_PE(ctx->pe_ctx, tagclass, kConstructed, id);
    if (!outer) return 0;
    outer->pe_un1.un_pe_cons = ctx->pe;
    ctx->pe = outer;
    return 1;
  }
  return 0;
}

// Records why an encoding cannot be tagged; 0.
int tag_failure(TUL_Metadata* dtd, TULE_EncodeContext* ctx, TUL_Object* error) {
  tul::keep_first_error(ctx->error, error ? error : TUL_error(dtd, TUL_ERR_MEMORY));
  return 0;
}

}  // namespace

TUL_Object* tul::codec::unreadable_tag(TUL_Metadata* dtd, int32_t tag_val, const char* owner) {
  char topic[160];
  std::snprintf(topic, sizeof topic, "tag number %ld of %.100s", static_cast<long>(tag_val), owner ? owner : "");
  return TUL_error(dtd, TUL_ERR_LIMIT, topic);
}

namespace {

using tul::codec::unreadable_tag;

// The tags kept with the entry, when every one of them can be applied;
// else 0 and nothing done, for the walk to do and report.
int apply_kept_tags(const tul::TypeCache* c, TULE_EncodeContext* ctx) {
  for (size_t k = 0; k < c->encode_tag_count; ++k)
    if (!tul::dict::valid_tag_number(c->encode_tags[k].tag_val)) return 0;
  for (size_t k = 0; k < c->encode_tag_count; ++k)
    if (!apply_tag(c->encode_tags[k].tag_flag, c->encode_tags[k].tag_val, ctx)) return -1;
  return 1;
}

int tag_encode(TUL_Metadata* dtd, TUL_Asn1TypeEntry* e, TULE_EncodeContext* ctx, int depth) {
  if (e->type) {
    if (depth >= tul::kMaxTypeChain) return tag_failure(dtd, ctx, tul::chain_too_long(e));
    TUL_Asn1TypeEntry* base = tul::find_type(dtd, e->type);
    if (!base) return tag_failure(dtd, ctx, TUL_error(dtd, TUL_ERR_NO_TYPE, e->type));
    if (!tag_encode(dtd, base, ctx, depth + 1)) return 0;
  }
  if (e->tag_flag == 0) return 1;
  if (!tul::dict::valid_tag_number(e->tag_val)) return tag_failure(dtd, ctx, unreadable_tag(dtd, e->tag_val, e->name));
  return apply_tag(e->tag_flag, e->tag_val, ctx) || tag_failure(dtd, ctx, nullptr);
}

int tag_decode(TUL_Metadata* dtd, TUL_Asn1TypeEntry* e, PElement** pe, int depth) {
  if (e->tag_flag & TUL_TAG_EXPLICIT) {
    PElement* outer = *pe;
    if (outer->pe_form != kConstructed || !outer->pe_un1.un_pe_cons) return 0;
    *pe = outer->pe_un1.un_pe_cons;
  }
  if (!e->type) {
    e->has_explicit = 0;
    return 1;
  }
  TUL_Asn1TypeEntry* base = tul::find_type(dtd, e->type);
  if (!base || depth >= tul::kMaxTypeChain || !tag_decode(dtd, base, pe, depth + 1)) return 0;
  e->has_explicit = (e->tag_flag & TUL_TAG_EXPLICIT) | base->has_explicit;
  return 1;
}

bool same_tag(int32_t tag_flag, int32_t tag_val, const PElement* pe) {
  return (tag_flag & TUL_TAG_CLASS_MASK) == pe->pe_class && tag_val == pe->pe_id;
}

// What the reader's ps_errno says about octets that hold no whole element.
const char* framing_problem(int ps_errno) {
  switch (ps_errno) {
    case kPsTagOverflow: return "tag number too large";
    case kPsLengthOverflow: return "length too large";
    case kPsNoMemory: return "memory allocation error";
    case kPsEndInTag: return "identifier octets cut short";
    case kPsEndInLength: return "length octets cut short";
    case kPsLengthMismatch: return "contents overrun the length of their constructed element";
    case kPsIndefinitePrimitive: return "indefinite length on a primitive element";
    case kPsTooDeep: return "elements nested too deeply";
    case 0: return "no octets";
    default: return "element cut short";
  }
}

}  // namespace

/* ------------------------------------------------------------------------
 * Element trees and BER-String values
 * ---------------------------------------------------------------------- */

TUL_Object* TUL_pe2ber(PElement* pe, TUL_Metadata* dtd) {
  if (!pe || !dtd) return nullptr;
  char* ber_string = tul::names().ber_string;
  if (!ber_string) return nullptr;
  int len = ps_get_abs(pe);
  if (len < 0) return nullptr;
  unsigned char small[kSmallEncoding];
  tul::mem::CPtr<unsigned char> large;
  unsigned char* octets = small;
  if (len >= kSmallEncoding) {
    large.reset(static_cast<unsigned char*>(tul::mem::alloc(static_cast<size_t>(len))));
    if (!(octets = large.get())) return nullptr;
  }
  if (!write_sized(pe, octets)) return nullptr;
  TUL_Object* value = TUL_new_US(ber_string, dtd, len, reinterpret_cast<char*>(octets));
  if (!value || value->error) {
    TUL_free(value);
    TUL_trace_error(TUL_ERR_MEMORY);
    return nullptr;
  }
  return value;
}

int TUL_ber2pe(PECtx* ctx, TUL_Object* ber, PElement** out_pe) {
  if (!ctx || !ber || !out_pe) return 0;
  char* octets = TUL_read_str(ber);
  long size = octets ? TUL_size(ber) : 0;
  if (size < 0 || size > INT_MAX) return 0;
  LocalStream stream;
  PStream* ps = stream.get();
  str_setup(ps, octets, static_cast<int>(size), 1);
  ps->pe_ctx = ctx;
  PElement* pe = ps2pe_aux(ps, 1, 1);
  if (!pe) return 0;
  *out_pe = pe;
  return 1;
}

/* ------------------------------------------------------------------------
 * Tags
 * ---------------------------------------------------------------------- */

int TUL_tag_encode(TUL_Metadata* dtd, TUL_Asn1TypeEntry* e, TULE_EncodeContext* ctx) {
  if (!dtd || !e || !ctx) return 0;
  if (const tul::TypeCache* c = dtd == e->dtd ? tul::encode_tags(e) : nullptr) {
    int kept = apply_kept_tags(c, ctx);
    if (kept != 0) return kept > 0 || tag_failure(dtd, ctx, nullptr);
  }
  return tag_encode(dtd, e, ctx, 0);
}

int TUL_membertag_encode(TUL_Asn1Type* member, TULE_EncodeContext* ctx) {
  if (!member || !ctx || member->tag_flag == 0 || !tul::dict::valid_tag_number(member->tag_val)) return 0;
  return apply_tag(member->tag_flag, member->tag_val, ctx);
}

int TUL_tag_decode(TUL_Metadata* dtd, TUL_Asn1TypeEntry* e, PElement** pe) {
  if (!dtd || !e || !pe || !*pe) return 0;
  return tag_decode(dtd, e, pe, 0);
}

PElement* TUL_own_element(TUL_Object* obj, TULE_DecodeContext* ctx) {
  PElement* pe = ctx->pe;
  TUL_Asn1TypeEntry* e = tul_type_entry(obj);
  if (pe && e->has_explicit && !TUL_tag_decode(tul_dtd(obj), e, &pe)) return nullptr;
  return pe;
}

int TUL_equal_tags(TUL_Metadata* dtd, char* type, PElement* pe) {
  if (!dtd || !type || !pe) return 0;
  if (TULM_is_any(type)) return 1;
  return tul::codec::entry_matches(dtd, tul::find_type(dtd, type), type, pe);
}

int tul::codec::walk_equal_tags(TUL_Metadata* dtd, char* type, PElement* pe) {
  long budget = LONG_MAX;
  auto same = [pe](const tul::TagLeaf& leaf) { return leaf.any || same_tag(leaf.tag_flag, leaf.tag_val, pe); };
  return tul::walk_tags(dtd, type, 0, &budget, same);
}

/* ------------------------------------------------------------------------
 * ANY and ANY DEFINED BY
 * ---------------------------------------------------------------------- */

char* TUL_type_from_any(PElement* pe) {
  if (!pe) return nullptr;
  const tul::Names& names = tul::names();
  if (pe->pe_class == kApplication)
    return pe->pe_id < std::size(names.application_types) ? names.application_types[pe->pe_id] : nullptr;
  if (pe->pe_class == kUniversal)
    return pe->pe_id < std::size(names.universal_types) ? names.universal_types[pe->pe_id] : nullptr;
  return nullptr;
}

char* TULM_anydefinedbyId2type(TUL_Object* obj, TUL_Asn1TypeEntry* e, char* id) {
  if (!obj || !e || !id || !e->members) return nullptr;
  if (!(TUL_object_basic_type(obj) & (TUL_SEQUENCE_TYPE | TUL_SET_TYPE))) return nullptr;
  TUL_Object* value = nullptr;
  for (int32_t k = 0; k < e->size; ++k) {
    if (e->members[k].name == id) {
      value = reinterpret_cast<TUL_Structure*>(obj)->member[k];
      break;
    }
  }
  if (!value) return nullptr;
  if (TUL_object_basic_type(value) == TUL_CHOICE_TYPE) value = reinterpret_cast<TUL_Choice*>(value)->choice;
  switch (TUL_object_basic_type(value)) {
    case TUL_OID_TYPE: {
      TUL_Entry* entry = _TUL_templateByRegistration(tul_dtd(obj), value);
      return entry ? tul::dict::registered_syntax(entry, obj->type_ref->name) : nullptr;
    }
    case TUL_INTEGER_TYPE:
    case TUL_ENUMERATED_TYPE: {
      const TUL_LocalFormMapping* mapping = tul_behavior(obj)->mapping;
      int32_t local_form = reinterpret_cast<TUL_Integer*>(value)->integer;
      // Applications fill mappings with plain texts; callers compare names by
      // identity.
      for (; mapping && mapping->syntax; ++mapping)
        if (mapping->localFormId == local_form) return TUL_unique_string(mapping->syntax);
      return nullptr;
    }
    default:
      return nullptr;
  }
}

/* ------------------------------------------------------------------------
 * Trace entry
 * ---------------------------------------------------------------------- */

void TUL_pe2pl(PElement* pe, TULP_PrintContext* ctx) {
  if (!pe || !ctx || !ctx->prints) return;
  LocalStream stream;
  PStream* ps = stream.get();
  unsigned char terminator = 0;
  if (pe2pl(ps, pe) == -1 || ps_io(ps, ps->ps_writeP, &terminator, 1, 0) == -1) return;
  ctx->prints(ps->ps_base, ctx->ptr);
}

/* ------------------------------------------------------------------------
 * Exported driver
 * ---------------------------------------------------------------------- */

extern "C" {

TUL_API TUL_Object* TUL_encode(TUL_Object* obj) {
  if (!obj) {
    TUL_trace_error(TUL_ERR_ARGUMENT, "encode");
    return nullptr;
  }
  ElementContextGuard guard;
  TULE_EncodeContext ctx{nullptr, nullptr, guard.get()};
  TUL_Behavior* behavior = tul_behavior(obj);
  if (!behavior || !behavior->encode || !behavior->encode(obj, &ctx)) return ctx.error;
  return TUL_pe2ber(ctx.pe, tul_dtd(obj));
}

TUL_API TUL_Object* TUL_decode_US(char* type, TUL_Object* ber, TUL_Metadata* dtd) {
  ElementContextGuard guard;
  TUL_Object* value = TUL_alloc_US(type, dtd);
  if (!value || value->error) {
    tul::failure::finish(type, nullptr, ber);
    return value;
  }
  if (!ber) {
    TUL_free(value);
    tul::failure::finish(type, nullptr, ber);
    return nullptr;
  }
  PElement* pe = nullptr;
  if (!TUL_ber2pe(guard.get(), ber, &pe)) {
    TUL_free(value);
    tul::failure::finish(type, nullptr, ber);
    return TUL_error(dtd, TUL_ERR_DECODE, "octets are not BER (X.209) encoded", "BER-String");
  }
  TULE_DecodeContext ctx{pe, nullptr, guard.get()};
  TUL_Behavior* behavior = tul_behavior(value);
  if (behavior && behavior->decode && behavior->decode(value, &ctx)) return value;
  TUL_free(value);
  tul::failure::finish(type, pe, ber);
  return ctx.error;
}

TUL_API long TUL_ber_length(const void* octets, long size, const char** problem) {
  int error = 0;
  long length = size > 0 ? element_length(static_cast<const unsigned char*>(octets), static_cast<size_t>(size), &error)
                         : -1;
  if (length < 0 && problem) *problem = framing_problem(error);
  return length;
}

TUL_API TUL_Object* TUL_decode(const char* type, TUL_Object* ber, TUL_Metadata* dtd) {
  return TUL_decode_US(TUL_unique_string(type), ber, dtd);
}

}  // extern "C"
