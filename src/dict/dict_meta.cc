// The meta-schema: definitions as values of the library's own "TUL." types.
// Values become entry records (TUL_add_definition) and entries become values
// again on demand (the builders, cached in each entry's `obj`). The
// meta-schema itself is held as constant rows rather than text, so a new
// dictionary costs no parsing.
#include <cstring>
#include <utility>

#include "dict.h"
#include "dtd.h"
#include "hash.h"
#include "mem.h"

namespace tul::dict {
namespace {

/* ------------------------------------------------------------------------
 * The meta-schema types not already among the built-in rows
 * ---------------------------------------------------------------------- */

constexpr int32_t X = kExplicitContext;
constexpr int32_t M = TUL_MANDATORY, O = TUL_OPTIONAL, D = TUL_DEFAULT;

#define TUL_ELEMENT_OF(name, element) \
  constexpr MemberRow name[] = {{nullptr, 0, 0, element, M, {}}}

constexpr MemberRow kAction[] = {
    {"registration", 0, 0, "TUL.String", M, {}},     {"label", 0, 0, "TUL.String", M, {}},
    {"behavior", X, 0, "TUL.TemplateLabels", O, {}}, {"confirmed", X, 1, "BOOLEAN", D, {}},
    {"parameters", X, 2, "TUL.TemplateLabels", O, {}}, {"informationSyntax", X, 3, "TUL.String", O, {}},
    {"replySyntax", X, 4, "TUL.String", O, {}},
};
TUL_ELEMENT_OF(kActions, "TUL.Action");
constexpr MemberRow kLabelWithParameters[] = {
    {"label", 0, 0, "TUL.String", M, {}},
    {"parameters", 0, 0, "TUL.TemplateLabels", O, {}},
};
TUL_ELEMENT_OF(kActionsInPackageList, "TUL.ActionsInPackage");
constexpr MemberRow kAndAttributeId[] = {
    {"field", 0, 0, "TUL.String", M, {}},
    {"attribute", 0, 0, "TUL.String", M, {}},
};
TUL_ELEMENT_OF(kAndAttributeIds, "TUL.AndAttributeId");
TUL_ELEMENT_OF(kAsn1Defs, "TUL.Asn1");
constexpr MemberRow kAttribute[] = {
    {"registration", X, 0, "TUL.String", O, {}},     {"label", 0, 0, "TUL.String", M, {}},
    {"derivedOrSyntax", 0, 0, "TUL.DerivedOrSyntax", M, {}}, {"matchesFor", X, 1, "TUL.MatchesFor", O, {}},
    {"behavior", X, 2, "TUL.TemplateLabels", O, {}}, {"parameters", X, 3, "TUL.TemplateLabels", O, {}},
};
constexpr MemberRow kAttributeGroup[] = {
    {"registration", 0, 0, "TUL.String", M, {}},          {"label", 0, 0, "TUL.String", M, {}},
    {"groupElements", 0, 0, "TUL.TemplateLabels", O, {}}, {"fixed", 0, 0, "BOOLEAN", D, {}},
    {"description", 0, 0, "TUL.Text", O, {}},
};
TUL_ELEMENT_OF(kAttributeGroups, "TUL.AttributeGroup");
constexpr MemberRow kAttributeGroupsInPackage[] = {
    {"label", 0, 0, "TUL.String", M, {}},
    {"attributes", 0, 0, "TUL.TemplateLabels", O, {}},
};
TUL_ELEMENT_OF(kAttributeGroupsInPackageList, "TUL.AttributeGroupsInPackage");
constexpr MemberRow kAttributeInPackage[] = {
    {"label", 0, 0, "TUL.String", M, {}},
    {"propertyList", 0, 0, "TUL.PropertyList", M, {}},
    {"parameters", 0, 0, "TUL.TemplateLabels", O, {}},
};
TUL_ELEMENT_OF(kAttributeInPackageList, "TUL.AttributeInPackage");
TUL_ELEMENT_OF(kAttributes, "TUL.Attribute");
constexpr MemberRow kBehavior[] = {
    {"label", 0, 0, "TUL.String", M, {}},
    {"definedAs", 0, 0, "TUL.Text", M, {}},
};
TUL_ELEMENT_OF(kBehaviors, "TUL.Behavior");
constexpr MemberRow kClassReference[] = {
    {"label", 0, 0, "TUL.String", M, {}},
    {"andSubclasses", 0, 0, "BOOLEAN", D, {}},
};
constexpr MemberRow kConditionalPackage[] = {
    {"label", 0, 0, "TUL.String", M, {}},
    {"presentIf", 0, 0, "TUL.Text", M, {}},
};
TUL_ELEMENT_OF(kConditionalPackages, "TUL.ConditionalPackage");
constexpr MemberRow kContextKeyword[] = {
    {"type", 0, 0, "TUL.String", M, {}},
    {"field", 0, 0, "TUL.String", M, {}},
};
constexpr MemberRow kContextType[] = {
    {"keyword", 0, 0, "TUL.ContextKeyword", M, {}}, {"actionInfo", 0, 0, "NULL", M, {}},
    {"actionReply", X, 0, "NULL", M, {}},           {"eventInfo", X, 1, "NULL", M, {}},
    {"eventReply", X, 2, "NULL", M, {}},            {"specificError", X, 3, "NULL", M, {}},
};
constexpr MemberRow kCreateType[] = {
    {"withReferenceObject", X, 0, "BOOLEAN", D, {}},
    {"withAutomaticInstanceNaming", X, 1, "BOOLEAN", D, {}},
    {"parameters", 0, 0, "TUL.TemplateLabels", O, {}},
};
constexpr EnumRow kDeleteModifier[] = {{"onlyIfNoContainedObjects", 0}, {"deletesContainedObjects", 1}};
constexpr MemberRow kDeleteType[] = {
    {"modifier", 0, 0, "TUL.DeleteModifier", O, {}},
    {"parameters", 0, 0, "TUL.TemplateLabels", O, {}},
};
constexpr MemberRow kDerivedOrSyntax[] = {
    {"derivedFrom", X, 0, "TUL.String", M, {}},
    {"syntax", X, 1, "TUL.String", M, {}},
};
constexpr MemberRow kInformation[] = {
    {"syntax", 0, 0, "TUL.String", M, {}},
    {"andAttributeIds", 0, 0, "TUL.AndAttributeIds", O, {}},
};
constexpr MemberRow kMOC[] = {
    {"registration", 0, 0, "TUL.String", M, {}},
    {"label", 0, 0, "TUL.String", M, {}},
    {"derivedFrom", X, 0, "TUL.TemplateLabels", O, {}},
    {"characterizedBy", X, 1, "TUL.TemplateLabels", O, {}},
    {"conditional", X, 2, "TUL.ConditionalPackages", O, {}},
};
TUL_ELEMENT_OF(kMOCs, "TUL.MOC");
constexpr MemberRow kMatchesFor[] = {
    {"equality", X, 0, "BOOLEAN", D, {}},      {"ordering", X, 1, "BOOLEAN", D, {}},
    {"substrings", X, 2, "BOOLEAN", D, {}},    {"setComparison", X, 3, "BOOLEAN", D, {}},
    {"setIntersection", X, 4, "BOOLEAN", D, {}},
};
constexpr MemberRow kMetadata[] = {
    {"asn1Defs", X, 0, "TUL.Asn1Defs", O, {}},
    {"mocs", X, 1, "TUL.MOCs", O, {}},
    {"packages", X, 2, "TUL.Packages", O, {}},
    {"parameters", X, 3, "TUL.Parameters", O, {}},
    {"nameBindings", X, 4, "TUL.NameBindings", O, {}},
    {"attributes", X, 5, "TUL.Attributes", O, {}},
    {"attributeGroups", X, 6, "TUL.AttributeGroups", O, {}},
    {"behaviors", X, 7, "TUL.Behaviors", O, {}},
    {"actions", X, 8, "TUL.Actions", O, {}},
    {"notifications", X, 9, "TUL.Notifications", O, {}},
};
constexpr MemberRow kNameBinding[] = {
    {"registration", 0, 0, "TUL.String", M, {}},       {"label", 0, 0, "TUL.String", M, {}},
    {"subordinate", X, 0, "TUL.ClassReference", O, {}}, {"superior", X, 1, "TUL.ClassReference", O, {}},
    {"withAttribute", 0, 0, "TUL.String", O, {}},      {"behavior", X, 2, "TUL.TemplateLabels", O, {}},
    {"create", X, 3, "TUL.CreateType", O, {}},         {"delete", X, 4, "TUL.DeleteType", O, {}},
};
TUL_ELEMENT_OF(kNameBindings, "TUL.NameBinding");
constexpr MemberRow kNotification[] = {
    {"registration", 0, 0, "TUL.String", M, {}},       {"label", 0, 0, "TUL.String", M, {}},
    {"behavior", X, 0, "TUL.TemplateLabels", O, {}},   {"parameters", X, 1, "TUL.TemplateLabels", O, {}},
    {"information", 0, 0, "TUL.Information", O, {}},   {"replySyntax", 0, 0, "TUL.String", O, {}},
};
TUL_ELEMENT_OF(kNotifications, "TUL.Notification");
TUL_ELEMENT_OF(kNotificationsInPackageList, "TUL.NotificationsInPackage");
constexpr MemberRow kPackage[] = {
    {"registration", X, 0, "TUL.String", O, {}},
    {"label", 0, 0, "TUL.String", M, {}},
    {"behavior", X, 1, "TUL.TemplateLabels", O, {}},
    {"attributes", X, 2, "TUL.AttributeInPackageList", O, {}},
    {"attributeGroups", X, 3, "TUL.AttributeGroupsInPackageList", O, {}},
    {"actions", X, 4, "TUL.ActionsInPackageList", O, {}},
    {"notifications", X, 5, "TUL.NotificationsInPackageList", O, {}},
};
TUL_ELEMENT_OF(kPackages, "TUL.Package");
constexpr MemberRow kParameter[] = {
    {"registration", X, 0, "TUL.String", O, {}},
    {"label", 0, 0, "TUL.String", M, {}},
    {"context", 0, 0, "TUL.ContextType", O, {}},
    {"syntaxOrAttribute", 0, 0, "TUL.SyntaxOrAttribute", M, {}},
    {"behavior", 0, 0, "TUL.TemplateLabels", O, {}},
};
TUL_ELEMENT_OF(kParameters, "TUL.Parameter");
constexpr EnumRow kGetReplace[] = {{"get", 0}, {"replace", 1}, {"getReplace", 2}};
constexpr EnumRow kAddRemove[] = {{"add", 0}, {"remove", 1}, {"addRemove", 2}};
constexpr MemberRow kPropertyList[] = {
    {"replaceWithDefault", X, 0, "BOOLEAN", D, {}},
    {"defaultValue", X, 1, "TUL.ValueSpecifier", O, {}},
    {"initialValue", X, 2, "TUL.ValueSpecifier", O, {}},
    {"permittedValues", X, 3, "TUL.String", O, {}},
    {"requiredValues", X, 4, "TUL.String", O, {}},
    {"getReplace", X, 5, "ENUMERATED", O, kGetReplace},
    {"addRemove", X, 6, "ENUMERATED", O, kAddRemove},
};
constexpr MemberRow kSyntaxOrAttribute[] = {
    {"withSyntax", 0, 0, "TUL.String", M, {}},
    {"attribute", X, 0, "TUL.String", M, {}},
};
TUL_ELEMENT_OF(kTemplateLabels, "TUL.String");
constexpr MemberRow kValueSpecifier[] = {
    {"valueReference", X, 0, "TUL.String", M, {}},
    {"derivationRule", X, 1, "TUL.String", M, {}},
};

#undef TUL_ELEMENT_OF

constexpr TypeRow kMetaSchema[] = {
    {"TUL.Action", "SEQUENCE", 0, 0, kAction, {}},
    {"TUL.Actions", "SET OF", 0, 0, kActions, {}},
    {"TUL.ActionsInPackage", "SEQUENCE", 0, 0, kLabelWithParameters, {}},
    {"TUL.ActionsInPackageList", "SET OF", 0, 0, kActionsInPackageList, {}},
    {"TUL.AndAttributeId", "SEQUENCE", 0, 0, kAndAttributeId, {}},
    {"TUL.AndAttributeIds", "SET OF", 0, 0, kAndAttributeIds, {}},
    {"TUL.Asn1Defs", "SET OF", 0, 0, kAsn1Defs, {}},
    {"TUL.Attribute", "SEQUENCE", 0, 0, kAttribute, {}},
    {"TUL.AttributeGroup", "SEQUENCE", 0, 0, kAttributeGroup, {}},
    {"TUL.AttributeGroups", "SET OF", 0, 0, kAttributeGroups, {}},
    {"TUL.AttributeGroupsInPackage", "SEQUENCE", 0, 0, kAttributeGroupsInPackage, {}},
    {"TUL.AttributeGroupsInPackageList", "SET OF", 0, 0, kAttributeGroupsInPackageList, {}},
    {"TUL.AttributeInPackage", "SEQUENCE", 0, 0, kAttributeInPackage, {}},
    {"TUL.AttributeInPackageList", "SET OF", 0, 0, kAttributeInPackageList, {}},
    {"TUL.Attributes", "SET OF", 0, 0, kAttributes, {}},
    {"TUL.Behavior", "SEQUENCE", 0, 0, kBehavior, {}},
    {"TUL.Behaviors", "SET OF", 0, 0, kBehaviors, {}},
    {"TUL.ClassReference", "SEQUENCE", 0, 0, kClassReference, {}},
    {"TUL.ConditionalPackage", "SEQUENCE", 0, 0, kConditionalPackage, {}},
    {"TUL.ConditionalPackages", "SET OF", 0, 0, kConditionalPackages, {}},
    {"TUL.ContextKeyword", "SEQUENCE", 0, 0, kContextKeyword, {}},
    {"TUL.ContextType", "CHOICE", 0, 0, kContextType, {}},
    {"TUL.CreateType", "SEQUENCE", 0, 0, kCreateType, {}},
    {"TUL.DeleteModifier", "ENUMERATED", 0, 0, {}, kDeleteModifier},
    {"TUL.DeleteType", "SEQUENCE", 0, 0, kDeleteType, {}},
    {"TUL.DerivedOrSyntax", "CHOICE", 0, 0, kDerivedOrSyntax, {}},
    {"TUL.Information", "SEQUENCE", 0, 0, kInformation, {}},
    {"TUL.MOC", "SEQUENCE", 0, 0, kMOC, {}},
    {"TUL.MOCs", "SET OF", 0, 0, kMOCs, {}},
    {"TUL.MatchesFor", "SET", 0, 0, kMatchesFor, {}},
    {"TUL.Metadata", "SET", 0, 0, kMetadata, {}},
    {"TUL.NameBinding", "SEQUENCE", 0, 0, kNameBinding, {}},
    {"TUL.NameBindings", "SET OF", 0, 0, kNameBindings, {}},
    {"TUL.Notification", "SEQUENCE", 0, 0, kNotification, {}},
    {"TUL.Notifications", "SET OF", 0, 0, kNotifications, {}},
    {"TUL.NotificationsInPackage", "SEQUENCE", 0, 0, kLabelWithParameters, {}},
    {"TUL.NotificationsInPackageList", "SET OF", 0, 0, kNotificationsInPackageList, {}},
    {"TUL.Package", "SEQUENCE", 0, 0, kPackage, {}},
    {"TUL.Packages", "SET OF", 0, 0, kPackages, {}},
    {"TUL.Parameter", "SEQUENCE", 0, 0, kParameter, {}},
    {"TUL.Parameters", "SET OF", 0, 0, kParameters, {}},
    {"TUL.PropertyList", "SEQUENCE", 0, 0, kPropertyList, {}},
    {"TUL.SyntaxOrAttribute", "CHOICE", 0, 0, kSyntaxOrAttribute, {}},
    {"TUL.TemplateLabels", "SET OF", 0, 0, kTemplateLabels, {}},
    {"TUL.ValueSpecifier", "CHOICE", 0, 0, kValueSpecifier, {}},
};
static_assert(std::size(kMetaSchema) == 45);

/* ------------------------------------------------------------------------
 * Reading meta-schema values
 * ---------------------------------------------------------------------- */

// The value of a member, or null when absent, when the value is no
// structure or its type lacks the member: definitions are probed for
// optional parts, so a miss is no error.
TUL_Object* member(TUL_Object* seq, const char* name) {
  if (!seq || !(TUL_object_basic_type(seq) & (TUL_SEQUENCE_TYPE | TUL_SET_TYPE))) return nullptr;
  int i = tul::find_member(_TUL_object_info(seq, 1), TUL_unique_string(name));
  if (i < 0) return nullptr;
  TUL_Object* v = reinterpret_cast<TUL_Structure*>(seq)->member[i];
  return v == tul_dtd(seq)->tmp_object ? nullptr : v;
}

// The elements of a SEQUENCE OF or SET OF value; empty for anything else.
std::span<TUL_Object*> elements(TUL_Object* list) {
  if (!list || !(TUL_object_basic_type(list) & (TUL_SEQUENCEOF_TYPE | TUL_SETOF_TYPE))) return {};
  TULC_Collection& c = reinterpret_cast<TUL_List*>(list)->list;
  return {reinterpret_cast<TUL_Object**>(c.items), static_cast<size_t>(c.count)};
}

// Texts that could not be interned for a memory shortage. The readers
// below compare it before and after reading a value, so that a text lost to
// a shortage is never taken for an absent member.
unsigned interning_failures = 0;

char* interned_text(TUL_Object* value) {
  if (!value || !(TUL_object_basic_type(value) & TUL_OCTETSTRING_TYPE)) return nullptr;
  char* text = TUL_read_str(value);
  if (!text) return nullptr;
  char* interned = TUL_unique_string(text);
  if (!interned) ++interning_failures;
  return interned;
}

char* member_text(TUL_Object* seq, const char* name) { return interned_text(member(seq, name)); }

int32_t member_number(TUL_Object* seq, const char* name) {
  TUL_Object* v = member(seq, name);
  if (!v) return 0;
  int bits = TUL_object_basic_type(v);
  if (bits & TUL_INTEGER_TYPE) return static_cast<int32_t>(TUL_read_int(v));
  if (bits & TUL_ENUMERATED_TYPE) return static_cast<int32_t>(TUL_read_enum(v));
  return 0;
}

// A missing tagValue means no tag at all, whatever class and mode say; a
// missing class is context-specific and a missing mode EXPLICIT.
void read_tag(TUL_Object* v, int32_t& tag_flag, int32_t& tag_val) {
  tag_flag = tag_val = 0;
  if (!member(v, "tagValue")) return;
  tag_val = member_number(v, "tagValue");
  int32_t tag_class = member(v, "tagClass") ? member_number(v, "tagClass") & TUL_TAG_CLASS_MASK : TUL_TAG_CONTEXT;
  TUL_Object* modifier = member(v, "tagModifier");
  int32_t mode = modifier && member_number(v, "tagModifier") == 0 ? TUL_TAG_IMPLICIT : TUL_TAG_EXPLICIT;
  tag_flag = tag_class | mode;
}

// Named values of a "TUL.Enums" member; the caller frees the array.
bool read_enums(TUL_Object* v, int32_t& count, TUL_EnumList*& list) {
  std::span<TUL_Object*> items = elements(member(v, "enums"));
  count = 0;
  list = nullptr;
  if (items.empty()) return true;
  list = mem::zalloc_array<TUL_EnumList>(items.size());
  if (!list) return false;
  for (TUL_Object* item : items) list[count++] = {member_text(item, "label"), member_number(item, "value")};
  return true;
}

void free_record_members(TUL_Asn1TypeEntry& e) {
  for (int32_t i = 0; i < e.size && e.members; ++i) mem::free(e.members[i].enum_list);
  mem::free(e.members);
  mem::free(e.enum_list);
}

bool read_type(TUL_Object* v, TUL_Asn1TypeEntry& e) {
  e.entry_type = TUL_ENTRY_ASN1;
  e.name = member_text(v, "name");
  e.type = member_text(v, "type");
  read_tag(v, e.tag_flag, e.tag_val);
  std::span<TUL_Object*> fields = elements(member(v, "fields"));
  if (!fields.empty()) {
    e.members = mem::zalloc_array<TUL_Asn1Type>(fields.size());
    if (!e.members) return false;
    for (TUL_Object* f : fields) {
      TUL_Asn1Type& m = e.members[e.size++];
      m.name = member_text(f, "name");
      m.type = member_text(f, "type");
      read_tag(f, m.tag_flag, m.tag_val);
      m.anydefbyId = member_text(f, "anyDefinedById");
      m.opt_def = member_number(f, "existence");
      if (!read_enums(f, m.enums, m.enum_list)) return false;
    }
  }
  return read_enums(v, e.enums, e.enum_list);
}

char* source_text(TUL_Object* v, const FieldSource& source) {
  TUL_Object* value = member(v, source.member);
  if (source.inner) value = member(value, source.inner);
  if (source.choice_type && value && (TUL_object_basic_type(value) & TUL_CHOICE_TYPE))
    value = TUL_read_choice(value);
  return interned_text(value);
}

// Reads the label, registration and syntax fields of a template value into
// a zeroed record of the kind's size; notifications also get their ids.
bool read_template(TUL_Object* v, const TemplateKind& kind, TUL_Entry* e) {
  e->entry_type = kind.entry_type;
  e->name = member_text(v, "registration");
  string_field(e, offsetof(TUL_AttributeEntry, label)) = member_text(v, "label");
  for (const FieldSource& source : kind.sources)
    if (source.offset) string_field(e, source.offset) = source_text(v, source);
  if (kind.entry_type != TUL_ENTRY_NOTIFICATION) return true;
  auto* n = reinterpret_cast<TUL_NotificationEntry*>(e);
  std::span<TUL_Object*> ids = elements(member(member(v, "information"), "andAttributeIds"));
  if (ids.empty()) return true;
  n->ids = mem::zalloc_array<TUL_AndAttributeId>(ids.size());
  if (!n->ids) return false;
  for (TUL_Object* id : ids) n->ids[n->size++] = {member_text(id, "field"), member_text(id, "attribute"), nullptr};
  return true;
}

/* ------------------------------------------------------------------------
 * Building meta-schema values from entries
 * ---------------------------------------------------------------------- */

// Assigns a freshly made value to a member; releases it when that fails.
bool set(TUL_Object* seq, const char* name, TUL_Object* value) {
  if (!value || value->error) {
    if (value && value != tul_dtd(seq)->alloc_error) TUL_free(value);
    return false;
  }
  TUL_Object* previous = TUL_assign(seq, name, value);
  if (previous && previous->error) {
    TUL_free(previous);
    TUL_free(value);
    return false;
  }
  return true;
}

bool set_text(TUL_Object* seq, const char* name, const char* text) {
  return !text || set(seq, name, TUL_new("TUL.String", tul_dtd(seq), -1, text));
}

bool append(TUL_Object* list, TUL_Object* value) {
  if (!value || value->error) {
    if (value && value != tul_dtd(list)->alloc_error) TUL_free(value);
    return false;
  }
  TUL_Object* result = TUL_append(list, value);
  if (result != list) {
    if (result && result->error && result != tul_dtd(list)->alloc_error) TUL_free(result);
    TUL_free(value);
    return false;
  }
  return true;
}

// Owns a value under construction; releases it unless handed over.

bool build_tag(TUL_Object* v, int32_t tag_flag, int32_t tag_val) {
  if (!tag_flag) return true;
  TUL_Metadata* md = tul_dtd(v);
  int32_t tag_class = tag_flag & TUL_TAG_CLASS_MASK;
  if (tag_class != TUL_TAG_CONTEXT && !set(v, "tagClass", TUL_new("TUL.TagClass", md, tag_class))) return false;
  if (!set(v, "tagValue", TUL_new("INTEGER", md, tag_val))) return false;
  return !(tag_flag & TUL_TAG_IMPLICIT) || set(v, "tagModifier", TUL_new("TUL.TagModifier", md, 0));
}

bool build_enums(TUL_Object* v, int32_t count, const TUL_EnumList* list) {
  if (count <= 0 || !list) return true;
  TUL_Metadata* md = tul_dtd(v);
  ObjectGuard enums(TUL_alloc("TUL.Enums", md));
  if (!enums.get()) return false;
  for (int32_t i = 0; i < count; ++i) {
    ObjectGuard item(TUL_alloc("TUL.Enum", md));
    if (!item.get() || !set_text(item.get(), "label", list[i].name) ||
        !set(item.get(), "value", TUL_new("INTEGER", md, list[i].val)) || !append(enums.get(), item.release()))
      return false;
  }
  return set(v, "enums", enums.release());
}

bool build_field(TUL_Object* fields, const TUL_Asn1Type& m) {
  TUL_Metadata* md = tul_dtd(fields);
  ObjectGuard f(TUL_alloc("TUL.Field", md));
  bool ok = f.get() && set_text(f.get(), "name", m.name) && build_tag(f.get(), m.tag_flag, m.tag_val) &&
            set_text(f.get(), "type", m.type) && set_text(f.get(), "anyDefinedById", m.anydefbyId) &&
            (!m.opt_def || set(f.get(), "existence", TUL_new("ENUMERATED", md, m.opt_def))) &&
            build_enums(f.get(), m.enums, m.enum_list);
  return ok && append(fields, f.release());
}

TUL_Object* build_type(TUL_Asn1TypeEntry* e) {
  if (!e || !e->type) return nullptr;  // the roots describe nothing
  if (e->obj) return e->obj;
  ObjectGuard v(TUL_alloc("TUL.Asn1", e->dtd));
  if (!v.get() || !set_text(v.get(), "name", e->name) || !set_text(v.get(), "type", e->type) ||
      !build_tag(v.get(), e->tag_flag, e->tag_val))
    return nullptr;
  if (e->size > 0) {
    ObjectGuard fields(TUL_alloc("TUL.Fields", e->dtd));
    if (!fields.get()) return nullptr;
    for (int32_t i = 0; i < e->size; ++i)
      if (!build_field(fields.get(), e->members[i])) return nullptr;
    if (!set(v.get(), "fields", fields.release())) return nullptr;
  }
  if (!build_enums(v.get(), e->enums, e->enum_list)) return nullptr;
  return e->obj = v.release();
}

bool build_information(TUL_Object* v, TUL_NotificationEntry* n) {
  if (!n->info_syntax) return true;
  TUL_Metadata* md = tul_dtd(v);
  ObjectGuard info(TUL_alloc("TUL.Information", md));
  if (!info.get() || !set_text(info.get(), "syntax", n->info_syntax)) return false;
  if (n->size > 0 && n->ids) {
    ObjectGuard ids(TUL_alloc("TUL.AndAttributeIds", md));
    if (!ids.get()) return false;
    for (int32_t i = 0; i < n->size; ++i) {
      ObjectGuard id(TUL_alloc("TUL.AndAttributeId", md));
      if (!id.get() || !set_text(id.get(), "field", n->ids[i].field_name) ||
          !set_text(id.get(), "attribute", n->ids[i].attribute) || !append(ids.get(), id.release()))
        return false;
    }
    if (!set(info.get(), "andAttributeIds", ids.release())) return false;
  }
  return set(v, "information", info.release());
}

bool build_source(TUL_Object* v, TUL_Entry* e, const FieldSource& source) {
  char* text = string_field(e, source.offset);
  if (!text || source.inner) return true;  // information.syntax is built with the ids
  if (!source.choice_type) return set_text(v, source.member, text);
  TUL_Metadata* md = tul_dtd(v);
  TUL_Object* inner = TUL_new("TUL.String", md, -1, text);
  if (!inner || inner->error) return false;
  return set(v, source.member, TUL_new(source.choice_type, md, source.alternative, inner));
}

TUL_Object* build_template(TUL_Entry* e) {
  const TemplateKind* kind = template_kind(e->entry_type);
  if (!kind) return nullptr;
  TUL_Object*& cached = entry_obj(e);
  if (cached) return cached;
  ObjectGuard v(TUL_alloc_US(names().*kind->value_type, e->dtd));
  if (!v.get() || !set_text(v.get(), "registration", e->name) ||
      !set_text(v.get(), "label", string_field(e, offsetof(TUL_AttributeEntry, label))))
    return nullptr;
  for (const FieldSource& source : kind->sources)
    if (source.offset && !build_source(v.get(), e, source)) return nullptr;
  if (e->entry_type == TUL_ENTRY_NOTIFICATION &&
      !build_information(v.get(), reinterpret_cast<TUL_NotificationEntry*>(e)))
    return nullptr;
  return cached = v.release();
}

TUL_Object* build_any(TUL_Entry* e) {
  return e->entry_type == TUL_ENTRY_ASN1 ? build_type(reinterpret_cast<TUL_Asn1TypeEntry*>(e)) : build_template(e);
}

/* ------------------------------------------------------------------------
 * Entering definitions
 * ---------------------------------------------------------------------- */

// A tag the element reader could not read back would make every value of
// the type unreadable once encoded.
bool tags_readable(const TUL_Asn1TypeEntry& e) {
  if (e.tag_flag && !valid_tag_number(e.tag_val)) return false;
  for (int32_t i = 0; i < e.size; ++i)
    if (e.members[i].tag_flag && !valid_tag_number(e.members[i].tag_val)) return false;
  return true;
}

Added add_type_value(TUL_Metadata* md, TUL_Object* v) {
  TUL_Asn1TypeEntry e{};
  Added added = Added::kNoMemory;
  unsigned failures = interning_failures;
  if (read_type(v, e) && failures == interning_failures)
    added = tags_readable(e) ? add_definition(md, reinterpret_cast<TUL_Entry*>(&e), nullptr) : Added::kUnusable;
  free_record_members(e);
  return added;
}

Added add_template_value(TUL_Metadata* md, TUL_Object* v, const TemplateKind& kind) {
  // Large enough for the biggest template record.
  alignas(TUL_NotificationEntry) unsigned char record[sizeof(TUL_NotificationEntry)] = {};
  auto* e = reinterpret_cast<TUL_Entry*>(record);
  unsigned failures = interning_failures;
  bool read = read_template(v, kind, e) && failures == interning_failures;
  Added added = read ? add_definition(md, e, v) : Added::kNoMemory;
  if (kind.entry_type == TUL_ENTRY_NOTIFICATION) mem::free(reinterpret_cast<TUL_NotificationEntry*>(e)->ids);
  return added;
}

// The answer of TUL_add_definition for one entered value: the value itself,
// or an error object when it was left out (a definition that could never
// be used, or a memory shortage; the Metadata walk goes on either way).
TUL_Object* outcome(TUL_Metadata* md, TUL_Object* v, Added added) {
  switch (added) {
    case Added::kNoMemory: return TUL_error(md, TUL_ERR_MEMORY);
    case Added::kUnusable: return TUL_error(md, TUL_ERR_DEFINITION);
    default: return v;
  }
}

constexpr const char* kMetadataMembers[] = {"asn1Defs",   "mocs",         "packages",        "parameters",
                                            "nameBindings", "attributes", "attributeGroups", "behaviors",
                                            "actions",    "notifications"};

// The key a definition is entered under: a type's name, a template's label.
char* definition_key(TUL_Object* v) {
  return member_text(v, TUL_object_type(v) == tul::names().asn1 ? "name" : "label");
}

// One definition value of any kind; a "TUL.Metadata" enters every element
// that it can, and its first failure is the answer.
TUL_Object* add_one(TUL_Metadata* md, TUL_Object* obj, const AddObserver* observer) {
  const tul::Names& names = tul::names();
  char* type = TUL_object_type(obj);
  if (!obj || !type) return TUL_error(md, TUL_ERR_DEFINITION);
  const TemplateKind* kind = nullptr;
  for (int k = 1; k <= kTemplateKinds && !kind; ++k)
    if (type == names.*template_kind(k)->value_type) kind = template_kind(k);
  if (type == names.asn1 || kind) {
    Added added = kind ? add_template_value(md, obj, *kind) : add_type_value(md, obj);
    if (observer) observer->seen(obj, definition_key(obj), added, observer->data);
    return outcome(md, obj, added);
  }
  if (type != names.metadata) return TUL_error(md, TUL_ERR_DEFINITION);
  TUL_Object* first_error = nullptr;
  for (const char* name : kMetadataMembers)
    for (TUL_Object* definition : elements(member(obj, name))) {
      TUL_Object* result = add_one(md, definition, observer);
      if (result != definition) tul::keep_first_error(first_error, result);
    }
  TUL_finalize(md);
  return first_error ? first_error : obj;
}

}  // namespace

TUL_Object* add_definition_value(TUL_Metadata* md, TUL_Object* obj, const AddObserver* observer) {
  return md ? add_one(md, obj, observer) : nullptr;
}

void load_meta_schema(TUL_Metadata* dtd) {
  for (const TypeRow& row : kMetaSchema) add_type_row(dtd, row, false);
}

}  // namespace tul::dict

