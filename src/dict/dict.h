// Internal interface of the dictionary: the descriptor of the nine template
// kinds, shared by insertion, release, lookup, persistence and reports.
#ifndef TUL_DICT_H
#define TUL_DICT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

#include "dtd.h"
#include "tul.h"

namespace tul::dict {

constexpr int kTemplateKinds = 9;
constexpr int kMaxStringFields = 2;

// Where a template record's syntax field comes from in its meta-schema
// value: a member, a member inside it (information.syntax), or the chosen
// alternative of a CHOICE member (any alternative is read; `alternative` is
// the one built).
struct FieldSource {
  size_t offset;  // 0 ends the list
  const char* member;
  const char* inner;
  const char* choice_type;
  const char* alternative;
  const char* clause;  // the GDMO clause that introduces the field
};

// One line of a template's listing block: a caption format with the string
// field at `offset`, or (offset kItemsLine) the notification items.
struct ListingLine {
  const char* format;  // null ends the block
  size_t offset;
};
constexpr size_t kItemsLine = SIZE_MAX;
constexpr int kMaxListingLines = 5;

// One row per template kind, at index entry_type - 1.
struct TemplateKind {
  int entry_type;
  const char* keyword;  // the GDMO template keyword ("MANAGED OBJECT CLASS")
  size_t record_size;
  TULH_HT* TUL_Metadata::*table;
  char* Names::*value_type;  // meta-schema type describing such a template
  size_t obj_offset;
  FieldSource sources[kMaxStringFields];  // the interned syntax fields
  bool has_registration;
  // The syntax an ANY DEFINED BY member registered under this kind takes
  // (offsets of string fields, 0 for none): the reply syntax inside a type
  // whose name ends in "Reply", else the information syntax; when
  // `info_needs_suffix`, only inside a type whose name ends in "Info".
  size_t info_syntax;
  size_t reply_syntax;
  bool info_needs_suffix;
  // What the listing, the reference check and stored files call the kind
  // ("Attribute Template"); null for a kind that none of them carries.
  const char* title;
  ListingLine listing[kMaxListingLines];
};

// Type definitions written as constant rows: the built-in types and the
// meta-schema. Entered through the ordinary insertion, which interns and
// copies them.
struct EnumRow {
  const char* name;
  int32_t val;
};

struct MemberRow {
  const char* name;
  int32_t tag_flag;
  int32_t tag_val;
  const char* type;
  int32_t opt_def;
  std::span<const EnumRow> enums;
};

struct TypeRow {
  const char* name;
  const char* base;
  int32_t tag_flag;
  int32_t tag_val;
  std::span<const MemberRow> members;
  std::span<const EnumRow> enums;
};

constexpr int32_t kExplicitContext = TUL_TAG_EXPLICIT | TUL_TAG_CONTEXT;

void add_type_row(TUL_Metadata* dtd, const TypeRow& row, bool is_builtin);

// What entering one raw record did.
enum class Added {
  kEntered,
  kIgnored,      // a duplicate key, or no key: the first definition wins
  kUnusable,     // a type derived from itself, or with a tag the reader cannot read back
  kNoMemory,     // left out for a memory shortage
};
// Enters one raw record as _TUL_add_definition does, without its trace.
Added add_definition(TUL_Metadata* dtd, TUL_Entry* def, TUL_Object* obj);

// Told of each single definition that a meta-schema value enters or
// leaves out, with the interned key (type name or template label; null
// when it has none).
struct AddObserver {
  void (*seen)(TUL_Object* definition, char* key, Added added, void* data);
  void* data;
};
// TUL_add_definition, telling `observer` (may be null) of each definition.
TUL_Object* add_definition_value(TUL_Metadata* md, TUL_Object* obj, const AddObserver* observer);

// Tag numbers a definition may carry: what the element reader reads back.
inline bool valid_tag_number(int32_t tag_val) { return tag_val >= 0 && tag_val <= 16383; }

// Enters the meta-schema types that the built-in rows do not already hold.
void load_meta_schema(TUL_Metadata* dtd);

// The row for `entry_type`, or null when it is no template kind.
const TemplateKind* template_kind(int entry_type);

// Template tables in the order the registration and label indexes visit
// them (behaviours last: they have no registration). Stored files, the
// listing and the source generator follow the same order.
extern const int kIndexOrder[kTemplateKinds];

// The syntax of template `entry` for an ANY DEFINED BY member inside a value
// of type `enclosing_type`; null when its kind has none there.
char* registered_syntax(TUL_Entry* entry, const char* enclosing_type);

// Key functions of the dictionary's tables: types by the interned name,
// templates by the interned label, registrations by the OBJECT IDENTIFIER
// value.
uint32_t entry_hash(void* entry);
int entry_equal(void* entry, void* key);
uint32_t label_hash(void* entry);
int label_equal(void* entry, void* key);
uint32_t registration_hash(void* oid_value);
int registration_equal(void* entry, void* key);

// Calls `action` with the describing value of every entry of `table`;
// types without a base are skipped.
void for_each_value(TUL_Metadata* md, TULH_HT* TUL_Metadata::*table, TUL_ObjectCallback action, void* data);

// The describing value field of any entry record (type or template).
TUL_Object*& entry_obj(TUL_Entry* e);

// A string field of a record at a byte offset (labels, syntax fields).
inline char*& string_field(void* record, size_t offset) {
  return *reinterpret_cast<char**>(static_cast<char*>(record) + offset);
}

// The listing and the reference check on `out`; the check answers the number
// of unresolved references.
void print_metadata(TUL_Metadata* dtd, FILE* out);
long consistence_check(TUL_Metadata* dtd, FILE* out);

// The reference check without output: `visit` gets each unresolved
// reference, the entry holding it and what kind of definition that is.
using UnresolvedVisitor = void (*)(const char* reference, const TUL_Entry* e, const char* where, void* data);
void for_each_unresolved(TUL_Metadata* dtd, UnresolvedVisitor visit, void* data);

// Reads the definitions file text `text`, named `name` in the messages
// written to `out`: see TUL_load_definitions_file.
int load_definitions_text(TUL_Metadata* md, std::string_view text, const char* name, FILE* out);

}  // namespace tul::dict

