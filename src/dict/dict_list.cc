// The dictionary listing and the reference check. Both print the same block
// per entry, the check after each reference it cannot resolve; template
// blocks are laid out by the listing lines of each kind's row.
#include <cstdio>

#include "dict.h"
#include "hash.h"

namespace tul::dict {
namespace {

const char* text(const char* s) { return s ? s : ""; }

// The tag of a type or member: "[CLASS number] MODE " or nothing. Held in
// one buffer that the next call overwrites.
const char* tag_text(int32_t tag_flag, int32_t tag_val) {
  static constexpr const char* kTagClass[] = {"UNIV", "APPL", "CONT", "PRIV"};
  static char buffer[40];
  if (tag_flag == 0) return "";
  const char* mode = tag_flag & TUL_TAG_EXPLICIT ? "EXPL" : tag_flag & TUL_TAG_IMPLICIT ? "IMPL" : "";
  std::snprintf(buffer, sizeof buffer, "[%s %ld] %s ", kTagClass[tag_flag & TUL_TAG_CLASS_MASK],
                static_cast<long>(tag_val), mode);
  return buffer;
}

void print_enums(FILE* out, const char* indent, int32_t count, const TUL_EnumList* list) {
  for (int32_t i = 0; i < count; ++i)
    std::fprintf(out, "%s%s (%ld)\n", indent, text(list[i].name), static_cast<long>(list[i].val));
}

void print_type(const TUL_Asn1TypeEntry* e, FILE* out) {
  std::fprintf(out, "syntax: %s\n", text(e->name));
  std::fprintf(out, " templ: %s\n", e->obj ? "ERROR" : "OK");
  std::fprintf(out, "   tag: %s\n", tag_text(e->tag_flag, e->tag_val));
  std::fprintf(out, "  type: %s\n", text(e->type));
  if (e->size) std::fprintf(out, "  size: %ld\n", static_cast<long>(e->size));
  for (int32_t i = 0; i < e->size; ++i) {
    const TUL_Asn1Type& m = e->members[i];
    std::fprintf(out, "\t%-20s ", text(m.name));
    std::fprintf(out, "%s", tag_text(m.tag_flag, m.tag_val));
    std::fprintf(out, "%s %s %s\n", text(m.type), text(m.anydefbyId), m.opt_def ? "OPT/DEF" : "");
    print_enums(out, "\t\t", m.enums, m.enum_list);
  }
  if (e->enums) std::fprintf(out, " enums: %ld\n", static_cast<long>(e->enums));
  print_enums(out, "\t", e->enums, e->enum_list);
  std::fputc('\n', out);
}

void print_template(const TUL_Entry* e, FILE* out) {
  const TemplateKind& kind = *template_kind(e->entry_type);
  for (const ListingLine& line : kind.listing) {
    if (!line.format) break;
    if (line.offset != kItemsLine) {
      std::fprintf(out, line.format, text(string_field(const_cast<TUL_Entry*>(e), line.offset)));
      continue;
    }
    auto* n = reinterpret_cast<const TUL_NotificationEntry*>(e);
    for (int32_t i = 0; i < n->size; ++i)
      std::fprintf(out, "\t%-30s %s\n", text(n->ids[i].field_name), text(n->ids[i].attribute));
  }
  std::fputc('\n', out);
}

void print_entry(const TUL_Entry* e, FILE* out) {
  if (e->entry_type == TUL_ENTRY_ASN1)
    print_type(reinterpret_cast<const TUL_Asn1TypeEntry*>(e), out);
  else
    print_template(e, out);
}

void print_table(TULH_HT* table, const char* title, FILE* out) {
  std::fprintf(out, "\n\t\t%s Dictionary (%ld entries)\n\n", title, static_cast<long>(table->count));
  TULH_for_each(
      table, [](void* e, void* stream) { print_entry(static_cast<TUL_Entry*>(e), static_cast<FILE*>(stream)); }, out);
}

/* ------------------------------------------------------------------------
 * Reference check
 * ---------------------------------------------------------------------- */

struct Check {
  TUL_Metadata* dtd;
  UnresolvedVisitor visit;
  void* data;