using namespace tul::dict;

extern "C" {

TUL_API TUL_Object* TUL_add_definition(TUL_Metadata* md, TUL_Object* obj) {
  return add_definition_value(md, obj, nullptr);
}

TUL_API int TUL_load_Metadata_string(TUL_Metadata* md, char** str) {
  if (!md || !str) return 0;
  for (; *str; ++str) {
    TUL_Object* value = TUL_parse_str(md, *str);
    if (!value) continue;
    if (value->error) {
      int code = value->error;
      TUL_free(value);
      return code;
    }
    TUL_Object* result = TUL_add_definition(md, value);
    // A value that is no definition is skipped; one lost to a shortage is not.
    bool lost = result != value && result && result->error == TUL_ERR_MEMORY;
    if (result != value) TUL_free(result);
    TUL_free(value);
    if (lost) return TUL_ERR_MEMORY;
  }
  return 0;
}

/* ------------------------------------------------------------------------
 * Lookups, enumeration and type information
 * ---------------------------------------------------------------------- */

TUL_API TUL_Object* TUL_templateByName(TUL_Metadata* dtd, const char* label) {
  TUL_Entry* e = _TUL_templateByName(dtd, label);
  if (!e) return nullptr;
  if (!template_kind(e->entry_type)) {
    TUL_trace_error(TUL_ERR_DEFINITION);
    return nullptr;
  }
  return build_template(e);
}

TUL_API TUL_Object* TUL_templateByRegistration(TUL_Metadata* dtd, TUL_Object* oid) {
  TUL_Entry* e = _TUL_templateByRegistration(dtd, oid);
  return e ? build_template(e) : nullptr;
}

}  // extern "C"

