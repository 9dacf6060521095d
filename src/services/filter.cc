// Evaluation of CMIS filters against attribute lists, and the check that a
// filter can be evaluated. The functions are behaviours and actions an
// application registers for its own filter types, so they rely only on the
// alternative names and the member positions of those types; every
// alternative is dispatched through one table per function.
#include <cstdint>
#include <cstring>
#include <iterator>

#include "dtd.h"
#include "service_names.h"

namespace tul::filter {
namespace {

using services::has_bits;
using services::unwrap;

enum Name {
  kItem,
  kAnd,
  kOr,
  kNot,
  kEquality,
  kSubstrings,
  kGreaterOrEqual,
  kLessOrEqual,
  kPresent,
  kSubsetOf,
  kSupersetOf,
  kNonNullSetIntersection,
  kInitialString,
  kAnyString,
  kFinalString,
  kString,
  kEventWindow,
  kEventsPerWindow,
  kObjectClass,
  kEnterprise,
  kObjectInstance,
  kFrequency,
  kCheck,
  kNameCount
};

constexpr const char* kNameTexts[] = {
    "item",         "and",          "or",          "not",           "equality",    "substrings",
    "greaterOrEqual", "lessOrEqual", "present",    "subsetOf",      "supersetOf",  "nonNullSetIntersection",
    "initialString", "anyString",   "finalString", "string",        "EventWindow", "EventsPerWindow",
    "ObjectClass",  "Enterprise",   "ObjectInstance", "frequency",  "check"};
static_assert(std::size(kNameTexts) == kNameCount);

services::InternedNames<kNameCount> interned(kNameTexts);

// Filters nest through the evaluate behaviour and the check action; deeper
// filters than this are false rather than a stack overflow.
constexpr int kMaxFilterNesting = 512;
int filter_nesting = 0;

// A level of filter nesting; tracing when the bound is reached.
class NestingGuard : public NestingLevel {
 public:
  NestingGuard() : NestingLevel(filter_nesting, kMaxFilterNesting) {
    if (!*this) TUL_trace_error(TUL_ERR_LIMIT, "nesting of filters");
  }
};

using Truth = intptr_t;

void* as_result(Truth truth) { return reinterpret_cast<void*>(truth); }
Truth as_truth(void* result) { return reinterpret_cast<Truth>(result); }

constexpr int kListBits = TUL_SEQUENCEOF_TYPE | TUL_SETOF_TYPE;
constexpr int kStructureBits = TUL_SEQUENCE_TYPE | TUL_SET_TYPE;

// Equality of two values of one layout; values of different layouts never
// are, and an equal behaviour must not read a foreign layout.
bool same_and_equal(TUL_Object* a, TUL_Object* b) {
  return a && b && TUL_object_basic_type(a) == TUL_object_basic_type(b) && TUL_equal(a, b);
}

// Member `i` of a SEQUENCE or SET by position; null when absent.
TUL_Object* member_at(TUL_Object* seq, int i) {
  if (!has_bits(seq, kStructureBits) || TUL_size(seq) <= i) return nullptr;
  TUL_Object* value = reinterpret_cast<TUL_Structure*>(seq)->member[i];
  return value == tul_dtd(seq)->tmp_object ? nullptr : value;
}

// Member `name` of a SEQUENCE or SET; null when absent or no such member,
// without a report.
TUL_Object* member_named(TUL_Object* seq, char* name) {
  if (!has_bits(seq, kStructureBits)) return nullptr;
  int i = find_member(_TUL_object_info(seq, 1), name);
  return i < 0 ? nullptr : member_at(seq, i);
}

bool is_type(TUL_Object* obj, char* name) { return obj && TUL_object_type(obj) == name; }

// The values an item compares.
struct Operands {
  TUL_Object* item;
  TUL_Object* attr_list;
  TUL_Object* id;      // attribute identifier of the assertion
  TUL_Object* filter;  // asserted value, before unwrapping
};

int match_identifier(TUL_Object* element, void* id) {
  TUL_Object* key = static_cast<TUL_Object*>(id);
  TUL_Object* first = member_at(element, 0);
  if (!first || TUL_object_basic_type(first) != TUL_object_basic_type(key)) return 0;
  return tul_behavior(key)->equal ? tul_behavior(key)->equal(key, first) : 0;
}

// The value of the attribute `id` of the list; null when the list has none.
TUL_Object* attribute_value(TUL_Object* attr_list, TUL_Object* id) {
  if (!id || !attr_list) return nullptr;
  return member_at(TUL_search(attr_list, match_identifier, id), 1);
}

Truth frequency(const Operands& o, char* const* n) {
  return as_truth(TUL_action_US(n[kFrequency], o.item, o.attr_list->specific));
}

// Order of numbers and strings; `less` asks filter <= attribute, else >=.
Truth compare_order(TUL_Object* filter, TUL_Object* attribute, bool less) {
  int type = TUL_object_basic_type(filter);
  if (type != TUL_object_basic_type(attribute)) return 0;
  long difference;
  if (type & (TUL_BOOLEAN_TYPE | TUL_INTEGER_TYPE)) {
    auto number = [type](TUL_Object* v) -> long {
      return type & TUL_BOOLEAN_TYPE ? TUL_read_bool(v) : TUL_read_int(v);
    };
    difference = number(filter) - number(attribute);
  } else if (type & TUL_OCTETSTRING_TYPE) {
    auto* f = reinterpret_cast<TUL_Octet*>(filter);
    auto* a = reinterpret_cast<TUL_Octet*>(attribute);
    difference = std::strncmp(f->octet ? f->octet : "", a->octet ? a->octet : "", f->len > 0 ? f->len : 0);
  } else {
    return 0;
  }
  return less ? difference <= 0 : difference >= 0;
}

// Whether the first arcs or elements of the attribute's value are those of
// the filter's: ancestry rather than magnitude.
Truth compare_prefix(TUL_Object* filter, TUL_Object* attribute, int bits) {
  filter = unwrap(filter);
  attribute = unwrap(attribute);
  if (!has_bits(filter, bits) || !has_bits(attribute, bits)) return 0;
  long length = TUL_size(filter);
  if (TUL_size(attribute) < length) return 0;
  if (bits == TUL_OID_TYPE) {
    int32_t* f = TUL_read_oid(filter);
    int32_t* a = TUL_read_oid(attribute);
    return length == 0 || (f && a && std::memcmp(f, a, sizeof(int32_t) * length) == 0);
  }
  for (long i = 0; i < length; ++i)
    if (!same_and_equal(TUL_at(attribute, i), TUL_at(filter, i))) return 0;
  return 1;
}

Truth _compareClass(TUL_Object* filter, TUL_Object* attribute) { return compare_prefix(filter, attribute, TUL_OID_TYPE); }
Truth _compareEnterprise(TUL_Object* filter, TUL_Object* attribute) {
  return compare_prefix(filter, attribute, TUL_OID_TYPE);
}
Truth _compareInstance(TUL_Object* filter, TUL_Object* attribute) { return compare_prefix(filter, attribute, kListBits); }

int match_equal(TUL_Object* element, void* key) { return same_and_equal(static_cast<TUL_Object*>(key), element); }

// How many elements of `from` the list `in` holds, stopping at the first
// miss (`all`) or the first hit.
Truth elements_found(TUL_Object* from, TUL_Object* in, bool all) {
  from = unwrap(from);
  in = unwrap(in);
  if (!has_bits(from, kListBits) || !has_bits(in, kListBits)) return 0;
  for (long i = 0, n = TUL_size(from); i < n; ++i) {
    bool found = TUL_search(in, match_equal, TUL_at(from, i)) != nullptr;
    if (found != all) return found;
  }
  return all;
}

Truth item_equality(const Operands& o, char* const* n) {
  if (is_type(o.filter, n[kEventWindow])) return 1;
  if (is_type(o.filter, n[kEventsPerWindow])) return frequency(o, n);
  TUL_Object* attribute = unwrap(attribute_value(o.attr_list, o.id));
  TUL_Object* filter = unwrap(o.filter);
  if (!attribute || !filter || TUL_object_basic_type(attribute) != TUL_object_basic_type(filter)) return 0;
  TUL_Behavior* b = tul_behavior(filter);
  return b->equal && b->equal(attribute, filter);
}

Truth item_present(const Operands& o, char* const*) {
  return o.id && TUL_search(o.attr_list, match_identifier, o.id) != nullptr;
}

Truth item_order(const Operands& o, char* const* n, bool less) {
  if (is_type(o.filter, n[kEventsPerWindow])) return frequency(o, n);
  TUL_Object* attribute = attribute_value(o.attr_list, o.id);
  if (!attribute || !o.filter) return 0;
  if (less) {
    if (is_type(o.filter, n[kObjectClass])) return _compareClass(o.filter, attribute);
    if (is_type(o.filter, n[kEnterprise])) return _compareEnterprise(o.filter, attribute);
    if (is_type(o.filter, n[kObjectInstance])) return _compareInstance(o.filter, attribute);
  }
  return compare_order(unwrap(o.filter), unwrap(attribute), less);
}

Truth item_greater(const Operands& o, char* const* n) { return item_order(o, n, false); }
Truth item_less(const Operands& o, char* const* n) { return item_order(o, n, true); }

Truth item_subset(const Operands& o, char* const*) {
  TUL_Object* attribute = attribute_value(o.attr_list, o.id);
  return attribute && elements_found(o.filter, attribute, true);
}
Truth item_superset(const Operands& o, char* const*) {
  TUL_Object* attribute = attribute_value(o.attr_list, o.id);
  return attribute && elements_found(attribute, o.filter, true);
}
Truth item_intersection(const Operands& o, char* const*) {
  TUL_Object* attribute = attribute_value(o.attr_list, o.id);
  return attribute && elements_found(o.filter, attribute, false);
}

// Bitwise AND of `each` over the elements of a list, ending at the first 0;
// 1 for an empty list, 0 for a value that is no list.
template <class Each>
Truth conjunction(TUL_Object* list, Each each) {
  if (!has_bits(list, kListBits)) return 0;
  Truth r = 1;
  for (long i = 0, n = TUL_size(list); i < n && r; ++i) r &= each(TUL_at(list, i));
  return r;
}

Truth item_substrings(const Operands& o, char* const*) {
  return conjunction(o.filter, [&](TUL_Object* s) { return as_truth(TUL_evaluate(s, o.attr_list)); });
}

// One row per item alternative: how it is evaluated and how it is checked.
// The "substrings" and "present" values are no assertion.
enum class Shape { kAssertion, kIdentifier, kList };
using ItemEvaluator = Truth (*)(const Operands&, char* const*);

struct ItemKind {
  Name alternative;
  Shape shape;
  ItemEvaluator evaluate;
};

constexpr ItemKind kItemKinds[] = {
    {kEquality, Shape::kAssertion, item_equality},
    {kSubstrings, Shape::kList, item_substrings},
    {kGreaterOrEqual, Shape::kAssertion, item_greater},
    {kLessOrEqual, Shape::kAssertion, item_less},
    {kPresent, Shape::kIdentifier, item_present},
    {kSubsetOf, Shape::kAssertion, item_subset},
    {kSupersetOf, Shape::kAssertion, item_superset},
    {kNonNullSetIntersection, Shape::kAssertion, item_intersection},
};

// The chosen alternative of the CHOICE `obj` as a row of `kinds`; null when
// it is none of them.
template <class Row, size_t N>
const Row* chosen_row(TUL_Object* obj, char* const* n, const Row (&kinds)[N]) {
  if (!has_bits(obj, TUL_CHOICE_TYPE)) return nullptr;
  char* chosen = TUL_member_name(obj);
  for (const Row& row : kinds)
    if (n[row.alternative] == chosen) return &row;
  return nullptr;
}

Operands operands(TUL_Object* item, TUL_Object* attr_list, Shape shape) {
  TUL_Object* value = TUL_read_choice(item);
  switch (shape) {
    case Shape::kAssertion:
      return {item, attr_list, member_at(value, 0), member_at(value, 1)};
    case Shape::kIdentifier:
      return {item, attr_list, value, nullptr};
    case Shape::kList:
      break;
  }
  return {item, attr_list, nullptr, value};
}

Truth evaluate_item(TUL_Object* item, TUL_Object* attr_list) {
  char* const* n = interned.get();
  const ItemKind* kind = n && attr_list ? chosen_row(item, n, kItemKinds) : nullptr;
  return kind ? kind->evaluate(operands(item, attr_list, kind->shape), n) : 0;
}

Truth evaluate_filter(TUL_Object* filter, TUL_Object* attr_list) {
  char* const* n = interned.get();
  if (!n || !attr_list || !has_bits(filter, TUL_CHOICE_TYPE)) return 0;
  NestingGuard nesting;
  if (!nesting) return 0;
  char* chosen = TUL_member_name(filter);
  TUL_Object* value = TUL_read_choice(filter);
  auto evaluate = [attr_list](TUL_Object* f) { return as_truth(TUL_evaluate(f, attr_list)); };
  if (chosen == n[kItem]) return evaluate(value);
  if (chosen == n[kNot]) return evaluate(value) == 0;
  if (chosen == n[kAnd]) {
    // The "frequency" action reads the innermost "and" set from here.
    attr_list->specific = value;
    return has_bits(value, kListBits) ? conjunction(value, evaluate) : 0;
  }
  if (chosen == n[kOr] && has_bits(value, kListBits)) {
    for (long i = 0, size = TUL_size(value); i < size; ++i)
      if (Truth r = evaluate(TUL_at(value, i))) return r;
  }
  return 0;
}

Truth evaluate_substring(TUL_Object* choice, TUL_Object* attr_list) {
  char* const* n = interned.get();
  if (!n || !attr_list || !has_bits(choice, TUL_CHOICE_TYPE)) return 0;
  TUL_Object* assertion = TUL_read_choice(choice);
  TUL_Object* attribute = unwrap(attribute_value(attr_list, member_at(assertion, 0)));
  TUL_Object* substring = unwrap(member_at(assertion, 1));
  if (!has_bits(attribute, TUL_OCTETSTRING_TYPE) || !has_bits(substring, TUL_OCTETSTRING_TYPE)) return 0;
  long len1 = TUL_size(attribute);
  long len2 = TUL_size(substring);
  if (len1 < len2) return 0;
  const char* string = TUL_read_str(attribute);
  const char* sub = TUL_read_str(substring);
  if (!string) string = "";
  if (!sub) sub = "";
  char* chosen = TUL_member_name(choice);
  if (chosen == n[kInitialString]) return std::strncmp(string, sub, len2) == 0;
  if (chosen == n[kAnyString]) return std::strstr(string, sub) != nullptr;
  if (chosen == n[kFinalString]) return std::strncmp(string + len1 - len2, sub, len2) == 0;
  return 0;
}

/* ------------------------------------------------------------------------
 * Checks
 * ---------------------------------------------------------------------- */

bool orderable(TUL_Object* filter, char* const* n, bool less) {
  if (less && (is_type(filter, n[kObjectClass]) || is_type(filter, n[kEnterprise]) ||
               is_type(filter, n[kObjectInstance])))
    return true;
  return has_bits(unwrap(filter), TUL_BOOLEAN_TYPE | TUL_INTEGER_TYPE | TUL_OCTETSTRING_TYPE);
}

Truth check_item(TUL_Object* item) {
  char* const* n = interned.get();
  const ItemKind* kind = n ? chosen_row(item, n, kItemKinds) : nullptr;
  if (!kind) return 0;
  Operands o = operands(item, nullptr, kind->shape);
  switch (kind->alternative) {
    case kEquality:
    case kPresent:
      return 1;
    case kSubstrings:
      return conjunction(o.filter, [n](TUL_Object* s) {
        return has_bits(unwrap(member_named(TUL_read_choice(s), n[kString])), TUL_OCTETSTRING_TYPE) ? 1 : 0;
      });
    case kGreaterOrEqual:
    case kLessOrEqual:
      return orderable(o.filter, n, kind->alternative == kLessOrEqual);
    default:
      return has_bits(unwrap(o.filter), TUL_SETOF_TYPE);
  }
}

Truth check_filter(TUL_Object* filter, void* data) {
  char* const* n = interned.get();
  if (!n || !has_bits(filter, TUL_CHOICE_TYPE)) return 0;
  NestingGuard nesting;
  if (!nesting) return 0;
  char* chosen = TUL_member_name(filter);
  TUL_Object* value = TUL_read_choice(filter);
  auto check = [n, data](TUL_Object* f) { return as_truth(TUL_action_US(n[kCheck], f, data)); };
  if (chosen == n[kItem] || chosen == n[kNot]) return check(value);
  if (chosen == n[kAnd] || chosen == n[kOr]) return conjunction(value, check);
  return 0;
}

}  // namespace
}  // namespace tul::filter

extern "C" {

TUL_API void* TUL_CMISFilter_evaluate(TUL_Object* obj, void* attrList) {
  using namespace tul::filter;
  return as_result(evaluate_filter(obj, static_cast<TUL_Object*>(attrList)));
}

TUL_API void* TUL_FilterItem_evaluate(TUL_Object* obj, void* attrList) {
  using namespace tul::filter;
  return as_result(evaluate_item(obj, static_cast<TUL_Object*>(attrList)));
}

TUL_API void* TUL_SubstringsChoice_evaluate(TUL_Object* obj, void* attrList) {
  using namespace tul::filter;
  return as_result(evaluate_substring(obj, static_cast<TUL_Object*>(attrList)));
}

TUL_API void* TUL_CMISFilter_check(TUL_Object* obj, void* data) {
  using namespace tul::filter;
  return as_result(check_filter(obj, data));
}

TUL_API void* TUL_FilterItem_check(TUL_Object* obj, void*) {
  using namespace tul::filter;
  return as_result(check_item(obj));
}

}  // extern "C"
