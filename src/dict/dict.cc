// The dictionary object: its tables, its copies of the built-in behaviour
// tables, the built-in type rows and the insertion of definitions. Every
// definition is copied in with its names interned; the first one of a name
// wins, so later loads can never change a type that values already use.
#include "dict.h"

#include <cstring>
#include <span>

#include "dtd.h"
#include "hash.h"
#include "mem.h"
#include "type_cache.h"

namespace tul::dict {

// The entry header is repeated flat at the start of every entry record, and
// the label follows it in every template record: code that holds an entry
// of unknown kind reads these fields through TUL_Entry or an attribute
// record.
template <class Record>
constexpr bool shares_entry_header() {
  return offsetof(Record, name) == offsetof(TUL_Entry, name) &&
         offsetof(Record, is_allocated) == offsetof(TUL_Entry, is_allocated) &&
         offsetof(Record, behavior) == offsetof(TUL_Entry, behavior) &&
         offsetof(Record, dtd) == offsetof(TUL_Entry, dtd) &&
         offsetof(Record, entry_type) == offsetof(TUL_Entry, entry_type);
}
template <class... Templates>
constexpr bool template_layouts_agree() {
  return ((shares_entry_header<Templates>() &&
           offsetof(Templates, label) == offsetof(TUL_AttributeEntry, label)) && ...);
}
static_assert(shares_entry_header<TUL_Asn1TypeEntry>());
static_assert(template_layouts_agree<TUL_NotificationEntry, TUL_AttributeEntry, TUL_ParameterEntry,
                                     TUL_ActionEntry, TUL_MOCEntry, TUL_PackageEntry, TUL_NameBindingEntry,
                                     TUL_AttributeGroupEntry, TUL_BehaviorEntry>());

// Captions of the listing blocks; the colons stand in one column.
constexpr ListingLine kRegistrationLine{"registration: %s\n", offsetof(TUL_Entry, name)};
constexpr ListingLine kLabelLine{"       label: %s\n", offsetof(TUL_AttributeEntry, label)};
constexpr ListingLine kItems{"", kItemsLine};
constexpr const char* kSyntaxCaption = "      syntax: %s\n";
constexpr const char* kInfoCaption = " info syntax: %s\n";
constexpr const char* kReplyCaption = "reply syntax: %s\n";

template <class Record>
constexpr TemplateKind kind_row(int entry_type, const char* keyword, TULH_HT* TUL_Metadata::*table,
                                char* Names::*value_type, const char* title, bool has_registration = true) {
  return {entry_type, keyword, sizeof(Record), table, value_type, offsetof(Record, obj), {}, has_registration, 0, 0,
          false, title, {kRegistrationLine, kLabelLine}};
}

constexpr TemplateKind with_syntax(TemplateKind row, FieldSource info, FieldSource reply = {},
                                   bool info_needs_suffix = false) {
  row.sources[0] = info;
  row.sources[1] = reply;
  row.info_syntax = info.offset;
  row.reply_syntax = reply.offset;
  row.info_needs_suffix = info_needs_suffix;
  return row;
}

constexpr TemplateKind listed_as(TemplateKind row, ListingLine a, ListingLine b, ListingLine c,
                                 ListingLine d = {}, ListingLine e = {}) {
  row.listing[0] = a;
  row.listing[1] = b;
  row.listing[2] = c;
  row.listing[3] = d;
  row.listing[4] = e;
  return row;
}

constexpr TemplateKind kKinds[kTemplateKinds] = {
    listed_as(with_syntax(kind_row<TUL_NotificationEntry>(TUL_ENTRY_NOTIFICATION, "NOTIFICATION",
                                                          &TUL_Metadata::notifications, &Names::notification,
                                                          "Notification Template"),
                          {offsetof(TUL_NotificationEntry, info_syntax), "information", "syntax", nullptr, nullptr,
                           "WITH INFORMATION SYNTAX"},
                          {offsetof(TUL_NotificationEntry, reply_syntax), "replySyntax", nullptr, nullptr, nullptr,
                           "WITH REPLY SYNTAX"}),
              kRegistrationLine, {kInfoCaption, offsetof(TUL_NotificationEntry, info_syntax)}, kLabelLine, kItems,
              {kReplyCaption, offsetof(TUL_NotificationEntry, reply_syntax)}),
    listed_as(with_syntax(kind_row<TUL_AttributeEntry>(TUL_ENTRY_ATTRIBUTE, "ATTRIBUTE", &TUL_Metadata::attributes,
                                                       &Names::attribute, "Attribute Template"),
                          {offsetof(TUL_AttributeEntry, syntax), "derivedOrSyntax", nullptr, "TUL.DerivedOrSyntax",
                           "syntax", "WITH ATTRIBUTE SYNTAX"}),
              kRegistrationLine, {kSyntaxCaption, offsetof(TUL_AttributeEntry, syntax)}, kLabelLine),
    listed_as(with_syntax(kind_row<TUL_ParameterEntry>(TUL_ENTRY_PARAMETER, "PARAMETER", &TUL_Metadata::parameters,
                                                       &Names::parameter, "Parameter Template"),
                          {offsetof(TUL_ParameterEntry, syntax), "syntaxOrAttribute", nullptr,
                           "TUL.SyntaxOrAttribute", "withSyntax", "WITH SYNTAX"}),
              kRegistrationLine, {kSyntaxCaption, offsetof(TUL_ParameterEntry, syntax)}, kLabelLine),
    listed_as(with_syntax(kind_row<TUL_ActionEntry>(TUL_ENTRY_ACTION, "ACTION", &TUL_Metadata::actions,
                                                    &Names::action, "Action Template"),
                          {offsetof(TUL_ActionEntry, info_syntax), "informationSyntax", nullptr, nullptr, nullptr,
                           "WITH INFORMATION SYNTAX"},
                          {offsetof(TUL_ActionEntry, reply_syntax), "replySyntax", nullptr, nullptr, nullptr,
                           "WITH REPLY SYNTAX"},
                          true),
              kRegistrationLine, {kInfoCaption, offsetof(TUL_ActionEntry, info_syntax)},
              {kReplyCaption, offsetof(TUL_ActionEntry, reply_syntax)}, kLabelLine),
    kind_row<TUL_MOCEntry>(TUL_ENTRY_MOC, "MANAGED OBJECT CLASS", &TUL_Metadata::mocs, &Names::moc, "MOC Template"),
    kind_row<TUL_PackageEntry>(TUL_ENTRY_PACKAGE, "PACKAGE", &TUL_Metadata::packages, &Names::package,
                               "Package Template"),
    kind_row<TUL_NameBindingEntry>(TUL_ENTRY_NAME_BINDING, "NAME BINDING", &TUL_Metadata::name_bindings,
                                   &Names::name_binding, "Name Binding Template"),
    kind_row<TUL_AttributeGroupEntry>(TUL_ENTRY_ATTRIBUTE_GROUP, "ATTRIBUTE GROUP", &TUL_Metadata::attribute_groups,
                                      &Names::attribute_group, "Attribute Group Template"),
    kind_row<TUL_BehaviorEntry>(TUL_ENTRY_BEHAVIOR, "BEHAVIOUR", &TUL_Metadata::behaviors, &Names::behavior, nullptr,
                                false),
};

constexpr bool rows_follow_entry_types() {
  for (int k = 0; k < kTemplateKinds; ++k)
    if (kKinds[k].entry_type != k + 1) return false;
  return true;
}
static_assert(rows_follow_entry_types(), "row k describes entry_type k + 1");
static_assert(TUL_ENTRY_BEHAVIOR == kTemplateKinds);

const int kIndexOrder[kTemplateKinds] = {
    TUL_ENTRY_ATTRIBUTE, TUL_ENTRY_NOTIFICATION, TUL_ENTRY_PARAMETER,       TUL_ENTRY_ACTION,  TUL_ENTRY_MOC,
    TUL_ENTRY_PACKAGE,   TUL_ENTRY_NAME_BINDING, TUL_ENTRY_ATTRIBUTE_GROUP, TUL_ENTRY_BEHAVIOR,
};

const TemplateKind* template_kind(int entry_type) {
  if (entry_type < 1 || entry_type > kTemplateKinds) return nullptr;
  return &kKinds[entry_type - 1];
}

namespace {

bool ends_with(const char* text, const char* suffix) {
  size_t n = std::strlen(text), m = std::strlen(suffix);
  return n >= m && std::memcmp(text + n - m, suffix, m) == 0;
}

// Template records: the label is the first field after the entry header.
char* label_of(void* entry) { return static_cast<TUL_AttributeEntry*>(entry)->label; }

}  // namespace

char* registered_syntax(TUL_Entry* entry, const char* enclosing_type) {
  const TemplateKind* kind = template_kind(entry->entry_type);
  if (!kind || !enclosing_type) return nullptr;
  if (kind->reply_syntax && ends_with(enclosing_type, "Reply")) return string_field(entry, kind->reply_syntax);
  if (!kind->info_syntax || (kind->info_needs_suffix && !ends_with(enclosing_type, "Info"))) return nullptr;
  return string_field(entry, kind->info_syntax);
}

uint32_t entry_hash(void* entry) { return hash::pointer_hash(static_cast<TUL_Entry*>(entry)->name); }

int entry_equal(void* entry, void* key) {
  return static_cast<TUL_Entry*>(entry)->name == static_cast<TUL_Entry*>(key)->name;
}

uint32_t label_hash(void* entry) { return hash::pointer_hash(label_of(entry)); }

int label_equal(void* entry, void* key) { return label_of(entry) == label_of(key); }

uint32_t registration_hash(void* oid_value) { return TUL_hash(static_cast<TUL_Object*>(oid_value)); }

int registration_equal(void* entry, void* key) {
  return TUL_equal(static_cast<TUL_Object*>(entry), static_cast<TUL_Object*>(key));
}

TUL_Object*& entry_obj(TUL_Entry* e) {
  if (const TemplateKind* kind = template_kind(e->entry_type))
    return *reinterpret_cast<TUL_Object**>(reinterpret_cast<char*>(e) + kind->obj_offset);
  return reinterpret_cast<TUL_Asn1TypeEntry*>(e)->obj;
}

namespace {

/* ------------------------------------------------------------------------
 * Built-in type rows
 * ---------------------------------------------------------------------- */

constexpr int32_t kImplicitUniversal = TUL_TAG_IMPLICIT | TUL_TAG_UNIVERSAL;
constexpr int32_t kImplicitContext = TUL_TAG_IMPLICIT | TUL_TAG_CONTEXT;

constexpr MemberRow kExternal[] = {
    {"direct-reference", 0, 0, "OBJECT IDENTIFIER", TUL_OPTIONAL, {}},
    {"indirect-reference", 0, 0, "INTEGER", TUL_OPTIONAL, {}},
    {"data-value-descriptor", 0, 0, "ObjectDescriptor", TUL_OPTIONAL, {}},
    {"encoding", 0, 0, "Encoding-Choice", TUL_MANDATORY, {}},
};
constexpr MemberRow kEncodingChoice[] = {
    {"single-ASN1-type", kExplicitContext, 0, "ANY", TUL_MANDATORY, {}},
    {"octet-aligned", kImplicitContext, 1, "OCTET STRING", TUL_MANDATORY, {}},
    {"arbitrary", kImplicitContext, 2, "BIT STRING", TUL_MANDATORY, {}},
};
constexpr MemberRow kAnyElement[] = {{nullptr, 0, 0, "ANY", TUL_MANDATORY, {}}};
constexpr MemberRow kAsn1[] = {
    {"name", 0, 0, "TUL.String", TUL_MANDATORY, {}},
    {"type", 0, 0, "TUL.String", TUL_MANDATORY, {}},
    {"tagClass", 0, 0, "TUL.TagClass", TUL_DEFAULT, {}},
    {"tagValue", 0, 0, "INTEGER", TUL_OPTIONAL, {}},
    {"tagModifier", kExplicitContext, 0, "TUL.TagModifier", TUL_DEFAULT, {}},
    {"fields", 0, 0, "TUL.Fields", TUL_OPTIONAL, {}},
    {"enums", kExplicitContext, 1, "TUL.Enums", TUL_OPTIONAL, {}},
};
constexpr MemberRow kEnum[] = {
    {"label", 0, 0, "TUL.String", TUL_MANDATORY, {}},
    {"value", 0, 0, "INTEGER", TUL_MANDATORY, {}},
};
constexpr MemberRow kEnumElement[] = {{nullptr, 0, 0, "TUL.Enum", TUL_MANDATORY, {}}};
constexpr EnumRow kExistence[] = {{"mandatory", 0}, {"optional", 1}, {"default", 2}};
constexpr MemberRow kField[] = {
    {"name", kExplicitContext, 0, "TUL.String", TUL_OPTIONAL, {}},
    {"type", 0, 0, "TUL.String", TUL_MANDATORY, {}},
    {"tagClass", 0, 0, "TUL.TagClass", TUL_DEFAULT, {}},
    {"tagValue", 0, 0, "INTEGER", TUL_OPTIONAL, {}},
    {"tagModifier", kExplicitContext, 1, "TUL.TagModifier", TUL_DEFAULT, {}},
    {"existence", kExplicitContext, 2, "ENUMERATED", TUL_DEFAULT, kExistence},
    {"enums", 0, 0, "TUL.Enums", TUL_OPTIONAL, {}},
    {"anyDefinedById", kExplicitContext, 3, "TUL.String", TUL_OPTIONAL, {}},
};
constexpr MemberRow kFieldElement[] = {{nullptr, 0, 0, "TUL.Field", TUL_MANDATORY, {}}};
constexpr EnumRow kTagClasses[] = {{"universal", 0}, {"application", 1}, {"context", 2}, {"private", 3}};
constexpr EnumRow kTagModifiers[] = {{"implicit", 0}, {"explicit", 1}};

// Added in this order; rows 37 to 43 let the meta-schema's own text be
// parsed before it defines the rest of the meta-schema.
constexpr TypeRow kBuiltinTypes[] = {
    {"BOOLEAN", nullptr, 0, 1, {}, {}},
    {"INTEGER", nullptr, 0, 2, {}, {}},
    {"BIT STRING", nullptr, 0, 3, {}, {}},
    {"OCTET STRING", nullptr, 0, 4, {}, {}},
    {"NULL", nullptr, 0, 5, {}, {}},
    {"OBJECT IDENTIFIER", nullptr, 0, 6, {}, {}},
    {"ObjectDescriptor", "GraphicString", kImplicitUniversal, 7, {}, {}},
    {"EXTERNAL", "SEQUENCE", kImplicitUniversal, 8, kExternal, {}},
    {"Encoding-Choice", "CHOICE", 0, 0, kEncodingChoice, {}},
    {"REAL", nullptr, 0, 9, {}, {}},
    {"ENUMERATED", nullptr, 0, 10, {}, {}},
    {"SEQUENCE", nullptr, 0, 16, {}, {}},
    {"SEQUENCE OF", nullptr, 0, 16, kAnyElement, {}},
    {"SET", nullptr, 0, 17, {}, {}},
    {"SET OF", nullptr, 0, 17, kAnyElement, {}},
    {"CHOICE", nullptr, 0, 0, {}, {}},
    {"ANY DEFINED BY", nullptr, 0, 0, {}, {}},
    {"ANY", "BER-String", 0, 0, {}, {}},
    {"NumericString", "OCTET STRING", kImplicitUniversal, 18, {}, {}},
    {"PrintableString", "IA5String", kImplicitUniversal, 19, {}, {}},
    {"T61String", "OCTET STRING", kImplicitUniversal, 20, {}, {}},
    {"TeletexString", "T61String", 0, 0, {}, {}},
    {"VideotexString", "OCTET STRING", kImplicitUniversal, 21, {}, {}},
    {"IA5String", "OCTET STRING", kImplicitUniversal, 22, {}, {}},
    {"UTCTime", "VisibleString", kImplicitUniversal, 23, {}, {}},
    {"GeneralizedTime", "VisibleString", kImplicitUniversal, 24, {}, {}},
    {"GraphicString", "OCTET STRING", kImplicitUniversal, 25, {}, {}},
    {"VisibleString", "OCTET STRING", kImplicitUniversal, 26, {}, {}},
    {"ISO646String", "VisibleString", 0, 0, {}, {}},
    {"GeneralString", "OCTET STRING", kImplicitUniversal, 27, {}, {}},
    {"TUL.String", "PrintableString", 0, 0, {}, {}},
    {"TUL.Text", "PrintableString", 0, 0, {}, {}},
    {"TUL.Unitialized", "PrintableString", 0, 0, {}, {}},
    {"BER-String", "OCTET STRING", 0, 0, {}, {}},
    {"TUL.ErrorType", "PrintableString", 0, 0, {}, {}},
    {"TUL.AllocationError", "TUL.ErrorType", 0, 0, {}, {}},
    {"TUL.Asn1", "SEQUENCE", 0, 0, kAsn1, {}},
    {"TUL.Enum", "SEQUENCE", 0, 0, kEnum, {}},
    {"TUL.Enums", "SEQUENCE OF", 0, 0, kEnumElement, {}},
    {"TUL.Field", "SEQUENCE", 0, 0, kField, {}},
    {"TUL.Fields", "SEQUENCE OF", 0, 0, kFieldElement, {}},
    {"TUL.TagClass", "ENUMERATED", 0, 0, {}, kTagClasses},
    {"TUL.TagModifier", "ENUMERATED", 0, 0, {}, kTagModifiers},
};
static_assert(std::size(kBuiltinTypes) == 43);

// The only built-in rows that are not standard types are the library's own
// ("TUL." names).
bool is_builtin_row(const TypeRow& row) { return std::strncmp(row.name, "TUL.", 4) != 0; }

}  // namespace

void add_type_row(TUL_Metadata* dtd, const TypeRow& row, bool is_builtin) {
  constexpr size_t kMaxMembers = 10, kMaxEnums = 4;
  TUL_Asn1Type members[kMaxMembers] = {};
  TUL_EnumList enum_lists[kMaxMembers + 1][kMaxEnums] = {};
  auto fill_enums = [](std::span<const EnumRow> rows, TUL_EnumList* out) {
    for (size_t i = 0; i < rows.size(); ++i) out[i] = {const_cast<char*>(rows[i].name), rows[i].val};
  };
  for (size_t i = 0; i < row.members.size(); ++i) {
    const MemberRow& m = row.members[i];
    fill_enums(m.enums, enum_lists[i]);
    members[i] = {const_cast<char*>(m.name), m.tag_flag, m.tag_val, const_cast<char*>(m.type),
                  static_cast<int32_t>(m.enums.size()), m.enums.empty() ? nullptr : enum_lists[i],
                  m.opt_def, nullptr};
  }
  fill_enums(row.enums, enum_lists[kMaxMembers]);
  TUL_Asn1TypeEntry e{};
  e.name = const_cast<char*>(row.name);
  e.entry_type = TUL_ENTRY_ASN1;
  e.is_builtin = is_builtin;
  e.tag_flag = row.tag_flag;
  e.tag_val = row.tag_val;
  e.type = const_cast<char*>(row.base);
  e.size = static_cast<int32_t>(row.members.size());
  e.members = row.members.empty() ? nullptr : members;
  e.enums = static_cast<int32_t>(row.enums.size());
  e.enum_list = row.enums.empty() ? nullptr : enum_lists[kMaxMembers];
  _TUL_add_definition(dtd, reinterpret_cast<TUL_Entry*>(&e), nullptr);
}

namespace {



/* ------------------------------------------------------------------------
 * Insertion
 * ---------------------------------------------------------------------- */

// Interns a possibly null name; false only on memory shortage.
bool intern(char*& name) {
  if (!name) return true;
  name = TUL_unique_string(name);
  return name != nullptr;
}

// Copies `count` named values with interned labels; null list for 0.
bool copy_enums(int32_t count, TUL_EnumList*& list) {
  if (count <= 0 || !list) {
    list = nullptr;
    return true;
  }
  auto* copy = mem::alloc_array<TUL_EnumList>(count);
  if (!copy) return false;
  for (int32_t i = 0; i < count; ++i) {
    copy[i] = list[i];
    if (!intern(copy[i].name)) {
      mem::free(copy);
      return false;
    }
  }
  list = copy;
  return true;
}

void free_members(TUL_Asn1Type* members, int32_t size) {
  if (!members) return;
  for (int32_t i = 0; i < size; ++i)
    mem::free(members[i].enum_list);
  mem::free(members);
}

void free_type_entry(TUL_Asn1TypeEntry* e) {
  free_members(e->members, e->size);
  mem::free(e->enum_list);
  if (e->is_allocated) mem::free(e->behavior);
  free_type_cache(e);
  mem::free(e);
}

// Copies the member array with every name interned; null array for none.
bool copy_members(TUL_Asn1TypeEntry* e) {
  if (e->size <= 0 || !e->members) {
    e->size = 0;
    e->members = nullptr;
    return true;
  }
  auto* copy = mem::zalloc_array<TUL_Asn1Type>(e->size);
  if (!copy) return false;
  for (int32_t i = 0; i < e->size; ++i) {
    copy[i] = e->members[i];
    copy[i].enum_list = nullptr;
    TUL_EnumList* enums = e->members[i].enum_list;
    if (!intern(copy[i].name) || !intern(copy[i].type) || !intern(copy[i].anydefbyId) ||
        !copy_enums(copy[i].enums, enums)) {
      copy[i].enums = 0;
      free_members(copy, i + 1);
      return false;
    }
    copy[i].enum_list = enums;
    if (!enums) copy[i].enums = 0;
  }
  e->members = copy;
  return true;
}

// The duplicate check runs on the record's key as given: a key that is not
// yet interned cannot be found, and lookups keep answering with the first
// entry of a name anyway.
Added add_type(TUL_Metadata* dtd, TUL_Asn1TypeEntry* def, TUL_Object* obj) {
  if (!def->name) return Added::kIgnored;
  TUL_Entry key{};
  key.name = def->name;
  if (TULH_assoc_entry(dtd->asn1_types, &key)) return Added::kIgnored;  // the first definition wins
  if (def->name == def->type) return Added::kUnusable;
  auto* e = mem::alloc_array<TUL_Asn1TypeEntry>(1);
  if (!e) return Added::kNoMemory;
  *e = *def;
  e->final_def = nullptr;
  e->has_explicit = 1;
  e->obj = nullptr;
  e->cache = nullptr;
  e->is_allocated = 0;
  TUL_EnumList* enums = def->enum_list;
  if (!intern(e->name) || !intern(e->type) || !copy_enums(e->enums, enums)) {
    mem::free(e);
    return Added::kNoMemory;
  }
  e->enum_list = enums;
  if (!enums) e->enums = 0;
  if (!copy_members(e)) {
    mem::free(e->enum_list);
    mem::free(e);
    return Added::kNoMemory;
  }
  e->obj = obj ? TUL_copy(obj) : nullptr;
  if (!TULH_add_entry(dtd->asn1_types, e)) {
    TUL_free(e->obj);
    free_type_entry(e);
    return Added::kNoMemory;
  }
  types_changed();
  return Added::kEntered;
}

void free_template(TUL_Entry* e) {
  if (e->entry_type == TUL_ENTRY_NOTIFICATION) {
    auto* n = reinterpret_cast<TUL_NotificationEntry*>(e);
    for (int32_t i = 0; i < n->size && n->ids; ++i) TUL_free(n->ids[i].oid);
    mem::free(n->ids);
  }
  mem::free(e);
}

// Notification ids: field names and attribute labels interned, oids empty.
// The record owns either the copy or nothing (no ids) afterwards.
bool copy_ids(TUL_NotificationEntry* n, const TUL_AndAttributeId* source) {
  int32_t size = n->size;
  n->ids = nullptr;
  n->size = 0;
  if (size <= 0 || !source) return true;
  auto* copy = mem::alloc_array<TUL_AndAttributeId>(size);
  if (!copy) return false;
  for (int32_t i = 0; i < size; ++i) {
    copy[i] = {source[i].field_name, source[i].attribute, nullptr};
    if (!intern(copy[i].field_name) || !intern(copy[i].attribute)) {
      mem::free(copy);
      return false;
    }
  }
  n->ids = copy;
  n->size = size;
  return true;
}

Added add_template(TUL_Metadata* dtd, TUL_Entry* def, TUL_Object* obj) {
  const TemplateKind& kind = *template_kind(def->entry_type);
  TULH_HT* table = dtd->*kind.table;
  if (TULH_assoc_entry(table, def)) return Added::kIgnored;  // the first definition of a label wins
  auto* e = static_cast<TUL_Entry*>(mem::alloc(kind.record_size));
  if (!e) return Added::kNoMemory;
  std::memcpy(e, def, kind.record_size);
  entry_obj(e) = nullptr;
  // The copy must never own the caller's id array, whatever fails below.
  bool ok = e->entry_type != TUL_ENTRY_NOTIFICATION ||
            copy_ids(reinterpret_cast<TUL_NotificationEntry*>(e), reinterpret_cast<TUL_NotificationEntry*>(def)->ids);
  ok = ok && intern(e->name) && intern(string_field(e, offsetof(TUL_AttributeEntry, label)));
  for (const FieldSource& source : kind.sources)
    if (source.offset && ok) ok = intern(string_field(e, source.offset));
  if (!kind.has_registration) e->name = nullptr;
  if (ok) entry_obj(e) = obj ? TUL_copy(obj) : nullptr;
  if (!ok || !TULH_add_entry(table, e)) {
    TUL_free(entry_obj(e));
    free_template(e);
    return Added::kNoMemory;
  }
  return Added::kEntered;
}

/* ------------------------------------------------------------------------
 * Creation and release
 * ---------------------------------------------------------------------- */

struct TableRow {
  TULH_HT* TUL_Metadata::*table;
  TULH_HashFunction hash;
  TULH_EqualFunction equal;
};

constexpr TableRow kTables[] = {
    {&TUL_Metadata::asn1_types, entry_hash, entry_equal},
    {&TUL_Metadata::attributes, label_hash, label_equal},
    {&TUL_Metadata::notifications, label_hash, label_equal},
    {&TUL_Metadata::parameters, label_hash, label_equal},
    {&TUL_Metadata::actions, label_hash, label_equal},
    {&TUL_Metadata::mocs, label_hash, label_equal},
    {&TUL_Metadata::packages, label_hash, label_equal},
    {&TUL_Metadata::name_bindings, label_hash, label_equal},
    {&TUL_Metadata::attribute_groups, label_hash, label_equal},
    {&TUL_Metadata::behaviors, label_hash, label_equal},
    {&TUL_Metadata::registrations, registration_hash, registration_equal},
    {&TUL_Metadata::gdmo_templates, label_hash, label_equal},
};
static_assert(std::size(kTables) == 12);

struct BehaviorRow {
  TUL_Behavior TUL_Metadata::*copy;
  const TUL_Behavior* process_table;
};

// In the dictionary's field order.
const BehaviorRow kBehaviors[] = {
    {&TUL_Metadata::boolean_behavior, &TUL_boolean_behavior},
    {&TUL_Metadata::integer_behavior, &TUL_integer_behavior},
    {&TUL_Metadata::bitstring_behavior, &TUL_bitstring_behavior},
    {&TUL_Metadata::octet_behavior, &TUL_octet_behavior},
    {&TUL_Metadata::printable_behavior, &TUL_printable_behavior},
    {&TUL_Metadata::null_behavior, &TUL_null_behavior},
    {&TUL_Metadata::oid_behavior, &TUL_oid_behavior},
    {&TUL_Metadata::real_behavior, &TUL_real_behavior},
    {&TUL_Metadata::enum_behavior, &TUL_enum_behavior},
    {&TUL_Metadata::choice_behavior, &TUL_choice_behavior},
    {&TUL_Metadata::sequence_behavior, &TUL_sequence_behavior},
    {&TUL_Metadata::sequenceof_behavior, &TUL_sequenceof_behavior},
    {&TUL_Metadata::set_behavior, &TUL_set_behavior},
    {&TUL_Metadata::setof_behavior, &TUL_setof_behavior},
};

struct BindingRow {
  const char* type;
  TUL_Behavior TUL_Metadata::*table;
};

// Types bound by name at creation, in this order; every other type inherits.
constexpr BindingRow kBindings[] = {
    {"BOOLEAN", &TUL_Metadata::boolean_behavior},
    {"INTEGER", &TUL_Metadata::integer_behavior},
    {"BIT STRING", &TUL_Metadata::bitstring_behavior},
    {"OCTET STRING", &TUL_Metadata::octet_behavior},
    {"NULL", &TUL_Metadata::null_behavior},
    {"OBJECT IDENTIFIER", &TUL_Metadata::oid_behavior},
    {"REAL", &TUL_Metadata::real_behavior},
    {"ENUMERATED", &TUL_Metadata::enum_behavior},
    {"SEQUENCE", &TUL_Metadata::sequence_behavior},
    {"SEQUENCE OF", &TUL_Metadata::sequenceof_behavior},
    {"SET", &TUL_Metadata::set_behavior},
    {"SET OF", &TUL_Metadata::setof_behavior},
    {"CHOICE", &TUL_Metadata::choice_behavior},
    {"NumericString", &TUL_Metadata::printable_behavior},
    {"T61String", &TUL_Metadata::printable_behavior},
    {"VideotexString", &TUL_Metadata::printable_behavior},
    {"IA5String", &TUL_Metadata::printable_behavior},
    {"GraphicString", &TUL_Metadata::printable_behavior},
    {"VisibleString", &TUL_Metadata::printable_behavior},
    {"GeneralString", &TUL_Metadata::printable_behavior},
};

// The singletons' behaviours: they are never freed or copied by containers.
void singleton_free(TUL_Object*) {}
TUL_Object* singleton_copy(TUL_Object* obj) { return obj; }

void text_print(TUL_Object*, TULP_PrintContext* ctx) { ctx->prints("\"text ... suppressed\"", ctx->ptr); }

// Made before its do-nothing "free" is registered, so that a failed init
// still releases the half-built value; a singleton whose registration failed
// is no singleton and fails the dictionary.
TUL_Object* make_singleton(TUL_Metadata* dtd, const char* type, const char* text) {
  TUL_Object* obj = TUL_new(type, dtd, -1, text);
  if (!obj || obj->error) {
    if (obj != dtd->alloc_error) TUL_free(obj);
    return nullptr;
  }
  TUL_register(dtd, type, "free", reinterpret_cast<void*>(singleton_free));
  TUL_register(dtd, type, "copy", reinterpret_cast<void*>(singleton_copy));
  if (TUL_retrieve_action(dtd, type, "free") != reinterpret_cast<void*>(singleton_free) ||
      TUL_retrieve_action(dtd, type, "copy") != reinterpret_cast<void*>(singleton_copy)) {
    mem::free(TUL_consume_str(obj));
    mem::free(obj);
    return nullptr;
  }
  return obj;
}

void free_table_values(TULH_HT* table) {
  TULH_for_each(table, [](void* value, void*) { TUL_free(static_cast<TUL_Object*>(value)); }, nullptr);
}

void free_templates(TULH_HT* table) {
  TULH_for_each(
      table,
      [](void* entry, void*) {
        auto* e = static_cast<TUL_Entry*>(entry);
        TUL_free(entry_obj(e));
        free_template(e);
      },
      nullptr);
}

// The singletons' "free" does nothing; their text goes while their type
// entry still exists, their block after the entries are gone.
void release_singleton_text(TUL_Object* obj) {
  if (obj) mem::free(TUL_consume_str(obj));
}

}  // namespace

Added add_definition(TUL_Metadata* dtd, TUL_Entry* def, TUL_Object* obj) {
  if (!dtd || !def) return Added::kIgnored;
  def->dtd = dtd;
  if (def->entry_type < 0 || def->entry_type > kTemplateKinds) return Added::kIgnored;
  return def->entry_type == TUL_ENTRY_ASN1 ? add_type(dtd, reinterpret_cast<TUL_Asn1TypeEntry*>(def), obj)
                                           : add_template(dtd, def, obj);
}

}  // namespace tul::dict