namespace {

struct Walk {
  TUL_ObjectCallback user_action;
  void* user_data;
};

void call_with_value(void* entry, void* data) {
  auto* walk = static_cast<Walk*>(data);
  if (TUL_Object* v = build_any(static_cast<TUL_Entry*>(entry))) walk->user_action(v, walk->user_data);
}

void for_each_entry(TUL_Metadata* md, TULH_HT* TUL_Metadata::*table, TUL_EntryCallback action, void* data) {
  if (!md || !action) return;
  TULH_for_each(md->*table, reinterpret_cast<TULH_Action>(action), data);
}

int count(TUL_Metadata* md, TULH_HT* TUL_Metadata::*table) { return md ? (md->*table)->count : 0; }

}  // namespace

void tul::dict::for_each_value(TUL_Metadata* md, TULH_HT* TUL_Metadata::*table, TUL_ObjectCallback action,
                               void* data) {
  if (!md || !action) return;
  Walk walk{action, data};
  TULH_for_each(md->*table, call_with_value, &walk);
}

// One exported walk, raw walk and count per table.
#define TUL_TABLE_FUNCTIONS(suffix, number, table)                                            \
  extern "C" TUL_API void TUL_for_each_##suffix(TUL_Metadata* md, TUL_ObjectCallback a, void* d) { \
    for_each_value(md, &TUL_Metadata::table, a, d);                                            \
  }                                                                                             \
  void _TUL_for_each_##suffix(TUL_Metadata* md, TUL_EntryCallback a, void* d) {                \
    for_each_entry(md, &TUL_Metadata::table, a, d);                                            \
  }                                                                                             \
  extern "C" TUL_API int TUL_number_##number(TUL_Metadata* md) { return count(md, &TUL_Metadata::table); }

