// Internal interface of the object model: per-type value layouts, the
// metadata helpers constructed types use to find their members, and the
// interned names the library compares by identity.
#ifndef TUL_DTD_H
#define TUL_DTD_H

#include <cstddef>
#include <cstdint>

#include "hash.h"
#include "mem.h"
#include "tul.h"

/* ------------------------------------------------------------------------
 * Per-type layouts; each begins with the TUL_Object header fields.
 * ---------------------------------------------------------------------- */

#define TUL_OBJECT_HEADER   \
  int error;                \
  void* specific;           \
  TUL_Entry* type_ref;      \
  int32_t ref_cnt

struct TUL_Boolean {
  TUL_OBJECT_HEADER;
  int boolean;
};

// INTEGER and ENUMERATED.
struct TUL_Integer {
  TUL_OBJECT_HEADER;
  int32_t integer;
};

// How INTEGER and ENUMERATED values are allocated: the record above,
// followed by the 64-bit value. Both fields are always written; `integer`
// holds the low 32 bits, and with wide integers off (the default) it is the
// value and `wide` always equals it, so readers outside wide mode see
// exactly the 32-bit record.
struct TUL_WideInteger {
  TUL_OBJECT_HEADER;
  int32_t integer;
  int64_t wide;
};
static_assert(offsetof(TUL_WideInteger, integer) == offsetof(TUL_Integer, integer));

// OCTET STRING, every character string, BER-String and BIT STRING.
struct TUL_Octet {
  TUL_OBJECT_HEADER;
  int32_t len;   // bytes (BIT STRING: bits)
  char* octet;   // len + 1 bytes, NUL-terminated; null when empty
  char* string;  // BIT STRING text form, owned; unused by the string types
};

struct TUL_Real {
  TUL_OBJECT_HEADER;
  double real;
};

struct TUL_Oid {
  TUL_OBJECT_HEADER;
  int in_line;  // 1: `octets` belong to the registration index
  int32_t len;  // arcs
  int32_t* oid;
  char* string;  // cached text form, owned
  int len_octets;
  unsigned char* octets;  // pre-encoded BER contents, or null
};

// SEQUENCE and SET: one slot per member of the type's description, in the
// same allocation as the record.
struct TUL_Structure {
  TUL_OBJECT_HEADER;
  TUL_Object** member;
};

struct TULC_Collection {
  int magic;  // 4711 while initialised
  int count;
  int delta;
  int limit;
  void** items;
};

// SEQUENCE OF and SET OF.
struct TUL_List {
  TUL_OBJECT_HEADER;
  TULC_Collection list;
};

struct TUL_Choice {
  TUL_OBJECT_HEADER;
  char* member;        // interned alternative name; "???" while unchosen
  TUL_Object* choice;  // the dictionary's tmp_object while unchosen
};

#undef TUL_OBJECT_HEADER

/* ------------------------------------------------------------------------
 * Internal functions of the object model
 * ---------------------------------------------------------------------- */

// The entry that carries the member list of a constructed type (cached in
// final_def); null when `e` is not derived from a constructed type.
TUL_Asn1TypeEntry* TULM_description(TUL_Asn1TypeEntry* e);
// Member count of the description of `e`.
long TULM_size(TUL_Asn1TypeEntry* e);
// Gives `e` the behaviour table of its base type (recursively).
void TULM_inherit(TUL_Asn1TypeEntry* e);
// 1 for the interned "ANY" and "ANY DEFINED BY".
inline int TULM_is_any(const char* name);
// Interned declared type name / member record of member `name` of the
// constructed value `obj`; null and trace 6 when unknown.
char* TULM_membertype(TUL_Object* obj, char* name);
TUL_Asn1Type* TULM_memberentry(TUL_Object* obj, char* name);

// Type entry of interned `type` in `dtd`, inheriting its table when needed;
// trace 4 and null when unknown.
TUL_Entry* _TUL_type_info_US(TUL_Metadata* dtd, char* type);
TUL_Asn1TypeEntry* _TUL_asn1_info_US(TUL_Metadata* dtd, char* type, int final);
TUL_Asn1TypeEntry* _TUL_asn1_info(TUL_Metadata* dtd, const char* type, int final);
TUL_Asn1TypeEntry* _TUL_object_info(TUL_Object* obj, int final);

// The type entry of a value, as a type entry.
inline TUL_Asn1TypeEntry* tul_type_entry(const TUL_Object* obj) {
  return reinterpret_cast<TUL_Asn1TypeEntry*>(obj->type_ref);
}
inline TUL_Metadata* tul_dtd(const TUL_Object* obj) { return obj->type_ref->dtd; }
inline TUL_Behavior* tul_behavior(const TUL_Object* obj) { return obj->type_ref->behavior; }

