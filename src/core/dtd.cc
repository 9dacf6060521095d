// Objects and dispatch: every generic operation finds the value's type entry,
// the entry's behaviour table, and calls one slot. Types without a table take
// their base type's table on first use, so user types cost nothing until used.
#include "dtd.h"

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "hash.h"
#include "mem.h"
#include "tulversion.h"

long tul::mem::fail_countdown = 0;

namespace tul {
namespace {

/* ------------------------------------------------------------------------
 * Interned names
 * ---------------------------------------------------------------------- */

struct NameRow {
  char* Names::*field;
  const char* text;
};

constexpr NameRow kNameRows[] = {
    {&Names::alloc, "alloc"},
    {&Names::init, "init"},
    {&Names::free, "free"},
    {&Names::decode, "decode"},
    {&Names::encode, "encode"},
    {&Names::parse, "parse"},
    {&Names::print, "print"},
    {&Names::copy, "copy"},
    {&Names::size, "size"},
    {&Names::equal, "equal"},
    {&Names::evaluate, "evaluate"},
    {&Names::hash, "hash"},
    {&Names::sequence, "SEQUENCE"},
    {&Names::set, "SET"},
    {&Names::sequence_of, "SEQUENCE OF"},
    {&Names::set_of, "SET OF"},
    {&Names::choice, "CHOICE"},
    {&Names::any, "ANY"},
    {&Names::any_defined_by, "ANY DEFINED BY"},
    {&Names::ber_string, "BER-String"},
    {&Names::octet_string, "OCTET STRING"},
    {&Names::bit_string, "BIT STRING"},
    {&Names::object_identifier, "OBJECT IDENTIFIER"},
    {&Names::error_type, "TUL.ErrorType"},
    {&Names::not_chosen, "???"},
    {&Names::asn1, "TUL.Asn1"},
    {&Names::metadata, "TUL.Metadata"},
    {&Names::notification, "TUL.Notification"},
    {&Names::attribute, "TUL.Attribute"},
    {&Names::parameter, "TUL.Parameter"},
    {&Names::action, "TUL.Action"},
    {&Names::moc, "TUL.MOC"},
    {&Names::package, "TUL.Package"},
    {&Names::name_binding, "TUL.NameBinding"},
    {&Names::attribute_group, "TUL.AttributeGroup"},
    {&Names::behavior, "TUL.Behavior"},
};
constexpr const char* kUniversalTypes[28] = {
    nullptr,           "BOOLEAN",         "INTEGER",       "BIT STRING",    "OCTET STRING",
    "NULL",            "OBJECT IDENTIFIER", "ObjectDescriptor", "EXTERNAL", "REAL",
    "ENUMERATED",      nullptr,           nullptr,         nullptr,         nullptr,
    nullptr,           nullptr,           nullptr,         "NumericString", "PrintableString",
    "T61String",       "VideotexString",  "IA5String",     "UTCTime",       "GeneralizedTime",
    "GraphicString",   "VisibleString",   "GeneralString"};
constexpr const char* kApplicationTypes[5] = {"IpAddress", "Counter", "Gauge", "TimeTicks", "Opaque"};
static_assert(std::size(kNameRows) + std::size(kUniversalTypes) + std::size(kApplicationTypes) ==
                  sizeof(Names) / sizeof(char*),
              "every interned name has a row");

// Interns the non-null texts into `fields`; false when any fails.
template <size_t N>
bool intern_all(char* (&fields)[N], const char* const (&texts)[N]) {
  bool ok = true;
  for (size_t k = 0; k < N; ++k) {
    fields[k] = texts[k] ? TUL_unique_string(texts[k]) : nullptr;
    if (texts[k] && !fields[k]) ok = false;
  }
  return ok;
}

}  // namespace

Names interned_names;
unsigned interned_generation = 0;

const Names& intern_names() {
  bool ok = true;
  for (const NameRow& row : kNameRows) {
    interned_names.*row.field = TUL_unique_string(row.text);
    if (!(interned_names.*row.field)) ok = false;
  }
  ok = intern_all(interned_names.universal_types, kUniversalTypes) && ok;
  ok = intern_all(interned_names.application_types, kApplicationTypes) && ok;
  // Stamped only when complete, so a shortage is retried on the next call.
  if (ok) interned_generation = hash::strings_generation();
  return interned_names;
}

/* ------------------------------------------------------------------------
 * Lookups
 * ---------------------------------------------------------------------- */

TUL_Object* alloc_of(TUL_Metadata* dtd, TUL_Asn1TypeEntry* entry, char* type) {
  if (!entry) return TUL_error(dtd, TUL_ERR_NO_TYPE, type);
  if (!entry->behavior) TULM_inherit(entry);
  if (!entry->behavior || !entry->behavior->alloc) return nullptr;
  TUL_Object* obj = entry->behavior->alloc(reinterpret_cast<TUL_Entry*>(entry));
  if (obj && obj != dtd->alloc_error) obj->ref_cnt = 0;
  return obj;
}

TUL_Asn1TypeEntry* find_type(TUL_Metadata* dtd, const char* name) {
  if (!dtd || !name) return nullptr;
  TUL_Entry key{};
  key.name = const_cast<char*>(name);
  return static_cast<TUL_Asn1TypeEntry*>(TULH_assoc_entry(dtd->asn1_types, &key));
}

int find_member(const TUL_Asn1TypeEntry* d, const char* name) {
  if (!d) return -1;
  for (int i = 0; i < d->size; ++i)
    if (d->members[i].name == name) return i;
  return -1;
}

bool has_basic_type(TUL_Object* obj, int bits, const char* function_word) {
  if (!obj) return false;
  if (TUL_object_basic_type(obj) & bits) return true;
  TUL_trace_error(TUL_ERR_INCOMPATIBLE, TUL_object_type(obj), function_word);
  return false;
}

namespace {

// Room for the longest topic: the name is cut at 100 characters and the
// limit takes at most 11.
constexpr size_t kChainTopicSize = 192;
using ChainTopic = char[kChainTopicSize];

// The topic of a derivation chain that no walk follows to its end.
void chain_topic(const TUL_Asn1TypeEntry* e, ChainTopic& topic) {
  std::snprintf(topic, sizeof topic, "derivation chain of type %.100s (cyclic, or longer than %d types)",
                e->name ? e->name : "", kMaxTypeChain);
}

}  // namespace

void trace_chain_too_long(const TUL_Asn1TypeEntry* e) {
  ChainTopic topic;
  chain_topic(e, topic);
  TUL_trace_error(TUL_ERR_LIMIT, topic);
}

TUL_Object* chain_too_long(const TUL_Asn1TypeEntry* e) {
  ChainTopic topic;
  chain_topic(e, topic);
  return TUL_error(e->dtd, TUL_ERR_LIMIT, topic);
}

namespace {

bool is_constructor(const char* name) {
  const Names& n = names();
  return name && (name == n.sequence || name == n.set || name == n.sequence_of || name == n.set_of ||
                  name == n.choice);
}


/* ------------------------------------------------------------------------
 * Error messages
 * ---------------------------------------------------------------------- */

struct MessageRow {
  int id;
  const char* format;
};

// In the order the table is searched.
constexpr MessageRow kMessages[] = {
    {TUL_ERR_MEMORY, "memory allocation error"},
    {TUL_ERR_NO_TYPE, "no ASN.1 definition with name '%s' found"},
    {TUL_ERR_LIMIT, "an internal memory limitation is reached, topic: '%s'"},
    {TUL_ERR_NO_FIELD, "no field '%s' in an object from type '%s'"},
    {TUL_ERR_INDEX, "the specified index is out of range"},
    {TUL_ERR_NO_BEHAVIOR, "no behavior function '%s' in an object from type '%s'"},
    {TUL_ERR_SIGNATURE, "persistence file signature error: '%s'"},
    {TUL_ERR_PARSE, "parse error: %s, line: %d, last token: %s"},
    {TUL_ERR_OPEN, "opening of file '%s' failed"},
    {TUL_ERR_DEFINITION, "invalid definition (ASN.1 or GDMO) provided"},
    {TUL_ERR_OID_FORMAT, "OID string format error, %s"},
    {TUL_ERR_BIT_FORMAT, "BIT STRING format error, %s"},
    {TUL_ERR_INCOMPATIBLE, "an object from type '%s' is incompatibel with function 'TUL_%s'"},
    {TUL_ERR_MEMBER_TYPE, "this member is supposed to be from type '%s'"},
    {TUL_ERR_MANDATORY, "encode error: the member '%s' in an object from type '%s' is mandatory"},
    {TUL_ERR_DECODE, "decode error: '%s' in an object from type '%s'"},
    {TUL_ERR_EOF, "EOF detected while parsing"},
    {TUL_ERR_ARGUMENT, "invalid argument(s) in function 'TUL_%s'"},
};

constexpr size_t kMessageSize = 512;

// Forms "#NN message" into `buffer` and traces it; false for a code without
// a message (the buffer is then empty and nothing is written).
bool form_message(char (&buffer)[kMessageSize], int error, va_list args) {
  buffer[0] = '\0';
  const MessageRow* row = nullptr;
  for (const MessageRow& r : kMessages)
    if (r.id == error) {
      row = &r;
      break;
    }
  if (!row) return false;
  int head = std::snprintf(buffer, kMessageSize, "#%2.2d ", error);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  std::vsnprintf(buffer + head, kMessageSize - head, row->format, args);
#pragma GCC diagnostic pop
  if (globals.trace_error) std::fprintf(stderr, "%s\n", buffer);
  return true;
}

// An error object made without going through TUL_new, so that a dictionary
// lacking "TUL.ErrorType" cannot recurse into another error.
TUL_Object* make_error_object(TUL_Metadata* dtd, int error, const char* text) {
  TUL_Asn1TypeEntry* entry = find_type(dtd, names().error_type);
  if (!entry) return dtd->alloc_error;
  if (!entry->behavior) TULM_inherit(entry);
  TUL_Behavior* b = entry->behavior;
  if (!b || !b->alloc) return dtd->alloc_error;
  TUL_Object* obj = b->alloc(reinterpret_cast<TUL_Entry*>(entry));
  if (!obj || obj->error) return dtd->alloc_error;
  obj->ref_cnt = 0;
  TUL_Object* result = TUL_init(obj, -1, text);
  if (!result || result->error) {
    // TUL_init has released `obj` unless it answered null.
    if (!result) TUL_free(obj);
    else if (result != dtd->alloc_error) TUL_free(result);
    return dtd->alloc_error;
  }
  result->error = error;
  return result;
}

}  // namespace
}  // namespace tul

