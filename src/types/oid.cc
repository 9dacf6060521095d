// OBJECT IDENTIFIER values. Besides the arcs a value may carry its BER
// contents ready-made: values equal to a template registration share the
// octets that the dictionary's registration index owns (`in_line` 1), so
// encoding them copies nothing and computes nothing.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dict.h"
#include "hash.h"
#include "parse.h"
#include "prim.h"
#include "tulversion.h"

namespace tul::oid {
namespace {

// Arcs a value may have for encoding, decoding, parsing and printing.
constexpr int kMaxArcs = 128;

inline TUL_Oid* as_oid(TUL_Object* obj) { return reinterpret_cast<TUL_Oid*>(obj); }

bool is_oid(TUL_Object* obj, const char* function) { return has_basic_type(obj, TUL_OID_TYPE, function); }

void drop_owned_octets(TUL_Oid* o) {
  if (!o->in_line) mem::free(o->octets);
  o->in_line = 0;
  o->len_octets = 0;
  o->octets = nullptr;
}

// Takes over the pre-encoded octets of an equal registered identifier, or
// forgets any octets that no longer match the arcs.
void share_registered_octets(TUL_Oid* o) {
  TULH_HT* index = o->type_ref->dtd->registrations;
  auto* registered =
      index ? static_cast<TUL_Oid*>(TULH_assoc_entry(index, o)) : nullptr;
  if (registered == o) return;
  drop_owned_octets(o);
  if (registered && registered->octets) {
    o->in_line = 1;
    o->len_octets = registered->len_octets;
    o->octets = registered->octets;
  }
}

// Replaces the arcs of `obj`; the value is unchanged on failure.
TUL_Object* set_arcs(TUL_Object* obj, int count, const int32_t* arcs) {
  if (count < 0 || (count > 0 && !arcs)) return TUL_error(tul_dtd(obj), TUL_ERR_ARGUMENT, "init");
  if (count > 0 && (arcs[0] < 0 || arcs[0] > 2))
    return TUL_error(tul_dtd(obj), TUL_ERR_OID_FORMAT, "first integer must be in range (0-2)");
  auto* copy = mem::alloc_array<int32_t>(static_cast<size_t>(count));
  if (!copy) return TUL_error(tul_dtd(obj), TUL_ERR_MEMORY);
  if (count) std::memcpy(copy, arcs, static_cast<size_t>(count) * sizeof(int32_t));
  TUL_Oid* o = as_oid(obj);
  mem::free(o->oid);
  mem::free(o->string);
  o->oid = copy;
  o->len = count;
  o->string = nullptr;
  share_registered_octets(o);
  return obj;
}

// Reads the arcs of a text as TUL_string2oid does; false after tracing why.
bool read_arcs(const char* text, int32_t (&arcs)[kMaxArcs], int* count) {
  int n = 0;
  const char* p = text;
  for (;;) {
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(p, &end, 10);
    if (end == p) break;
    if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX) {
      TUL_trace_error(TUL_ERR_OID_FORMAT, "");
      return false;
    }
    arcs[n++] = static_cast<int32_t>(value);
    if (n == kMaxArcs) {
      TUL_trace_error(TUL_ERR_LIMIT, "OID literal too large");
      return false;
    }
    p = end;
  }
  if (n < 2) {
    TUL_trace_error(TUL_ERR_OID_FORMAT, "provide at least 2 integers");
    return false;
  }
  *count = n;
  return true;
}

TUL_Object* _alloc(TUL_Entry* entry) { return prim::new_record<TUL_Oid>(entry); }

// (count, int32_t arcs), or (-1, text of arcs). A text that cannot be read
// leaves the value unchanged; one whose first arc is out of range gives the
// error object, so TUL_new never hands back a value it has freed.
TUL_Object* _init(TUL_Object* obj, va_list* args) {
  int count = va_arg(*args, int);
  const void* source = va_arg(*args, const void*);
  if (!source) return nullptr;
  if (count != -1) return set_arcs(obj, count, static_cast<const int32_t*>(source));
  int32_t arcs[kMaxArcs];
  int n = 0;
  if (!read_arcs(static_cast<const char*>(source), arcs, &n)) return obj;
  return set_arcs(obj, n, arcs);
}

void _free(TUL_Object* obj) {
  TUL_Oid* o = as_oid(obj);
  mem::free(o->oid);
  mem::free(o->string);
  if (!o->in_line) mem::free(o->octets);
  mem::free(o);
}

// Shared registered octets stay shared; owned ones are not copied.
TUL_Object* _copy(TUL_Object* obj) {
  TUL_Oid* source = as_oid(obj);
  int32_t count = source->oid ? source->len : 0;
  auto* arcs = mem::alloc_array<int32_t>(static_cast<size_t>(count));
  if (!arcs) return TUL_error(tul_dtd(obj), TUL_ERR_MEMORY);
  if (count) std::memcpy(arcs, source->oid, static_cast<size_t>(count) * sizeof(int32_t));
  TUL_Object* failure = nullptr;
  TUL_Oid* copy = prim::clone_record<TUL_Oid>(obj, &failure);
  if (!copy) {
    mem::free(arcs);
    return failure;
  }
  copy->len = count;
  copy->oid = arcs;
  copy->string = nullptr;
  if (!source->in_line || !source->octets) {
    copy->in_line = 0;
    copy->len_octets = 0;
    copy->octets = nullptr;
  }
  return reinterpret_cast<TUL_Object*>(copy);
}

int _decode(TUL_Object* obj, TULE_DecodeContext* ctx) {
  PElement* pe = TUL_own_element(obj, ctx);
  if (!pe) return 0;
  uint32_t arcs[ber::kMaxOidArcs];
  int count = 0;
  if (!prim2oid(arcs, &count, pe)) return prim::wrong_encoding(obj, ctx);
  // Arcs above 2^31 - 1 are kept with their bits, as negative arcs.
  TUL_Object* result = prim::call_init(obj, count, reinterpret_cast<int32_t*>(arcs));
  if (prim::failed(result, obj)) return prim::decode_failed(ctx, result);
  return 1;
}

// A registered identifier hands its shared contents to the element, which
// must not free them; otherwise the element owns freshly encoded ones.
int _encode(TUL_Object* obj, TULE_EncodeContext* ctx) {
  TUL_Oid* o = as_oid(obj);
  PElement* pe = new_PE(ctx->pe_ctx, ber::kUniversal, ber::kPrimitive, ber::kTagObjectIdentifier);
  if (!pe) return 0;
  if (o->in_line && o->octets) {
    pe->pe_inline = 1;
    pe->pe_len = o->len_octets;
    pe->pe_un1.un_pe_prim = o->octets;
  } else if (!o->oid || encodeOID(o->len, reinterpret_cast<const uint32_t*>(o->oid), &pe->pe_len,
                                  &pe->pe_un1.un_pe_prim) != 0) {
    return 0;
  }
  return prim::finish_encode(obj, ctx, pe);
}

// Every template entry has its label right after the entry header.
const char* label_of(TUL_Entry* entry) { return reinterpret_cast<TUL_MOCEntry*>(entry)->label; }

// A template label (its registration text gives the arcs), or "{" arcs "}"
// with at least two arcs separated by white space.
TUL_Object* _parse(TUL_Object* obj, TULP_ParseContext* ctx) {
  if (ctx->id == TULP_LOWER_NAME) {
    TUL_Entry* entry = _TUL_templateByName(tul_dtd(obj), ctx->buffer);
    if (!entry) {
      parse::record_error(ctx, "unknown template label as OID value");
      return obj;
    }
    // A template without registration (a behaviour) leaves the value empty.
    TUL_Object* result = prim::call_init(obj, -1, entry->name);
    if (prim::failed(result, obj)) keep_first_error(ctx->error, result);
    return obj;
  }
  if (ctx->id != TULP_OPEN_BRACE) {
    parse::record_error(ctx, "'{' or template label exepected");
    return obj;
  }
  int32_t arcs[kMaxArcs];
  int count = 0;
  TULP_get_token(ctx);
  if (ctx->error) return obj;
  arcs[count++] = TULP_parse_integer(ctx);
  if (ctx->error) return obj;
  if (arcs[0] < 0 || arcs[0] > 2) {
    parse::record_error(ctx, "in OID value, first integer must be in range (0-2)");
    return obj;
  }
  TULP_get_token(ctx);
  if (ctx->error) return obj;
  arcs[count++] = TULP_parse_integer(ctx);
  if (ctx->error) return obj;
  for (;;) {
    TULP_get_token(ctx);
    if (ctx->error) return obj;
    if (ctx->id == TULP_CLOSE_BRACE) break;
    if (count == kMaxArcs) {
      parse::record_error(ctx, "internal limitation reached, too many OID elements");
      return obj;
    }
    arcs[count++] = TULP_parse_integer(ctx);
    if (ctx->error) return obj;
  }
  TUL_Object* result = prim::call_init(obj, count, arcs);
  if (prim::failed(result, obj)) keep_first_error(ctx->error, result);
  return obj;
}

// Room for the text of the longest identifier: 128 arcs of up to 11
// characters each, blanks and the NUL.
using ArcsText = char[kMaxArcs * 12];

// The arcs of `o` separated by blanks; false (after trace 5) for more arcs
// than the limit.
bool format_arcs(const TUL_Oid* o, ArcsText& text) {
  text[0] = '\0';
  if (o->len > kMaxArcs) {
    TUL_trace_error(TUL_ERR_LIMIT, "OID too large");
    return false;
  }
  size_t used = 0;
  for (int32_t i = 0; o->oid && i < o->len; ++i)
    used += static_cast<size_t>(std::snprintf(text + used, sizeof text - used, i ? " %ld" : "%ld",
                                              static_cast<long>(o->oid[i])));
  return true;
}

// The arcs in braces, or the label of the template registered under them;
// the other form follows as a comment when annotation is on, so every form
// parses back to the same identifier.
void _print(TUL_Object* obj, TULP_PrintContext* ctx) {
  TUL_Entry* entry = _TUL_templateByRegistration(tul_dtd(obj), obj);
  // Formatted on the stack, not through the cached text: printing needs no
  // memory, so a shortage cannot turn the value into {}.
  ArcsText arcs;
  format_arcs(as_oid(obj), arcs);
  const char* label = entry ? label_of(entry) : nullptr;
  if (label && globals.oid_as_label) {
    prim::print(ctx, label);
    if (!globals.oid_annotated) return;
    prim::print(ctx, " -- {");
    prim::print(ctx, arcs);
    prim::print(ctx, "} --");
    return;
  }
  prim::print(ctx, "{");
  prim::print(ctx, arcs);
  prim::print(ctx, "}");
  if (label && globals.oid_annotated) {
    prim::print(ctx, " -- ");
    prim::print(ctx, label);
    prim::print(ctx, " --");
  }
}

long _size(TUL_Object* obj) { return as_oid(obj)->len; }

// Identifiers of one family share long prefixes, so the last arcs decide
// most comparisons early.
int _equal(TUL_Object* a, TUL_Object* b) {
  TUL_Oid* x = as_oid(a);
  TUL_Oid* y = as_oid(b);
  if (x->len != y->len) return 0;
  if (x->len <= 0) return 1;
  if (!x->oid || !y->oid) return x->oid == y->oid;
  if (x->oid[x->len - 1] != y->oid[y->len - 1]) return 0;
  return std::memcmp(x->oid, y->oid, static_cast<size_t>(x->len) * sizeof(int32_t)) == 0;
}

unsigned int _hash(TUL_Object* obj) {
  TUL_Oid* o = as_oid(obj);
  uint32_t h = 0;
  for (int32_t i = 0; o->oid && i < o->len; ++i) h = h * 32u + static_cast<uint32_t>(o->oid[i]);
  return h;
}

}  // namespace
}  // namespace tul::oid