namespace tul {

// Index of the member named by the interned `name` in description `d`, or
// -1 (also for a null description). Traces nothing: callers report their
// own error.
int find_member(const TUL_Asn1TypeEntry* d, const char* name);

// Whether `obj` has one of the basic-type `bits`; when it has not, traces
// code 7 naming the function word. False for null, silently.
bool has_basic_type(TUL_Object* obj, int bits, const char* function_word);

// The type entry named by the interned `name`, without inheriting; null
// when the dictionary has none.
TUL_Asn1TypeEntry* find_type(TUL_Metadata* dtd, const char* name);
// TUL_alloc_US of type `type` whose entry in `dtd` is `entry` (null: error 4).
TUL_Object* alloc_of(TUL_Metadata* dtd, TUL_Asn1TypeEntry* entry, char* type);

// Allocates a zeroed value record of `size` bytes for `entry` (header filled
// in); on memory shortage traces code 2 and answers the dictionary's
// allocation-error object. Every type's `alloc` slot uses it.
// Inline, so that the zeroing of a record of constant size is inline too.
inline TUL_Object* alloc_object(TUL_Entry* entry, size_t size) {
  auto* obj = static_cast<TUL_Object*>(mem::zalloc(size));
  if (!obj) return TUL_error(entry->dtd, TUL_ERR_MEMORY);
  obj->type_ref = entry;
  return obj;
}

// BER-String's table: the octet table with its own decode, encode and
// print. Defined with the octet family above this layer; every new
// dictionary registers those three slots, as it copies the fourteen tables.
extern const TUL_Behavior ber_string_behavior;

// The library's own names, interned once and interned again after
// TUL_free_unique_strings. Compare names against these by identity.
struct Names {
  // Slot names, in slot order.
  char* alloc;
  char* init;
  char* free;
  char* decode;
  char* encode;
  char* parse;
  char* print;
  char* copy;
  char* size;
  char* equal;
  char* evaluate;
  char* hash;
  // Constructor and special type names.
  char* sequence;
  char* set;
  char* sequence_of;
  char* set_of;
  char* choice;
  char* any;
  char* any_defined_by;
  char* ber_string;
  char* octet_string;
  char* bit_string;
  char* object_identifier;
  char* error_type;
  char* not_chosen;  // "???"
  // Meta-schema types that describe definitions.
  char* asn1;
  char* metadata;
  char* notification;
  char* attribute;
  char* parameter;
  char* action;
  char* moc;
  char* package;
  char* name_binding;
  char* attribute_group;
  char* behavior;
  // Built-in types of untyped elements by tag number (null where none):
  // universal 0..27 and the SNMP application types 0..4.
  char* universal_types[28];
  char* application_types[5];
};

extern Names interned_names;
// The string-table generation the names were interned in; 0 before.
extern unsigned interned_generation;
// Interns the names (again); used by names() when they are stale.
const Names& intern_names();

// The library's names; interned on first use after the string table was
// (re)created. Null fields only under memory shortage (the next call tries
// again). On every hot path, so the common case is one comparison.
inline const Names& names() {
  return interned_generation == hash::strings_generation() ? interned_names : intern_names();
}

}  // namespace tul

// On the decoder's path for every member, so defined here.
inline int TULM_is_any(const char* name) {
  const tul::Names& n = tul::names();
  return name && (name == n.any || name == n.any_defined_by);
}

namespace tul {

// How many types a derivation chain (a type, its base type, that one's base
// type ...) may hold. Chains come from application definitions and may loop
// (A from B, B from A); every walk along one stops here, the table
// inheritance and the codec alike.
inline constexpr int kMaxTypeChain = 1024;

// How deep constructed values (SEQUENCE, SET, SEQUENCE OF, SET OF, CHOICE)
// may nest. Decode, encode, parse and print count the same levels against
// the same bound, so a value one of them accepts the others handle whole.
inline constexpr int kMaxValueNesting = 256;

// One nesting level of a walk over values, counted in `depth` (one counter
// per kind of walk: nested runs of one kind share the stack it protects).
// False, and no level entered, while the bound is reached.
class NestingLevel {
 public:
  explicit NestingLevel(int& depth, int bound = kMaxValueNesting) : depth_(depth), entered_(depth < bound) {
    if (entered_) ++depth_;
  }
  ~NestingLevel() {
    if (entered_) --depth_;
  }
  NestingLevel(const NestingLevel&) = delete;
  NestingLevel& operator=(const NestingLevel&) = delete;
  explicit operator bool() const { return entered_; }

 private:
  int& depth_;
  bool entered_;
};

// Traces error 5 for a type whose derivation chain is cyclic or longer than
// kMaxTypeChain, naming it.
void trace_chain_too_long(const TUL_Asn1TypeEntry* e);
// The same report as an error object of `e`'s dictionary.
TUL_Object* chain_too_long(const TUL_Asn1TypeEntry* e);

// The first error of a run wins: `error` goes into `slot` unless one is
// there already, in which case it is freed. Null errors are ignored.
inline void keep_first_error(TUL_Object*& slot, TUL_Object* error) {
  if (!error) return;
  if (slot)
    TUL_free(error);
  else
    slot = error;
}

// Releases a value unless release() hands it on: for half-built values on
// every exit path. An error object given to it is not held.
class ObjectGuard {
 public:
  explicit ObjectGuard(TUL_Object* value) : value_(value && !value->error ? value : nullptr) {}
  ~ObjectGuard() { TUL_free(value_); }
  ObjectGuard(const ObjectGuard&) = delete;
  ObjectGuard& operator=(const ObjectGuard&) = delete;
  TUL_Object* get() const { return value_; }
  TUL_Object* release() {
    TUL_Object* value = value_;
    value_ = nullptr;
    return value;
  }

 private:
  TUL_Object* value_;
};

// Whether INTEGER and ENUMERATED values are 64-bit (TUL_set_wide_integers).
bool wide_integers();
// Most contents octets an INTEGER or ENUMERATED element may have now.
inline int integer_octets() { return wide_integers() ? 8 : 4; }
// The value of an INTEGER or ENUMERATED record, as wide as the mode.
inline int64_t integer_value(const TUL_Object* obj) {
  const auto* record = reinterpret_cast<const TUL_WideInteger*>(obj);
  return wide_integers() ? record->wide : record->integer;
}
inline void set_integer_value(TUL_Object* obj, int64_t value) {
  auto* record = reinterpret_cast<TUL_WideInteger*>(obj);
  record->integer = static_cast<int32_t>(value);
  record->wide = value;
}

}  // namespace tul

#endif