using tul::names;

extern "C" {

/* ------------------------------------------------------------------------
 * Errors
 * ---------------------------------------------------------------------- */

TUL_API void TUL_trace_error(int error, ...) {
  char buffer[tul::kMessageSize];
  va_list args;
  va_start(args, error);
  tul::form_message(buffer, error, args);
  va_end(args);
}

TUL_API TUL_Object* TUL_error(TUL_Metadata* dtd, int error, ...) {
  char buffer[tul::kMessageSize];
  va_list args;
  va_start(args, error);
  tul::form_message(buffer, error, args);
  va_end(args);
  if (!dtd) return nullptr;
  if (error == TUL_ERR_MEMORY) return dtd->alloc_error;
  return tul::make_error_object(dtd, error, buffer);
}

/* ------------------------------------------------------------------------
 * Life cycle
 * ---------------------------------------------------------------------- */

TUL_API TUL_Object* TUL_alloc_US(char* type, TUL_Metadata* dtd) {
  if (!type || !dtd) {
    TUL_trace_error(TUL_ERR_ARGUMENT, "alloc/alloc_US");
    return nullptr;
  }
  return tul::alloc_of(dtd, tul::find_type(dtd, type), type);
}

TUL_API TUL_Object* TUL_alloc(const char* type, TUL_Metadata* dtd) {
  if (!type || !dtd) {
    TUL_trace_error(TUL_ERR_ARGUMENT, "alloc/alloc_US");
    return nullptr;
  }
  char* name = TUL_unique_string(type);
  if (!name) return TUL_error(dtd, TUL_ERR_MEMORY);
  return TUL_alloc_US(name, dtd);
}

}  // extern "C"