using namespace tul::oid;

TUL_API constinit TUL_Behavior TUL_oid_behavior = {
    .basic_type = TUL_OID_TYPE,
    .alloc = _alloc,
    .init = _init,
    .free = _free,
    .decode = _decode,
    .encode = _encode,
    .parse = _parse,
    .print = _print,
    .copy = _copy,
    .size = _size,
    .equal = _equal,
    .evaluate = tul::prim::evaluate_self,
    .hash = _hash,
    .action = {},
    .mapping = nullptr,
};

extern "C" {

TUL_API TUL_Object* TUL_string2oid(TUL_Object* obj, const char* string) {
  if (!obj || !string || !is_oid(obj, "string2oid")) return nullptr;
  int32_t arcs[kMaxArcs];
  int count = 0;
  if (!read_arcs(string, arcs, &count)) return nullptr;
  return TUL_init(obj, count, arcs);
}

TUL_API char* TUL_oid2string(TUL_Object* obj) {
  static char empty[] = "";
  if (!obj || !is_oid(obj, "oid2string")) return nullptr;
  TUL_Oid* o = as_oid(obj);
  if (o->string) return o->string;  // cached only after a good format
  ArcsText text;
  if (!format_arcs(o, text) || o->len <= 0 || !o->oid) return empty;
  o->string = tul::mem::strdup(text);
  if (!o->string) TUL_trace_error(TUL_ERR_MEMORY);
  return o->string;
}

}  // extern "C"