  bool defined(char* type) const {
    TUL_Entry key{};
    key.name = type;
    return TULH_assoc_entry(dtd->asn1_types, &key) != nullptr;
  }
  void report(const char* reference, const TUL_Entry* e, const char* where) { visit(reference, e, where, data); }
  void type_reference(char* type, const TUL_Entry* e, const char* where) {
    if (type && !defined(type)) report(type, e, where);
  }
};

struct Printed {
  FILE* out;
  long unresolved;
};

void print_unresolved(const char* reference, const TUL_Entry* e, const char* where, void* data) {
  auto* printed = static_cast<Printed*>(data);
  ++printed->unresolved;
  std::fprintf(printed->out, "reference \"%s\" not resolved! found in %s:\n", reference, where);
  print_entry(e, printed->out);
}

void check_type(void* entry, void* data) {
  auto* e = static_cast<TUL_Asn1TypeEntry*>(entry);
  auto* check = static_cast<Check*>(data);
  constexpr const char* kWhere = "ASN.1 type definition";
  auto* as_entry = reinterpret_cast<TUL_Entry*>(e);
  check->type_reference(e->type, as_entry, kWhere);
  for (int32_t i = 0; i < e->size; ++i) check->type_reference(e->members[i].type, as_entry, kWhere);
}

// A notification item names an attribute by label; it resolves when an
// attribute of that label has a syntax. The first syntax found is kept.
struct SyntaxSearch {
  char* label;
  char* syntax;
};

void search_attribute_syntax(void* entry, void* data) {
  auto* attribute = static_cast<TUL_AttributeEntry*>(entry);
  auto* probe = static_cast<SyntaxSearch*>(data);
  if (!probe->syntax && attribute->label == probe->label) probe->syntax = attribute->syntax;
}

void check_template(void* entry, void* data) {
  auto* e = static_cast<TUL_Entry*>(entry);
  auto* check = static_cast<Check*>(data);
  const TemplateKind& kind = *template_kind(e->entry_type);
  for (const FieldSource& source : kind.sources)
    if (source.offset) check->type_reference(string_field(e, source.offset), e, kind.title);
  if (e->entry_type != TUL_ENTRY_NOTIFICATION) return;
  auto* n = reinterpret_cast<TUL_NotificationEntry*>(e);
  for (int32_t i = 0; i < n->size; ++i) {
    SyntaxSearch probe{n->ids[i].attribute, nullptr};
    TULH_for_each(check->dtd->attributes, search_attribute_syntax, &probe);
    if (!probe.syntax) check->report(text(probe.label), e, kind.title);
  }
}

}  // namespace

void print_metadata(TUL_Metadata* dtd, FILE* out) {
  std::fprintf(out, "%s\n", TUL_library_version());
  std::fprintf(out, "%s\n\n", TUL_format_version());
  print_table(dtd->asn1_types, "ASN.1 Type", out);
  for (int entry_type : kIndexOrder) {
    const TemplateKind& kind = *template_kind(entry_type);
    if (kind.title) print_table(dtd->*kind.table, kind.title, out);
  }
}

void for_each_unresolved(TUL_Metadata* dtd, UnresolvedVisitor visit, void* data) {
  Check check{dtd, visit, data};
  TULH_for_each(dtd->asn1_types, check_type, &check);
  for (int entry_type : kIndexOrder) {
    const TemplateKind& kind = *template_kind(entry_type);
    if (kind.title) TULH_for_each(dtd->*kind.table, check_template, &check);
  }
}

long consistence_check(TUL_Metadata* dtd, FILE* out) {
  Printed printed{out, 0};
  for_each_unresolved(dtd, print_unresolved, &printed);
  return printed.unresolved;
}

}  // namespace tul::dict

void TUL_consistence_check(TUL_Metadata* dtd) {
  if (dtd) tul::dict::consistence_check(dtd, stdout);
}

extern "C" {

TUL_API void TUL_print_Metadata(TUL_Metadata* dtd) {
  if (dtd) tul::dict::print_metadata(dtd, stdout);
}

TUL_API long TUL_check_Metadata(TUL_Metadata* dtd, FILE* stream) {
  return dtd ? tul::dict::consistence_check(dtd, stream ? stream : stdout) : 0;
}

}  // extern "C"