namespace {

// A failed init answers with an error object, after which `obj` is freed.
// A null answer (nothing to initialise from) leaves `obj` alone unless the
// value was made here, as in TUL_new, and would otherwise be lost.
TUL_Object* init_with(TUL_Object* obj, va_list* args, bool owned) {
  TUL_Behavior* b = tul_behavior(obj);
  if (!b->init) return obj;
  TUL_Object* result = b->init(obj, args);
  if (result != obj && ((result && result->error) || (!result && owned))) TUL_free(obj);
  return result;
}

}  // namespace

extern "C" {

TUL_API TUL_Object* TUL_init(TUL_Object* obj, ...) {
  if (!obj) return nullptr;
  va_list args;
  va_start(args, obj);
  TUL_Object* result = init_with(obj, &args, false);
  va_end(args);
  return result;
}

TUL_API TUL_Object* TUL_new_US(char* type, TUL_Metadata* dtd, ...) {
  TUL_Object* obj = TUL_alloc_US(type, dtd);
  if (!obj || obj->error) return obj;
  va_list args;
  va_start(args, dtd);
  TUL_Object* result = init_with(obj, &args, true);
  va_end(args);
  return result;
}

TUL_API TUL_Object* TUL_new(const char* type, TUL_Metadata* dtd, ...) {
  TUL_Object* obj = TUL_alloc(type, dtd);
  if (!obj || obj->error) return obj;
  va_list args;
  va_start(args, dtd);
  TUL_Object* result = init_with(obj, &args, true);
  va_end(args);
  return result;
}

TUL_API void TUL_free(TUL_Object* obj) {
  if (!obj || obj->ref_cnt != 0) return;
  TUL_Behavior* b = tul_behavior(obj);
  if (b && b->free) b->free(obj);
}

TUL_API TUL_Object* TUL_copy(TUL_Object* obj) {
  if (!obj) return nullptr;
  TUL_Behavior* b = tul_behavior(obj);
  if (!b || !b->copy) return nullptr;
  TUL_Object* copy = b->copy(obj);
  // The singletons copy to themselves; their counts mean nothing.
  if (copy && copy != obj) copy->ref_cnt = 0;
  return copy;
}

TUL_API long TUL_size(TUL_Object* obj) {
  if (!obj) return 0;
  TUL_Behavior* b = tul_behavior(obj);
  return b && b->size ? b->size(obj) : 0;
}

TUL_API int TUL_equal(TUL_Object* obj1, TUL_Object* obj2) {
  if (!obj1 || !obj2) return 0;
  TUL_Behavior* b = tul_behavior(obj1);
  return b && b->equal ? b->equal(obj1, obj2) : 0;
}

TUL_API unsigned int TUL_hash(TUL_Object* obj) {
  if (!obj) return 0;
  TUL_Behavior* b = tul_behavior(obj);
  return b && b->hash ? b->hash(obj) : 0;
}

TUL_API void* TUL_evaluate(TUL_Object* obj, void* data) {
  if (!obj) return nullptr;
  TUL_Behavior* b = tul_behavior(obj);
  return b && b->evaluate ? b->evaluate(obj, data) : nullptr;
}

/* ------------------------------------------------------------------------
 * Queries
 * ---------------------------------------------------------------------- */

TUL_API char* TUL_object_type(TUL_Object* obj) { return obj ? obj->type_ref->name : nullptr; }

TUL_API int TUL_object_basic_type(TUL_Object* obj) {
  if (!obj || !tul_behavior(obj)) return 0;
  return tul_behavior(obj)->basic_type;
}

TUL_API TUL_Metadata* TUL_get_Metadata(TUL_Object* obj) { return obj ? tul_dtd(obj) : nullptr; }

TUL_API void TUL_attach_data(TUL_Object* obj, void* data) {
  if (obj) obj->specific = data;
}

TUL_API void* TUL_get_attached(TUL_Object* obj) { return obj ? obj->specific : nullptr; }

TUL_API void TUL_set_method_table_US(TUL_Metadata* dtd, char* type, TUL_Behavior* behavior) {
  if (!dtd || !type || !behavior) return;
  TUL_Asn1TypeEntry* entry = tul::find_type(dtd, type);
  if (!entry) {
    TUL_trace_error(TUL_ERR_NO_TYPE, type);
    return;
  }
  if (entry->is_allocated) tul::mem::free(entry->behavior);
  entry->behavior = behavior;
  entry->is_allocated = 0;
}

TUL_API void TUL_set_method_table(TUL_Metadata* dtd, const char* type, TUL_Behavior* behavior) {
  if (!dtd || !type || !behavior) return;
  TUL_set_method_table_US(dtd, TUL_unique_string(type), behavior);
}

TUL_API TUL_Behavior* TUL_get_method_table_US(TUL_Metadata* dtd, char* type) {
  if (!dtd || !type) return nullptr;
  TUL_Asn1TypeEntry* entry = tul::find_type(dtd, type);
  if (!entry) {
    TUL_trace_error(TUL_ERR_NO_TYPE, type);
    return nullptr;
  }
  return entry->behavior;
}

TUL_API TUL_Behavior* TUL_get_method_table(TUL_Metadata* dtd, const char* type) {
  if (!dtd || !type) return nullptr;
  return TUL_get_method_table_US(dtd, TUL_unique_string(type));
}

TUL_API void TUL_print_indentation(TULP_PrintContext* ctx) {
  if (!ctx || ctx->level <= 0) return;
  for (int i = 0; i < ctx->level / 2; ++i) ctx->printc('\t', ctx->ptr);
  if (ctx->level % 2) ctx->prints("    ", ctx->ptr);
}

}  // extern "C"