// Reports every unresolved reference of the dictionary on standard output.
void TUL_consistence_check(TUL_Metadata* dtd);

// Builds the registration and label indexes once per dictionary.
void TUL_finalize(TUL_Metadata* dtd);
// The template whose registration equals the OBJECT IDENTIFIER value `id`;
// null when none (or for null arguments). Builds the indexes first.
TUL_Entry* _TUL_templateByRegistration(TUL_Metadata* dtd, TUL_Object* id);

// Raw walks over one table each: the callback receives the entry record.
void _TUL_for_each_asn1_def(TUL_Metadata* md, TUL_EntryCallback action, void* data);
void _TUL_for_each_attribute(TUL_Metadata* md, TUL_EntryCallback action, void* data);
void _TUL_for_each_notification(TUL_Metadata* md, TUL_EntryCallback action, void* data);
void _TUL_for_each_parameter(TUL_Metadata* md, TUL_EntryCallback action, void* data);
void _TUL_for_each_action(TUL_Metadata* md, TUL_EntryCallback action, void* data);
void _TUL_for_each_moc(TUL_Metadata* md, TUL_EntryCallback action, void* data);
void _TUL_for_each_package(TUL_Metadata* md, TUL_EntryCallback action, void* data);
void _TUL_for_each_name_binding(TUL_Metadata* md, TUL_EntryCallback action, void* data);
void _TUL_for_each_attribute_group(TUL_Metadata* md, TUL_EntryCallback action, void* data);
void _TUL_for_each_behavior(TUL_Metadata* md, TUL_EntryCallback action, void* data);

#endif
