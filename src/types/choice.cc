// CHOICE values: the chosen alternative's name and its value, held by count.
// A CHOICE has no element of its own: it encodes as its alternative under the
// alternative's tag and then the type's tags, and decodes by picking the
// first alternative whose tags match the element.
#include "codec.h"
#include "constructed.h"
#include "failure.h"
#include "parse.h"
#include "prim.h"
#include "type_cache.h"

namespace tul::choice {
namespace {

using namespace tul::constructed;

TUL_Choice* as_choice(TUL_Object* obj) { return reinterpret_cast<TUL_Choice*>(obj); }

TUL_Object* _alloc(TUL_Entry* e) {
  TUL_Object* obj = prim::new_record<TUL_Choice>(e);
  if (obj->error) return obj;
  as_choice(obj)->member = names().not_chosen;
  as_choice(obj)->choice = e->dtd->tmp_object;
  return obj;
}

// Makes `value` the chosen value of alternative `name`, releasing the
// previous one.
void choose(TUL_Object* obj, char* name, TUL_Object* value) {
  TUL_Choice* c = as_choice(obj);
  TUL_Object* previous = c->choice;
  c->member = name;
  c->choice = value;
  hold(value);
  release(previous);
}

// Chooses alternative `name` (interned) with `value`, which the CHOICE takes
// over: a value that is rejected is released. Returns `obj`, or an error
// object (6: no such alternative, 15: a value of another type) or the error
// object given as `value`. A null value leaves the choice as it was rather
// than failing, so that TUL_new with a null value cannot lose the new value.
TUL_Object* select(TUL_Object* obj, char* name, TUL_Object* value) {
  TUL_Asn1TypeEntry* d = description(obj);
  TUL_Metadata* dtd = tul_dtd(obj);
  int i = find_member(d, name);
  if (i < 0) {
    TUL_free(value);
    return TUL_error(dtd, TUL_ERR_NO_FIELD, name ? name : "", TUL_object_type(obj));
  }
  if (!value) return obj;
  if (value->error) return value;
  char* declared = d->members[i].type;
  if (!TULM_is_any(declared) && TUL_object_type(value) != declared) {
    TUL_free(value);
    return TUL_error(dtd, TUL_ERR_MEMBER_TYPE, declared);
  }
  choose(obj, d->members[i].name, value);
  return obj;
}

// Arguments: the alternative's name (any string) and its value.
TUL_Object* _init(TUL_Object* obj, va_list* args) {
  const char* name = va_arg(*args, const char*);
  TUL_Object* value = va_arg(*args, TUL_Object*);
  return select(obj, TUL_unique_string(name), value);
}

void _free(TUL_Object* obj) {
  release(as_choice(obj)->choice);
  mem::free(obj);
}

int _decode(TUL_Object* obj, TULE_DecodeContext* ctx) {
  PElement* pe = TUL_own_element(obj, ctx);
  if (!pe) return 0;
  TUL_Asn1TypeEntry* d = description(obj);
  TUL_Metadata* dtd = tul_dtd(obj);
  int n = member_count(obj->type_ref), i = first_matching_member(dtd, d, n, pe);
  if (i == n) return decode_error(ctx, obj, "unable to associate tag value with choice alternative");
  TUL_Asn1Type* m = &d->members[i];
  if (m->tag_flag & TUL_TAG_EXPLICIT) {
    pe = first_child(pe);
    if (!pe) return decode_error(ctx, obj, "constructed BER structure for EXPLICIT tag expected");
  }
  TUL_Object* value = decode_declared(dtd, m->type, member_type(d, i), pe, ctx, NoValue::kMemoryError);
  if (!value) return failure::member(m->name);
  choose(obj, m->name, value);
  return 1;
}

// The chosen value encodes into the caller's own context; the alternative's
// tag and then the type's tags wrap it.
int _encode(TUL_Object* obj, TULE_EncodeContext* ctx) {
  TUL_Choice* c = as_choice(obj);
  TUL_Metadata* dtd = tul_dtd(obj);
  if (c->choice == dtd->tmp_object) {
    keep_first_error(ctx->error, TUL_error(dtd, TUL_ERR_MANDATORY, c->member, TUL_object_type(obj)));
    return 0;
  }
  TUL_Behavior* b = tul_behavior(c->choice);
  if (!b->encode || !b->encode(c->choice, ctx)) return 0;
  TUL_Asn1TypeEntry* d = description(obj);
  int i = find_member(d, c->member);
  if (i >= 0 && d->members[i].tag_flag && !TUL_membertag_encode(&d->members[i], ctx)) return 0;
  return TUL_tag_encode(dtd, tul_type_entry(obj), ctx);
}

// name ":" value.
TUL_Object* _parse(TUL_Object* obj, TULP_ParseContext* ctx) {
  char* name = TULP_parse_local_name(ctx);
  if (!name) return nullptr;
  TUL_Asn1TypeEntry* d = description(obj);
  int i = find_member(d, name);
  if (i < 0) {
    parse::record_error(ctx, "invalid alternative name in CHOICE");
    return nullptr;
  }
  TULP_get_token(ctx);
  if (ctx->id != TULP_COLON || ctx->error) {
    parse::record_error(ctx, "':' expected between CHOICE alternative name and value");
    return nullptr;
  }
  TULP_get_token(ctx);
  TUL_Object* value = TULP_parse_member(ctx->dtd, &d->members[i], ctx);
  if (!value) return nullptr;
  TUL_Object* result = select(obj, name, value);
  if (result != obj) {
    keep_first_error(ctx->error, result);
    return nullptr;
  }
  return obj;
}

void _print(TUL_Object* obj, TULP_PrintContext* ctx) {
  TUL_Choice* c = as_choice(obj);
  ctx->prints(c->member, ctx->ptr);
  ctx->prints(" : ", ctx->ptr);
  TUL_Asn1TypeEntry* d = description(obj);
  int i = find_member(d, c->member);
  if (i >= 0)
    TULP_print_member(c->choice, &d->members[i], ctx);
  else
    tul_behavior(c->choice)->print(c->choice, ctx);
}

TUL_Object* _copy(TUL_Object* proto) {
  TUL_Object* copy = _alloc(proto->type_ref);
  if (copy->error) return copy;
  TUL_Choice* c = as_choice(proto);
  if (c->choice == tul_dtd(proto)->tmp_object) return copy;
  TUL_Object* value = TUL_copy(c->choice);
  if (!value || value->error) {
    TUL_free(value);
    _free(copy);
    return TUL_error(tul_dtd(proto), TUL_ERR_MEMORY);
  }
  choose(copy, c->member, value);
  return copy;
}

long _size(TUL_Object*) { return 1; }

int _equal(TUL_Object* obj1, TUL_Object* obj2) {
  if (!(TUL_object_basic_type(obj2) & TUL_CHOICE_TYPE)) return 0;
  TUL_Choice* c1 = as_choice(obj1);
  TUL_Choice* c2 = as_choice(obj2);
  return c1->member == c2->member && values_equal(c1->choice, c2->choice);
}

void* _evaluate(TUL_Object* obj, void* data) { return TUL_evaluate(as_choice(obj)->choice, data); }

unsigned int _hash(TUL_Object* obj) { return TUL_hash(as_choice(obj)->choice); }

// The CHOICE value behind an accessor, or null (trace 7 for another type).
TUL_Choice* accessed(TUL_Object* obj, const char* function_word) {
  return has_basic_type(obj, TUL_CHOICE_TYPE, function_word) ? as_choice(obj) : nullptr;
}

}  // namespace
}  // namespace tul::choice

using namespace tul::choice;

TUL_API constinit TUL_Behavior TUL_choice_behavior = {
    .basic_type = TUL_CHOICE_TYPE,
    .alloc = _alloc,
    .init = _init,
    .free = _free,
    .decode = decode_level<_decode>,
    .encode = encode_level<_encode>,
    .parse = parse_level<_parse>,
    .print = print_level<_print>,
    .copy = _copy,
    .size = _size,
    .equal = _equal,
    .evaluate = _evaluate,
    .hash = _hash,
    .action = {},
    .mapping = nullptr,
};

TUL_API TUL_Object* TUL_read_choice(TUL_Object* obj) {
  TUL_Choice* c = accessed(obj, "read_choice");
  return c ? c->choice : nullptr;
}

TUL_API char* TUL_member_name(TUL_Object* obj) {
  TUL_Choice* c = accessed(obj, "member_name");
  return c ? c->member : nullptr;
}