/* ------------------------------------------------------------------------
 * Metadata helpers
 * ---------------------------------------------------------------------- */

void TULM_inherit(TUL_Asn1TypeEntry* e) {
  if (!e || !e->type) return;
  // Walk up to the first ancestor that has a table, then hand it down the
  // chain so every entry passed on the way shares it.
  TUL_Metadata* dtd = e->dtd;
  long limit = tul::kMaxTypeChain;
  TUL_Asn1TypeEntry* cur = e;
  while (!cur->behavior) {
    if (!cur->type) return;
    if (--limit < 0) {
      tul::trace_chain_too_long(e);
      return;
    }
    TUL_Asn1TypeEntry* base = tul::find_type(dtd, cur->type);
    if (!base) {
      TUL_trace_error(TUL_ERR_NO_TYPE, cur->type);
      return;
    }
    cur = base;
  }
  TUL_Behavior* table = cur->behavior;
  for (TUL_Asn1TypeEntry* walk = e; walk && !walk->behavior; walk = tul::find_type(dtd, walk->type))
    walk->behavior = table;
}

TUL_Asn1TypeEntry* TULM_description(TUL_Asn1TypeEntry* e) {
  if (!e) return nullptr;
  if (tul::is_constructor(e->name)) return e;
  long limit = tul::kMaxTypeChain;
  TUL_Asn1TypeEntry* cur = e;
  while (!tul::is_constructor(cur->type)) {
    if (!cur->type || --limit < 0) return nullptr;
    cur = tul::find_type(e->dtd, cur->type);
    if (!cur) return nullptr;
  }
  e->final_def = cur;
  return cur;
}

