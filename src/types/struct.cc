// SEQUENCE and SET values: one slot per member of the type's description, in
// definition order, allocated in the same block as the record. Empty slots
// hold the dictionary's placeholder object, so no walker needs null checks.
// The two tables differ only in decoding: SEQUENCE matches elements to members
// in order, SET by tag.
#include <cstring>

#include "codec.h"
#include "constructed.h"
#include "failure.h"
#include "parse.h"
#include "prim.h"
#include "type_cache.h"

/* ------------------------------------------------------------------------
 * SEQUENCE and SET
 * ---------------------------------------------------------------------- */

namespace tul::structure {
namespace {

using namespace tul::constructed;

TUL_Object** slots(TUL_Object* obj) { return reinterpret_cast<TUL_Structure*>(obj)->member; }

// Puts a decoded value into slot `i`, releasing what the slot held before.
void store(TUL_Object* obj, int i, TUL_Object* value) {
  TUL_Object* previous = slots(obj)[i];
  slots(obj)[i] = value;
  hold(value);
  release(previous);
}

TUL_Object* _alloc(TUL_Entry* e) {
  int n = member_count(e);
  TUL_Object* obj = prim::new_record(e, sizeof(TUL_Structure) + sizeof(TUL_Object*) * n);
  if (obj->error) return obj;
  auto* s = reinterpret_cast<TUL_Structure*>(obj);
  s->member = reinterpret_cast<TUL_Object**>(s + 1);
  for (int i = 0; i < n; ++i) s->member[i] = e->dtd->tmp_object;
  return obj;
}

TUL_Object* _init(TUL_Object* obj, va_list* args) {
  TUL_Asn1TypeEntry* d = description(obj);
  return init_each(obj, args, member_count(obj->type_ref), [&](int i, TUL_Object* value) -> TUL_Object* {
    TUL_Object* previous = TUL_assign_US(obj, d->members[i].name, value);
    if (previous && previous->error) return previous;
    TUL_free(previous);
    return nullptr;
  });
}

void _free(TUL_Object* obj) {
  for (int i = 0, n = member_count(obj->type_ref); i < n; ++i) release(slots(obj)[i]);
  mem::free(obj);
}

// Decodes member `i` from `element` (the member's own element, EXPLICIT tag
// still on) into its slot. `explicit_detail` is the message for an EXPLICIT
// member on a primitive element.
bool decode_member(TUL_Object* obj, TUL_Asn1TypeEntry* d, int i, PElement* element,
                   TULE_DecodeContext* ctx, const char* explicit_detail, NoValue no_value) {
  TUL_Asn1Type* m = &d->members[i];
  if (m->tag_flag & TUL_TAG_EXPLICIT) {
    PElement* inner = first_child(element);
    if (!inner) return decode_error(ctx, obj, explicit_detail, element, m->name);
    element = inner;
  }
  char* type = member_value_type(obj, d, m, element);
  TUL_Asn1TypeEntry* entry = type == m->type ? member_type(d, i) : nullptr;
  TUL_Object* value = decode_declared(tul_dtd(obj), type, entry, element, ctx, no_value);
  if (!value) return failure::member(m->name);
  store(obj, i, value);
  return true;
}

// Members are matched in order, greedily: an element goes to the first member
// that accepts it, and a skipped OPTIONAL member is never revisited.
int _decode_seq(TUL_Object* obj, TULE_DecodeContext* ctx) {
  PElement* pe = TUL_own_element(obj, ctx);
  if (!pe) return 0;
  if (!is_constructed(pe)) return decode_error(ctx, obj, "constructed tag (SEQUENCE) expected");
  TUL_Asn1TypeEntry* d = description(obj);
  TUL_Metadata* dtd = tul_dtd(obj);
  PElement* cursor = first_child(pe);
  for (int i = 0, n = member_count(obj->type_ref); i < n; ++i) {
    TUL_Asn1Type* m = &d->members[i];
    bool mandatory = m->opt_def == TUL_MANDATORY;
    if (!cursor) {
      if (mandatory) return decode_error(ctx, obj, "missing SEQUENCE element");
      continue;
    }
    if (!member_matches(dtd, d, i, cursor)) {
      if (mandatory) return decode_error(ctx, obj, "unexpected member tag found", cursor, m->name);
      continue;
    }
    if (!decode_member(obj, d, i, cursor, ctx, "constructed tag for EXPLICIT member tag expected",
                       NoValue::kFailSilently))
      return 0;
    cursor = cursor->pe_next;
  }
  if (cursor) TUL_trace_error(TUL_ERR_DECODE, "extra element(s) in BER string for SEQUENCE ignored", TUL_object_type(obj));
  return 1;
}

// Elements may come in any order; a repeated member keeps the last value, and
// members no element matched stay empty, mandatory ones included.
int _decode_set(TUL_Object* obj, TULE_DecodeContext* ctx) {
  PElement* pe = TUL_own_element(obj, ctx);
  if (!pe) return 0;
  if (!is_constructed(pe)) {
    TUL_trace_error(TUL_ERR_DECODE, "constructed tag (SET) expected", TUL_object_type(obj));
    return 0;
  }
  TUL_Asn1TypeEntry* d = description(obj);
  TUL_Metadata* dtd = tul_dtd(obj);
  int n = member_count(obj->type_ref);
  for (PElement* child = first_child(pe); child; child = child->pe_next) {
    int i = first_matching_member(dtd, d, n, child);
    if (i == n) return decode_error(ctx, obj, "unable to associate tag value with set member");
    if (!decode_member(obj, d, i, child, ctx, "constructed tag for EXPLICIT tag expected",
                       NoValue::kMemoryError))
      return 0;
  }
  return 1;
}

int _encode(TUL_Object* obj, TULE_EncodeContext* ctx) {
  return encode_constructed(obj, ctx, [obj, ctx](PElement* pe) {
    TUL_Metadata* dtd = tul_dtd(obj);
    TUL_Asn1TypeEntry* d = description(obj);
    PElement* last = nullptr;
    for (int i = 0, n = member_count(obj->type_ref); i < n; ++i) {
      TUL_Asn1Type* m = &d->members[i];
      TUL_Object* value = slots(obj)[i];
      if (value != dtd->tmp_object) {
        if (!encode_into(pe, &last, value, m, ctx)) return false;
      } else if (m->opt_def == TUL_MANDATORY) {
        keep_first_error(ctx->error, TUL_error(dtd, TUL_ERR_MANDATORY, m->name, TUL_object_type(obj)));
        return false;
      }
    }
    return true;
  });
}

// Members in any order, each by its name; a repeated member replaces the
// earlier value. Mandatory members left out are reported only on encoding.
TUL_Object* _parse(TUL_Object* obj, TULP_ParseContext* ctx) {
  if (!parse_open_brace(ctx)) return nullptr;
  if (ctx->id == TULP_CLOSE_BRACE) return obj;
  TUL_Asn1TypeEntry* d = description(obj);
  for (;;) {
    char* name = TULP_parse_local_name(ctx);
    if (!name) return nullptr;
    int i = find_member(d, name);
    if (i < 0) {
      parse::record_error(ctx, "invalid member name in SET/SEQUENCE");
      return nullptr;
    }
    TULP_get_token(ctx);
    TUL_Object* value = TULP_parse_member(ctx->dtd, &d->members[i], ctx);
    if (!value) return nullptr;
    TUL_Object* previous = TUL_assign_US(obj, name, value);
    if (previous && previous->error) {
      TUL_free(value);
      keep_first_error(ctx->error, previous);
      return nullptr;
    }
    TUL_free(previous);
    Separator next = parse_separator(ctx);
    if (next != Separator::kMore) return next == Separator::kEnd ? obj : nullptr;
  }
}

void _print(TUL_Object* obj, TULP_PrintContext* ctx) {
  TUL_Asn1TypeEntry* d = description(obj);
  TUL_Object* tmp = tul_dtd(obj)->tmp_object;
  ctx->prints("{\n", ctx->ptr);
  ++ctx->level;
  bool first = true;
  for (int i = 0, n = member_count(obj->type_ref); i < n; ++i) {
    TUL_Asn1Type* m = &d->members[i];
    TUL_Object* value = slots(obj)[i];
    if (value == tmp && m->opt_def != TUL_MANDATORY) continue;
    if (!first) ctx->prints(",\n", ctx->ptr);
    first = false;
    TUL_print_indentation(ctx);
    ctx->prints(m->name ? m->name : "", ctx->ptr);
    ctx->printc(' ', ctx->ptr);
    // The placeholder is no value of the member's type: named numbers or a
    // type name must not be applied to it.
    if (value == tmp)
      tul_behavior(tmp)->print(tmp, ctx);
    else
      TULP_print_member(value, m, ctx);
  }
  ctx->printc('\n', ctx->ptr);
  --ctx->level;
  TUL_print_indentation(ctx);
  ctx->printc('}', ctx->ptr);
}

TUL_Object* _copy(TUL_Object* proto) {
  TUL_Object* copy = _alloc(proto->type_ref);
  if (copy->error) return copy;
  return copy_each(
      proto, copy, member_count(proto->type_ref), [proto](int i) {
        TUL_Object* value = slots(proto)[i];
        return value == tul_dtd(proto)->tmp_object ? nullptr : value;
      },
      [](TUL_Object* into, int i, TUL_Object* member) {
        slots(into)[i] = member;
        hold(member);
        return true;
      },
      _free);
}

long _size(TUL_Object* obj) { return member_count(obj->type_ref); }

int _equal(TUL_Object* obj1, TUL_Object* obj2) {
  int n = member_count(obj1->type_ref);
  if (!(TUL_object_basic_type(obj2) & (TUL_SEQUENCE_TYPE | TUL_SET_TYPE)) ||
      description(obj2) != description(obj1))
    return 0;
  for (int i = 0; i < n; ++i) {
    if (!values_equal(slots(obj1)[i], slots(obj2)[i])) return 0;
  }
  return 1;
}

unsigned int _hash(TUL_Object* obj) {
  uint32_t h = 4711;
  for (int i = 0, n = member_count(obj->type_ref); i < n; ++i) h = h * 32 + TUL_hash(slots(obj)[i]);
  return h;
}

constexpr TUL_Behavior kSequence = {
    .basic_type = TUL_SEQUENCE_TYPE,
    .alloc = _alloc,
    .init = _init,
    .free = _free,
    .decode = decode_level<_decode_seq>,
    .encode = encode_level<_encode>,
    .parse = parse_level<_parse>,
    .print = print_level<_print>,
    .copy = _copy,
    .size = _size,
    .equal = _equal,
    .evaluate = prim::evaluate_self,
    .hash = _hash,
    .action = {},
    .mapping = nullptr,
};

}  // namespace
}  // namespace tul::structure

TUL_API constinit TUL_Behavior TUL_sequence_behavior = tul::structure::kSequence;

// SET: the SEQUENCE table decoding by tag; its encoder writes tag 17 because
// it reads the basic type.
TUL_API constinit TUL_Behavior TUL_set_behavior =
    tul::prim::derive(tul::structure::kSequence, [](TUL_Behavior& t) {
      t.basic_type = TUL_SET_TYPE;
      t.decode = tul::constructed::decode_level<tul::structure::_decode_set>;
    });