extern "C" {

TUL_API void _TUL_add_definition(TUL_Metadata* dtd, TUL_Entry* def, TUL_Object* obj) {
  if (tul::dict::add_definition(dtd, def, obj) == tul::dict::Added::kNoMemory) TUL_trace_error(TUL_ERR_MEMORY);
}

TUL_API TUL_Metadata* TUL_new_Metadata(void) {
  using namespace tul::dict;
  auto* dtd = static_cast<TUL_Metadata*>(tul::mem::zalloc(sizeof(TUL_Metadata)));
  if (!dtd) return nullptr;
  bool ok = tul::hash::ensure_strings();
  for (const TableRow& row : kTables)
    if (ok && !(dtd->*row.table = TULH_new(row.hash, row.equal))) ok = false;
  if (!ok) {
    for (const TableRow& row : kTables) TULH_free(dtd->*row.table);
    tul::mem::free(dtd);
    return nullptr;
  }
  for (const BehaviorRow& row : kBehaviors) dtd->*row.copy = *row.process_table;
  for (const TypeRow& row : kBuiltinTypes) add_type_row(dtd, row, is_builtin_row(row));
  for (const BindingRow& row : kBindings) TUL_set_method_table(dtd, row.type, &(dtd->*row.table));
  dtd->tmp_object = make_singleton(dtd, "TUL.Unitialized", "!!! object is not initialized yet !!!");
  TUL_register(dtd, "BER-String", "decode", reinterpret_cast<void*>(tul::ber_string_behavior.decode));
  TUL_register(dtd, "BER-String", "encode", reinterpret_cast<void*>(tul::ber_string_behavior.encode));
  TUL_register(dtd, "BER-String", "print", reinterpret_cast<void*>(tul::ber_string_behavior.print));
  dtd->alloc_error = make_singleton(dtd, "TUL.AllocationError", "!!! memory allocation error !!!");
  if (dtd->alloc_error) dtd->alloc_error->error = TUL_ERR_MEMORY;
  TUL_register(dtd, "TUL.Text", "print", reinterpret_cast<void*>(text_print));
  if (!dtd->tmp_object || !dtd->alloc_error) {
    TUL_free_Metadata(dtd);
    return nullptr;
  }
  load_meta_schema(dtd);
  return dtd;
}

TUL_API void TUL_free_Metadata(TUL_Metadata* dtd) {
  using namespace tul::dict;
  if (!dtd) return;
  release_singleton_text(dtd->tmp_object);
  release_singleton_text(dtd->alloc_error);
  free_table_values(dtd->registrations);
  for (const TemplateKind& kind : kKinds) free_templates(dtd->*kind.table);
  // Describing values first: their behaviour tables may live in the entries.
  TULH_for_each(
      dtd->asn1_types,
      [](void* e, void*) {
        auto* entry = static_cast<TUL_Asn1TypeEntry*>(e);
        TUL_free(entry->obj);
        entry->obj = nullptr;
      },
      nullptr);
  TULH_for_each(dtd->asn1_types, [](void* e, void*) { free_type_entry(static_cast<TUL_Asn1TypeEntry*>(e)); },
                nullptr);
  tul::mem::free(dtd->tmp_object);
  tul::mem::free(dtd->alloc_error);
  for (const TableRow& row : kTables) TULH_free(dtd->*row.table);
  std::memset(dtd, 0, sizeof *dtd);
  tul::mem::free(dtd);
}

}  // extern "C"