long TULM_size(TUL_Asn1TypeEntry* e) {
  if (!e) return 0;
  TUL_Asn1TypeEntry* d = e->final_def ? e->final_def : TULM_description(e);
  return d ? d->size : 0;
}

TUL_Asn1TypeEntry* _TUL_object_info(TUL_Object* obj, int final) {
  if (!obj) return nullptr;
  TUL_Asn1TypeEntry* e = tul_type_entry(obj);
  if (!final) return e;
  return e->final_def ? e->final_def : TULM_description(e);
}

namespace {

// Index of member `name` in the description of the value's type; -1 when
// the type has no such member.
int member_index(TUL_Object* obj, const char* name, TUL_Asn1TypeEntry** description) {
  *description = _TUL_object_info(obj, 1);
  return tul::find_member(*description, name);
}

}  // namespace

TUL_Asn1Type* TULM_memberentry(TUL_Object* obj, char* name) {
  if (!obj || !name) return nullptr;
  TUL_Asn1TypeEntry* d;
  int i = member_index(obj, name, &d);
  if (i < 0) {
    TUL_trace_error(TUL_ERR_NO_FIELD, name, TUL_object_type(obj));
    return nullptr;
  }
  return &d->members[i];
}

char* TULM_membertype(TUL_Object* obj, char* name) {
  TUL_Asn1Type* m = TULM_memberentry(obj, name);
  return m ? m->type : nullptr;
}

TUL_Entry* _TUL_type_info_US(TUL_Metadata* dtd, char* type) {
  if (!dtd || !type) return nullptr;
  TUL_Asn1TypeEntry* e = tul::find_type(dtd, type);
  if (!e) {
    TUL_trace_error(TUL_ERR_NO_TYPE, type);
    return nullptr;
  }
  if (!e->behavior && e->type) TULM_inherit(e);
  return reinterpret_cast<TUL_Entry*>(e);
}

TUL_Asn1TypeEntry* _TUL_asn1_info_US(TUL_Metadata* dtd, char* type, int final) {
  auto* e = reinterpret_cast<TUL_Asn1TypeEntry*>(_TUL_type_info_US(dtd, type));
  if (!e || !final) return e;
  return e->final_def ? e->final_def : TULM_description(e);
}

TUL_Asn1TypeEntry* _TUL_asn1_info(TUL_Metadata* dtd, const char* type, int final) {
  if (!dtd || !type) return nullptr;
  return _TUL_asn1_info_US(dtd, TUL_unique_string(type), final);
}