TUL_TABLE_FUNCTIONS(asn1_def, asn1_def, asn1_types)
TUL_TABLE_FUNCTIONS(attribute, attributes, attributes)
TUL_TABLE_FUNCTIONS(notification, notifications, notifications)
TUL_TABLE_FUNCTIONS(parameter, parameters, parameters)
TUL_TABLE_FUNCTIONS(action, actions, actions)
TUL_TABLE_FUNCTIONS(moc, mocs, mocs)
TUL_TABLE_FUNCTIONS(package, packages, packages)
TUL_TABLE_FUNCTIONS(name_binding, name_bindings, name_bindings)
TUL_TABLE_FUNCTIONS(attribute_group, attribute_groups, attribute_groups)
TUL_TABLE_FUNCTIONS(behavior, behaviors, behaviors)

#undef TUL_TABLE_FUNCTIONS

extern "C" {

TUL_API TUL_Object* TUL_object_info(TUL_Object* obj, int final) { return build_type(_TUL_object_info(obj, final)); }

TUL_API TUL_Object* TUL_asn1_info_US(TUL_Metadata* dtd, char* type, int final) {
  return build_type(_TUL_asn1_info_US(dtd, type, final));
}

TUL_API TUL_Object* TUL_asn1_info(TUL_Metadata* dtd, const char* type, int final) {
  return build_type(_TUL_asn1_info(dtd, type, final));
}

TUL_API int TUL_asn1_basic_type_US(TUL_Metadata* dtd, char* type) {
  TUL_Entry* e = _TUL_type_info_US(dtd, type);
  return e && e->behavior ? e->behavior->basic_type : 0;
}

TUL_API int TUL_asn1_basic_type(TUL_Metadata* dtd, const char* type) {
  if (!dtd || !type) return 0;
  return TUL_asn1_basic_type_US(dtd, TUL_unique_string(type));
}

}  // extern "C"
