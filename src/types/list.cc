// SEQUENCE OF and SET OF values and the exported list operations. A list owns
// its elements by reference count: adding adopts the very object (no copy),
// removing hands it back with its count lowered, and lookups only lend.
// SET OF is SEQUENCE OF under another tag: order is kept, never sorted.
#include "codec.h"
#include "coll.h"
#include "constructed.h"
#include "failure.h"
#include "parse.h"
#include "prim.h"
#include "type_cache.h"

namespace tul::list {
namespace {

using namespace tul::constructed;

constexpr int kListMask = TUL_SEQUENCEOF_TYPE | TUL_SETOF_TYPE;

TULC_Collection* items(TUL_Object* obj) { return &reinterpret_cast<TUL_List*>(obj)->list; }
TUL_Object* item(TUL_Object* obj, int i) { return static_cast<TUL_Object*>(items(obj)->items[i]); }
int count(TUL_Object* obj) { return items(obj)->count; }

// The one member of the description: the element type and the description
// handed to the value-notation parser and printer. Null for a type whose
// description is missing or empty.
TUL_Asn1Type* element(TUL_Object* obj) {
  TUL_Asn1TypeEntry* d = description(obj);
  return d && d->size >= 1 ? &d->members[0] : nullptr;
}

TUL_Object* _alloc(TUL_Entry* e) {
  TUL_Object* obj = prim::new_record<TUL_List>(e);
  if (obj->error) return obj;
  if (!TULC_init(items(obj))) {
    mem::free(obj);
    return TUL_error(e->dtd, TUL_ERR_MEMORY);
  }
  return obj;
}

TUL_Object* _init(TUL_Object* obj, va_list* args) {
  int n = va_arg(*args, int);
  return init_each(obj, args, n, [obj](int, TUL_Object* value) -> TUL_Object* {
    TUL_Object* appended = TUL_append(obj, value);
    if (appended == obj) return nullptr;
    return appended ? appended : TUL_error(tul_dtd(obj), TUL_ERR_MEMORY);
  });
}

void _free(TUL_Object* obj) {
  for (int i = 0; i < count(obj); ++i) release(item(obj, i));
  TULC_destroy(items(obj));
  mem::free(obj);
}

// Adopts `value` at the end; false (nothing adopted) when the collection
// cannot grow.
bool adopt(TUL_Object* list, TUL_Object* value) {
  if (!TULC_append(items(list), value)) return false;
  hold(value);
  return true;
}

// Element tags are not compared with the element type; an ANY element takes
// the built-in type its tag names.
int _decode(TUL_Object* obj, TULE_DecodeContext* ctx) {
  TUL_Metadata* dtd = tul_dtd(obj);
  TUL_Asn1Type* t = element(obj);
  PElement* pe = TUL_own_element(obj, ctx);
  if (!t || !pe) return 0;
  if (!is_constructed(pe)) return decode_error(ctx, obj, "constructed tag (SET/SEQUENCE OF) expected");
  bool any = TULM_is_any(t->type);
  TUL_Asn1TypeEntry* entry = any ? nullptr : member_type(description(obj), 0);
  for (PElement* child = first_child(pe); child; child = child->pe_next) {
    char* type = any ? TUL_type_from_any(child) : t->type;
    if (!type) return 0;
    TUL_Object* value = decode_value(dtd, type, entry, child, ctx, NoValue::kFailSilently);
    if (!value) return failure::element_of(first_child(pe), child);
    if (!adopt(obj, value)) {
      TUL_free(value);
      keep_first_error(ctx->error, TUL_error(dtd, TUL_ERR_MEMORY));
      return 0;
    }
  }
  return 1;
}

int _encode(TUL_Object* obj, TULE_EncodeContext* ctx) {
  return encode_constructed(obj, ctx, [obj, ctx](PElement* pe) {
    PElement* last = nullptr;
    for (int i = 0; i < count(obj); ++i)
      if (!encode_into(pe, &last, item(obj, i), nullptr, ctx)) return false;
    return true;
  });
}

TUL_Object* _parse(TUL_Object* obj, TULP_ParseContext* ctx) {
  if (!parse_open_brace(ctx)) return nullptr;
  if (ctx->id == TULP_CLOSE_BRACE) return obj;
  TUL_Asn1Type* t = element(obj);
  if (!t) {
    parse::record_error(ctx, "'}' expected");
    return nullptr;
  }
  for (;;) {
    TUL_Object* value = TULP_parse_member(ctx->dtd, t, ctx);
    if (!value) return nullptr;
    if (TUL_Object* appended = TUL_append(obj, value); appended != obj) {
      TUL_free(value);
      keep_first_error(ctx->error, appended ? appended : TUL_error(ctx->dtd, TUL_ERR_MEMORY));
      return nullptr;
    }
    Separator next = parse_separator(ctx);
    if (next != Separator::kMore) return next == Separator::kEnd ? obj : nullptr;
  }
}

void _print(TUL_Object* obj, TULP_PrintContext* ctx) {
  ctx->printc('{', ctx->ptr);
  int n = count(obj);
  TUL_Asn1Type* t = element(obj);
  if (n == 0 || !t) {
    ctx->printc('}', ctx->ptr);
    return;
  }
  ++ctx->level;
  ctx->printc('\n', ctx->ptr);
  for (int i = 0; i < n; ++i) {
    TUL_print_indentation(ctx);
    TULP_print_member(item(obj, i), t, ctx);
    ctx->prints(i + 1 < n ? ",\n" : "\n", ctx->ptr);
  }
  --ctx->level;
  TUL_print_indentation(ctx);
  ctx->printc('}', ctx->ptr);
}

TUL_Object* _copy(TUL_Object* proto) {
  TUL_Object* copy = _alloc(proto->type_ref);
  if (copy->error) return copy;
  return copy_each(
      proto, copy, count(proto), [proto](int i) { return item(proto, i); },
      [](TUL_Object* into, int, TUL_Object* value) { return adopt(into, value); }, _free);
}

long _size(TUL_Object* obj) { return count(obj); }

// Position by position, for SET OF too.
int _equal(TUL_Object* obj1, TUL_Object* obj2) {
  if (!(TUL_object_basic_type(obj2) & kListMask) || count(obj1) != count(obj2)) return 0;
  for (int i = 0; i < count(obj1); ++i) {
    if (!values_equal(item(obj1, i), item(obj2, i))) return 0;
  }
  return 1;
}

void* _evaluate(TUL_Object* obj, void* data) {
  for (int i = 0; i < count(obj); ++i) TUL_evaluate(item(obj, i), data);
  return obj;
}

unsigned int _hash(TUL_Object* obj) {
  uint32_t h = 4711;
  for (int i = 0; i < count(obj); ++i) h = (h << 7) + TUL_hash(item(obj, i));
  return h;
}

constexpr TUL_Behavior kSequenceOf = {
    .basic_type = TUL_SEQUENCEOF_TYPE,
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

/* ------------------------------------------------------------------------
 * Argument checks of the exported operations
 * ---------------------------------------------------------------------- */

// Whether `list` is a SEQUENCE OF or SET OF value; trace 7 naming the
// operation when it is not.
bool is_list(TUL_Object* list, const char* operation) { return has_basic_type(list, kListMask, operation); }

// The element type `obj` should have had, or null when `obj` passes: its type
// name must be the element type's own (a derived type does not pass), unless
// the element type is ANY.
char* rejected_type(TUL_Object* list, TUL_Object* obj) {
  TUL_Asn1Type* t = element(list);
  if (!t || TULM_is_any(t->type) || TUL_object_type(obj) == t->type) return nullptr;
  return t->type;
}

// 0 <= i < upper.
bool in_range(long i, long upper) { return i >= 0 && i < upper; }

// Calls the application's action with the element as a value.
struct ForEach {
  TUL_ActionFunction action;
  void* data;
};

void for_each_item(void* item, void* data) {
  auto* f = static_cast<ForEach*>(data);
  f->action(static_cast<TUL_Object*>(item), f->data);
}

struct Search {
  TUL_MatchFunction match;
  void* key;
};

int search_item(void* item, void* data) {
  auto* s = static_cast<Search*>(data);
  return s->match(static_cast<TUL_Object*>(item), s->key);
}

}  // namespace
}  // namespace tul::list

using namespace tul::list;

TUL_API constinit TUL_Behavior TUL_sequenceof_behavior = kSequenceOf;

// SET OF: the SEQUENCE OF table; its encoder writes tag 17 because it reads
// the basic type.
TUL_API constinit TUL_Behavior TUL_setof_behavior =
    tul::prim::derive(kSequenceOf, [](TUL_Behavior& t) { t.basic_type = TUL_SETOF_TYPE; });

TUL_API TUL_Object* TUL_append(TUL_Object* list, TUL_Object* obj) {
  if (!list || !obj || !is_list(list, "append")) return nullptr;
  if (char* expected = rejected_type(list, obj)) return TUL_error(tul_dtd(list), TUL_ERR_MEMBER_TYPE, expected);
  if (!adopt(list, obj)) return TUL_error(tul_dtd(list), TUL_ERR_MEMORY);
  return list;
}

TUL_API TUL_Object* TUL_insert_at(TUL_Object* list, long i, TUL_Object* obj) {
  if (!list || !obj || !is_list(list, "insert_at")) return nullptr;
  if (char* expected = rejected_type(list, obj)) {
    TUL_trace_error(TUL_ERR_MEMBER_TYPE, expected);
    return list;
  }
  if (!in_range(i, count(list) + 1L) || !TULC_at_insert(items(list), static_cast<int>(i), obj))
    return TUL_error(tul_dtd(list), TUL_ERR_MEMORY);
  hold(obj);
  return list;
}

TUL_API TUL_Object* TUL_replace_at(TUL_Object* list, long i, TUL_Object* obj) {
  if (!list || !obj || !is_list(list, "replace_at")) return nullptr;
  if (char* expected = rejected_type(list, obj)) {
    TUL_trace_error(TUL_ERR_MEMBER_TYPE, expected);
    return nullptr;
  }
  if (!in_range(i, count(list))) {
    TUL_trace_error(TUL_ERR_INDEX);
    return nullptr;
  }
  TUL_Object* previous = item(list, static_cast<int>(i));
  TULC_at_replace(items(list), static_cast<int>(i), obj);
  hold(obj);
  --previous->ref_cnt;
  return previous;
}

TUL_API TUL_Object* TUL_remove_at(TUL_Object* list, long i) {
  if (!list || !is_list(list, "remove_at")) return nullptr;
  if (!in_range(i, count(list))) {
    TUL_trace_error(TUL_ERR_INDEX);
    return nullptr;
  }
  TUL_Object* removed = item(list, static_cast<int>(i));
  TULC_at_delete(items(list), static_cast<int>(i));
  --removed->ref_cnt;
  return removed;
}

TUL_API void TUL_remove(TUL_Object* list, TUL_Object* obj) {
  if (!list || !obj || !is_list(list, "remove")) return;
  int i = TULC_index_of(items(list), obj);
  if (i < 0) return;
  TULC_at_delete(items(list), i);
  --obj->ref_cnt;
}

TUL_API TUL_Object* TUL_at(TUL_Object* list, long i) {
  if (!list || !is_list(list, "at")) return nullptr;
  if (!in_range(i, count(list))) return TUL_error(tul_dtd(list), TUL_ERR_INDEX);
  return item(list, static_cast<int>(i));
}

TUL_API long TUL_index_of(TUL_Object* list, TUL_Object* obj) {
  if (!list || !obj || !is_list(list, "index_of")) return 0;
  return TULC_index_of(items(list), obj);
}

TUL_API int TUL_is_element(TUL_Object* list, TUL_Object* obj) {
  if (!list || !obj || !is_list(list, "is_element")) return 0;
  return TULC_index_of(items(list), obj) >= 0;
}

TUL_API void TUL_for_each(TUL_Object* list, TUL_ActionFunction action, void* data) {
  if (!list || !action || !is_list(list, "for_each")) return;
  ForEach f{action, data};
  TULC_foreach(items(list), for_each_item, &f);
}

TUL_API TUL_Object* TUL_search(TUL_Object* list, TUL_MatchFunction match, void* key) {
  if (!list || !match || !is_list(list, "search")) return nullptr;
  Search s{match, key};
  return static_cast<TUL_Object*>(TULC_search(items(list), search_item, &s));
}

TUL_API void TUL_sort(TUL_Object* list, TUL_CompareFunction compare) {
  if (!list || !compare || !is_list(list, "sort")) return;
  TULC_sort(items(list), compare);
}

TUL_API TUL_Object* TUL_filter(TUL_Object* list, TUL_MatchFunction match, void* data) {
  if (!list || !match || !is_list(list, "filter")) return nullptr;
  TUL_Object* result = TUL_alloc_US(TUL_object_type(list), tul_dtd(list));
  if (!result || result->error) return nullptr;
  for (int i = 0; i < count(list); ++i) {
    TUL_Object* element = item(list, i);
    if (!match(element, data)) continue;
    TUL_Object* copy = TUL_copy(element);
    if (!copy || copy->error || !adopt(result, copy)) {
      TUL_free(copy);
      TUL_free(result);
      TUL_trace_error(TUL_ERR_MEMORY);
      return nullptr;
    }
  }
  return result;
}
