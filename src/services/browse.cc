// HTML documentation of a dictionary and of one value: a fixed set of static
// pages linked to each other by entry names. Every page is written through a
// print context, so the dictionary blocks and the HTML-aware print behaviours
// of the value page share one set of writers. Dictionary names go out as they
// are, except for the characters that would open a tag or a reference or end
// an attribute value; file errors end the process, as the pages' users expect.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <span>

#include "codec.h"
#include "constructed.h"
#include "dict.h"
#include "dtd.h"
#include "mem.h"
#include "parse.h"

namespace tul::browse {
namespace {

using dict::TemplateKind;

/* ------------------------------------------------------------------------
 * Writers
 * ---------------------------------------------------------------------- */

void file_putc(int c, void* file) { std::fputc(c, static_cast<FILE*>(file)); }
void file_puts(const char* text, void* file) { std::fputs(text, static_cast<FILE*>(file)); }

TULP_PrintContext file_context(FILE* file) { return {file, file_putc, file_puts, 0}; }

// The reference for a character that would open a tag (<) or a reference
// (&), or, inside an attribute value, end it ("); null for any other.
const char* reference(char c, bool in_attribute) {
  switch (c) {
    case '<':
      return "&lt;";
    case '&':
      return "&amp;";
    case '"':
      return in_attribute ? "&quot;" : nullptr;
    default:
      return nullptr;
  }
}

void escaped(const TULP_PrintContext& out, const char* s, bool in_attribute) {
  for (; s && *s; ++s) {
    if (const char* r = reference(*s, in_attribute))
      out.prints(r, out.ptr);
    else
      out.printc(static_cast<unsigned char>(*s), out.ptr);
  }
}

// Markup, written unchanged.
void text(const TULP_PrintContext& out, const char* s) {
  if (s) out.prints(s, out.ptr);
}

// A dictionary name (type, member, label, registration): it may stand in an
// attribute value as well as in text. Null writes nothing.
void name(const TULP_PrintContext& out, const char* s) { escaped(out, s, true); }

// Running text from the dictionary (a behaviour's definition).
void prose(const TULP_PrintContext& out, const char* s) { escaped(out, s, false); }

void number(const TULP_PrintContext& out, long value) {
  char digits[24];
  std::snprintf(digits, sizeof digits, "%ld", value);
  text(out, digits);
}

// `format` with each "%s" replaced by the next of `names`, written as a name.
void put(const TULP_PrintContext& out, const char* format, std::initializer_list<const char*> names) {
  const char* const* next = names.begin();
  for (const char* p = format; *p; ++p) {
    if (p[0] == '%' && p[1] == 's' && next != names.end()) {
      name(out, *next++);
      ++p;
    } else {
      out.printc(static_cast<unsigned char>(*p), out.ptr);
    }
  }
}

constexpr const char* kRedDotImage = "<img src=\"reddot.gif\">";
constexpr const char* kBackLink = "<p>Back to <a href=\"overview.html\">overview</a>\n<p>\n";

/* ------------------------------------------------------------------------
 * Page files
 * ---------------------------------------------------------------------- */

[[noreturn]] void give_up(const char* message) {
  std::fputs(message, stderr);
  std::exit(1);
}

// Opens "directory/file" for writing; null when the path is too long for
// the system or the file cannot be opened.
FILE* open_in(const char* directory, const char* file, const char* mode) {
  char path[PATH_MAX];
  const int length = std::snprintf(path, sizeof path, "%s/%s", directory, file);
  return length >= 0 && length < static_cast<int>(sizeof path) ? std::fopen(path, mode) : nullptr;
}

FILE* _create_html(const char* directory, const char* filename, const char* title) {
  if (mkdir(directory, 0777) != 0 && errno != EEXIST) give_up("TUL: no permission to create local directory\n");
  FILE* file = open_in(directory, filename, "w");
  if (!file) give_up("TUL: file open error (access rights ?)\n");
  put(file_context(file), "<TITLE>%s</TITLE>\n<center><h2>%s</h2></center>\n", {title, title});
  return file;
}

void _close_html(FILE* file) {
  std::fprintf(file, "\n<p><hr><p>\n<address>generated with the HTML generation feature of the %s</address>\n",
               TUL_library_version());
  std::fclose(file);
}

// A 14 x 14 red dot on white: GIF87a, an eight-colour global table, one
// image in a single sub-block of LZW codes, the trailer. The codes begin
// with repeated clear codes, which pad the file to its fixed 106 bytes.
constexpr unsigned char kRedDot[] = {
    0x47, 0x49, 0x46, 0x38, 0x37, 0x61, 0x0E, 0x00, 0x0E, 0x00, 0xA2, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xDC, 0x00,
    0x00, 0xF0, 0x8C, 0x8C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x0E, 0x00, 0x0E, 0x00, 0x00, 0x03, 0x37, 0x88, 0x88, 0x88, 0x88, 0x88,
    0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x08, 0xBA, 0xDC, 0x2B, 0x30,
    0x3A, 0x20, 0x82, 0xBD, 0xA2, 0xD5, 0xCB, 0xB3, 0xDA, 0x5C, 0xF7, 0x85, 0xA1, 0x07, 0x92, 0x81, 0x89, 0x62,
    0xE3, 0x9A, 0xB6, 0xAB, 0x47, 0xC5, 0x1A, 0x29, 0x33, 0x91, 0x34, 0xED, 0x4A, 0x02, 0x00, 0x3B,
};
static_assert(sizeof kRedDot == 106);

void _create_gif(const char* directory, const char* image) {
  if (std::strcmp(image, "reddot") != 0) return;
  char file[16];
  std::snprintf(file, sizeof file, "%s.gif", image);
  FILE* gif = open_in(directory, file, "wb");
  if (!gif) give_up("file open error for result files (access rights ?)\n");
  std::fwrite(kRedDot, 1, sizeof kRedDot, gif);
  std::fclose(gif);
}

/* ------------------------------------------------------------------------
 * Type page
 * ---------------------------------------------------------------------- */

// A tag as "[APPLICATION 1] IMPLICIT " in bold; nothing for an untagged
// type. Explicit tagging is not marked.
void _print_tag(const TULP_PrintContext& out, int32_t flag, int32_t val) {
  static constexpr const char* kClassPrefix[] = {"UNIVERSAL ", "APPLICATION ", "", "PRIVATE "};
  if (flag == 0) return;
  text(out, "<b>[");
  text(out, kClassPrefix[flag & TUL_TAG_CLASS_MASK]);
  number(out, val);
  text(out, (flag & TUL_TAG_IMPLICIT) ? "] IMPLICIT </b>" : "]</b>");
}

// A type reference: a link to its block when it is a defined type, the bold
// name of a basic type, the bare name of an unknown one.
void _print_type(const TULP_PrintContext& out, TUL_Metadata* dtd, const char* type) {
  TUL_Asn1TypeEntry* entry = type ? find_type(dtd, type) : nullptr;
  if (!entry)
    name(out, type);
  else if (entry->type)
    put(out, "<a href=\"#%s\">%s</a>", {type, type});
  else
    put(out, "<b>%s</b>", {type});
}

void enum_items(const TULP_PrintContext& out, const TUL_EnumList* items, int32_t count, const char* indent,
                const char* close_indent) {
  text(out, " <b>{</b>");
  for (int32_t i = 0; items && i < count; ++i) {
    text(out, "\n");
    text(out, indent);
    name(out, items[i].name);
    text(out, " (");
    number(out, items[i].val);
    text(out, ")");
  }
  text(out, "\n");
  text(out, close_indent);
  text(out, "<b>}</b> ");
}

void member_line(const TULP_PrintContext& out, TUL_Metadata* dtd, const TUL_Asn1Type& m, bool is_of) {
  constexpr const char* kIndent = "    ";
  if (!is_of) {
    text(out, "\n");
    text(out, kIndent);
    name(out, m.name);
  }
  text(out, " ");
  _print_tag(out, m.tag_flag, m.tag_val);
  text(out, " ");
  _print_type(out, dtd, m.type);
  text(out, " ");
  if (m.enums) enum_items(out, m.enum_list, m.enums, "        ", kIndent);
  name(out, m.anydefbyId);
  text(out, " ");
  if (m.opt_def & TUL_OPTIONAL)
    text(out, "<b>OPTIONAL</b>");
  else if (m.opt_def & TUL_DEFAULT)
    text(out, "<b>DEFAULT</b>");
}

// One type's block; the basic types, which have no base type, have none.
void _asn1type2html(const TUL_Asn1TypeEntry* e, const TULP_PrintContext& out, TUL_Metadata* dtd) {
  if (!e->type) return;
  const Names& names = tul::names();
  const bool is_of = e->type == names.set_of || e->type == names.sequence_of;
  const bool is_struct = e->type == names.set || e->type == names.sequence || e->type == names.choice;
  text(out, "\n<p><hr><p><pre>\n");
  put(out, "<a name=\"%s\"><b>%s</b></a> ::= ", {e->name, e->name});
  _print_tag(out, e->tag_flag, e->tag_val);
  _print_type(out, dtd, e->type);
  if (is_struct) text(out, " <b>{</b>");
  if (e->enums) enum_items(out, e->enum_list, e->enums, "    ", "");
  for (int32_t i = 0; e->members && i < e->size; ++i) member_line(out, dtd, e->members[i], is_of);
  text(out, is_struct ? "\n<b>}</b></pre>\n" : "</pre>\n");
}

// Types beyond this many are sorted in a heap array; should that fail, the
// page stops at this many.
constexpr size_t kTypePageLimit = 10000;

struct TypeCollector {
  std::span<TUL_Asn1TypeEntry*> slots;
  size_t used;
};

void _asn1type2array(void* entry, void* data) {
  auto* collector = static_cast<TypeCollector*>(data);
  if (collector->used < collector->slots.size())
    collector->slots[collector->used++] = static_cast<TUL_Asn1TypeEntry*>(entry);
}

void _build_asn1types(const TULP_PrintContext& out, TUL_Metadata* dtd, int) {
  text(out, kBackLink);
  TUL_Asn1TypeEntry* on_stack[kTypePageLimit];
  mem::CPtr<TUL_Asn1TypeEntry*> on_heap;
  TypeCollector collector{on_stack, 0};
  const size_t count = static_cast<size_t>(dtd->asn1_types->count);
  if (count > kTypePageLimit) {
    on_heap.reset(mem::alloc_array<TUL_Asn1TypeEntry*>(count));
    if (on_heap)
      collector.slots = {on_heap.get(), count};
    else
      TUL_trace_error(TUL_ERR_MEMORY);
  }
  TULH_for_each(dtd->asn1_types, _asn1type2array, &collector);
  std::span<TUL_Asn1TypeEntry*> types = collector.slots.first(collector.used);
  // Byte-wise, so upper-case names come before lower-case ones.
  std::sort(types.begin(), types.end(),
            [](const TUL_Asn1TypeEntry* a, const TUL_Asn1TypeEntry* b) { return std::strcmp(a->name, b->name) < 0; });
  for (const TUL_Asn1TypeEntry* e : types) _asn1type2html(e, out, dtd);
}

/* ------------------------------------------------------------------------
 * Overview and template pages
 * ---------------------------------------------------------------------- */

struct TemplatePage;

struct BlockContext {
  const TULP_PrintContext* out;
  const TemplateKind* kind;
  const TemplatePage* page;
};

// What differs between the template pages beyond the kind's own row.
struct TemplatePage {
  const char* file;
  const char* title;
  const char* missing;  // what an empty page says the dictionary lacks
  // Writes one block per template of the kind.
  void (*write_blocks)(BlockContext& ctx, TUL_Metadata* dtd);
  // Lines between the first syntax line and the second, when the kind has any.
  void (*after_first_syntax)(const TULP_PrintContext& out, TUL_Entry* entry);
};

void _print_attribute_ids(const TULP_PrintContext& out, TUL_Entry* entry) {
  const auto* n = reinterpret_cast<TUL_NotificationEntry*>(entry);
  text(out, "  <b>AND ATTRIBUTE IDS</b>\n");
  for (int32_t i = 0; n->ids && i < n->size; ++i)
    put(out, "     %s <a href=\"attributes.html#%s\">%s</a>\n",
        {n->ids[i].field_name, n->ids[i].attribute, n->ids[i].attribute});
}

// The block of one template of any kind but behaviours: heading, the kind's
// syntax fields in row order (each only when present), registration.
void _template2html(void* entry, void* data) {
  const auto& ctx = *static_cast<BlockContext*>(data);
  const TULP_PrintContext& out = *ctx.out;
  auto* e = static_cast<TUL_Entry*>(entry);
  const char* label = reinterpret_cast<TUL_AttributeEntry*>(e)->label;
  text(out, "\n<p><hr><p><pre>\n");
  put(out, "<a name=\"%s\">%s </a><b>%s</b>\n", {label, label, ctx.kind->keyword});
  for (int i = 0; i < dict::kMaxStringFields; ++i) {
    const dict::FieldSource& source = ctx.kind->sources[i];
    const char* syntax = source.offset ? dict::string_field(e, source.offset) : nullptr;
    if (syntax) put(out, "  <b>%s</b> <a href=\"asn1types.html#%s\">%s</a>;\n", {source.clause, syntax, syntax});
    if (i == 0 && ctx.page->after_first_syntax) ctx.page->after_first_syntax(out, e);
  }
  put(out, "<b>REGISTERED AS</b> {%s};\n</pre>", {e->name});
}

// A text member of a template's object form; null when it has none.
const char* text_member(TUL_Object* value, const char* member) {
  TUL_Object* found = TUL_assoc(value, member);
  if (found && found->error) {
    TUL_free(found);
    return nullptr;
  }
  return found && (TUL_object_basic_type(found) & TUL_OCTETSTRING_TYPE) ? TUL_read_str(found) : nullptr;
}

void _behavior2html(TUL_Object* behaviour, void* data) {
  const auto& ctx = *static_cast<BlockContext*>(data);
  const char* label = text_member(behaviour, "label");
  text(*ctx.out, "\n<p><hr><p>\n");
  put(*ctx.out, "<a name=\"%s\">%s </a><b>%s</b>\n<ul><b>DEFINED AS</b> ", {label, label, ctx.kind->keyword});
  prose(*ctx.out, text_member(behaviour, "definedAs"));
  text(*ctx.out, ";</ul>\n");
}

void entry_blocks(BlockContext& ctx, TUL_Metadata* dtd) { TULH_for_each(dtd->*ctx.kind->table, _template2html, &ctx); }

// Behaviours are documented from their object form, which holds the text.
void behavior_blocks(BlockContext& ctx, TUL_Metadata* dtd) { TUL_for_each_behavior(dtd, _behavior2html, &ctx); }

// By entry_type - 1.
constexpr TemplatePage kTemplatePages[] = {
    {"notifications.html", "Notification Templates", "Notification Templates", entry_blocks, _print_attribute_ids},
    {"attributes.html", "Attribute Templates", "Attribute Templates", entry_blocks, nullptr},
    {"parameters.html", "Parameter Templates", "Parameter Templates", entry_blocks, nullptr},
    {"actions.html", "Action Templates", "Action Templates", entry_blocks, nullptr},
    {"mocs.html", "MOC Templates", " Managed Object Class Templates", entry_blocks, nullptr},
    {"packages.html", "Package Templates", "Package Templates", entry_blocks, nullptr},
    {"namebindings.html", "Name Binding Templates", " Name Binding Templates", entry_blocks, nullptr},
    {"attributegroups.html", "Attribute Group Templates", "Attribute Group Templates", entry_blocks, nullptr},
    {"behaviors.html", "Behavior Templates", "Behavior Templates", behavior_blocks, nullptr},
};
static_assert(std::size(kTemplatePages) == dict::kTemplateKinds);

const TemplatePage& template_page(int entry_type) { return kTemplatePages[entry_type - 1]; }

void _build_templates(const TULP_PrintContext& out, TUL_Metadata* dtd, int entry_type) {
  const TemplateKind& kind = *dict::template_kind(entry_type);
  const TemplatePage& page = template_page(entry_type);
  BlockContext ctx{&out, &kind, &page};
  text(out, kBackLink);
  page.write_blocks(ctx, dtd);
  if ((dtd->*kind.table)->count == 0) put(out, "Your MIB doesn't contain any %s!\n", {page.missing});
}

void overview_row(const TULP_PrintContext& out, long count, const char* file, const char* what, const char* suffix) {
  text(out, "<tr align=center><td>");
  number(out, count);
  put(out, "</td><td><a href=\"%s\">%s%s</a></td></tr>\n", {file, what, suffix});
}

constexpr int kOverviewOrder[] = {
    TUL_ENTRY_ATTRIBUTE, TUL_ENTRY_NOTIFICATION, TUL_ENTRY_PARAMETER,       TUL_ENTRY_ACTION,   TUL_ENTRY_MOC,
    TUL_ENTRY_PACKAGE,   TUL_ENTRY_NAME_BINDING, TUL_ENTRY_ATTRIBUTE_GROUP, TUL_ENTRY_BEHAVIOR,
};
static_assert(std::size(kOverviewOrder) == dict::kTemplateKinds);

void _build_overview(const TULP_PrintContext& out, TUL_Metadata* dtd, int) {
  text(out,
       "The term MIB is used here as synonym of all available ASN.1 type definitions and GDMO templates. "
       "Your MIB contains the following information.\n"
       "<ul><table border=1 cellpadding=6 bgcolor=\"#FFFFFF\">\n"
       "<tr><th># of entries</th><th>definition/template name</th></tr>\n");
  overview_row(out, dtd->asn1_types->count, "asn1types.html", "ASN.1 types", "");
  for (int entry_type : kOverviewOrder) {
    const TemplateKind& kind = *dict::template_kind(entry_type);
    overview_row(out, (dtd->*kind.table)->count, template_page(entry_type).file, kind.keyword, "'s");
  }
  text(out, "</table></ul>\n");
}

using PageBuilder = void (*)(const TULP_PrintContext& out, TUL_Metadata* dtd, int entry_type);

void write_page(const char* directory, const char* file, const char* title, PageBuilder build, TUL_Metadata* dtd,
                int entry_type = 0) {
  FILE* page = _create_html(directory, file, title);
  build(file_context(page), dtd, entry_type);
  _close_html(page);
}

/* ------------------------------------------------------------------------
 * Value page
 * ---------------------------------------------------------------------- */

// The page's print context: printed values are text, so only the characters
// that would open a tag or a reference are replaced.
void page_putc(int c, void* file) {
  if (const char* r = reference(static_cast<char>(c), false))
    std::fputs(r, static_cast<FILE*>(file));
  else
    std::fputc(c, static_cast<FILE*>(file));
}
void page_puts(const char* text, void* file) {
  for (; text && *text; ++text) page_putc(static_cast<unsigned char>(*text), file);
}

// Where the markup around a printed value goes: straight into the page file
// when `ctx` is the page's own context, else through `ctx` (a value printed
// elsewhere while the page's behaviours are registered).
TULP_PrintContext markup(const TULP_PrintContext* ctx) {
  if (ctx->printc == page_putc) return {ctx->ptr, file_putc, file_puts, ctx->level};
  return *ctx;
}

// A member name, linked to the definition of its type when that is a
// defined type.
void _print_membertype(const TULP_PrintContext& out, TUL_Metadata* dtd, const char* type, const char* member) {
  TUL_Asn1TypeEntry* entry = type ? find_type(dtd, type) : nullptr;
  if (entry && entry->type)
    put(out, "<a href=\"asn1types.html#%s\">%s</a>", {type, member});
  else
    name(out, member);
}

// The value's type as a link, then the value; the member printer bounds the
// nesting of what it prints.
void _print_any_html(TUL_Object* obj, TULP_PrintContext* ctx) {
  const char* type = TUL_object_type(obj);
  put(markup(ctx), "<a href=\"asn1types.html#%s\">%s</a> ", {type, type});
  TULP_print_member(obj, nullptr, ctx);
}

// An open-type member: marked when its identifying member does not select a
// type, then printed with the type the value really has.
void print_open_member(TUL_Object* obj, TUL_Asn1TypeEntry* d, const TUL_Asn1Type& m, TUL_Object* value,
                       TULP_PrintContext* ctx) {
  if (!TULM_anydefinedbyId2type(obj, d, m.anydefbyId)) {
    if (m.anydefbyId)
      put(markup(ctx), "<img src=\"reddot.gif\"> -- checkout %s -- ", {m.anydefbyId});
    else
      text(markup(ctx), kRedDotImage);
  }
  _print_any_html(value, ctx);
}

void _print_structure(TUL_Object* obj, TULP_PrintContext* ctx) {
  TUL_Asn1TypeEntry* d = constructed::description(obj);
  TUL_Metadata* dtd = tul_dtd(obj);
  TUL_Object** slots = reinterpret_cast<TUL_Structure*>(obj)->member;
  ctx->prints("{\n", ctx->ptr);
  ++ctx->level;
  bool first = true;
  for (int i = 0, n = constructed::member_count(obj->type_ref); i < n; ++i) {
    const TUL_Asn1Type& m = d->members[i];
    TUL_Object* value = slots[i];
    const bool absent = value == dtd->tmp_object;
    if (absent && m.opt_def != TUL_MANDATORY) continue;
    if (!first) ctx->prints(",\n", ctx->ptr);
    first = false;
    TUL_print_indentation(ctx);
    _print_membertype(markup(ctx), dtd, m.type, m.name);
    ctx->printc(' ', ctx->ptr);
    if (TULM_is_any(m.type)) {
      print_open_member(obj, d, m, value, ctx);
    } else if (m.enums) {
      TULP_print_local(ctx, const_cast<TUL_Asn1Type*>(&m), value);
    } else {
      if (absent) text(markup(ctx), kRedDotImage);
      TULP_print_member(value, nullptr, ctx);
    }
  }
  ctx->printc('\n', ctx->ptr);
  --ctx->level;
  TUL_print_indentation(ctx);
  ctx->printc('}', ctx->ptr);
}

void _print_choice(TUL_Object* obj, TULP_PrintContext* ctx) {
  const TUL_Choice* c = reinterpret_cast<TUL_Choice*>(obj);
  TUL_Asn1TypeEntry* d = constructed::description(obj);
  // Looked up here rather than by member name so that a CHOICE with nothing
  // chosen prints without an error trace.
  const int i = find_member(d, c->member);
  TUL_Asn1Type* alternative = i >= 0 ? &d->members[i] : nullptr;
  _print_membertype(markup(ctx), tul_dtd(obj), alternative ? alternative->type : nullptr, c->member);
  ctx->prints(" : ", ctx->ptr);
  TULP_print_member(c->choice, alternative, ctx);
}

// Registers the HTML-aware print behaviours of the constructed types in a
// dictionary for the guard's life, and puts the previous ones back on every
// exit.
class HtmlPrinting {
 public:
  explicit HtmlPrinting(TUL_Metadata* dtd) : dtd_(dtd) {
    for (size_t i = 0; i < std::size(kSwapped); ++i) {
      saved_[i] = TUL_retrieve_action(dtd, kSwapped[i].type, "print");
      TUL_register(dtd, kSwapped[i].type, "print", reinterpret_cast<void*>(kSwapped[i].print));
    }
  }
  ~HtmlPrinting() {
    for (size_t i = 0; i < std::size(kSwapped); ++i) TUL_register(dtd_, kSwapped[i].type, "print", saved_[i]);
  }
  HtmlPrinting(const HtmlPrinting&) = delete;
  HtmlPrinting& operator=(const HtmlPrinting&) = delete;

 private:
  struct Swap {
    const char* type;
    void (*print)(TUL_Object*, TULP_PrintContext*);
  };
  static constexpr Swap kSwapped[] = {
      {"SEQUENCE", _print_structure}, {"SET", _print_structure}, {"CHOICE", _print_choice}};

  TUL_Metadata* dtd_;
  void* saved_[std::size(kSwapped)];
};

void _print_html(TUL_Object* obj, FILE* stream) {
  HtmlPrinting html(tul_dtd(obj));
  std::fputs("\n<pre>\n", stream);
  TULP_PrintContext ctx{stream, page_putc, page_puts, 0};
  _print_any_html(obj, &ctx);
  std::fputs("\n</pre>\n", stream);
  std::fflush(stream);
}

struct CodecStatus {
  bool encodable;
  bool decodable;
  long octets;
};

// Encodes the value and decodes the encoding again as the value's type.
CodecStatus codec_status(TUL_Object* obj) {
  CodecStatus status{false, false, 0};
  TUL_Object* ber = TUL_encode(obj);
  status.encodable = ber && !ber->error;
  if (status.encodable) {
    status.octets = TUL_size(ber);
    TUL_Object* back = TUL_decode_US(TUL_object_type(obj), ber, tul_dtd(obj));
    status.decodable = back && !back->error;
    TUL_free(back);
  }
  TUL_free(ber);
  return status;
}

void write_status(const TULP_PrintContext& out, const CodecStatus& status) {
  text(out, "<p><hr><h3>Encode/Decode Status:</h3><ul>\n");
  if (status.encodable) {
    text(out, "<li>value is encodable (");
    number(out, status.octets);
    text(out, " octets)\n");
  } else {
    text(out, "<li>value is <b>NOT</b> encodable\n");
  }
  text(out, status.decodable ? "<li>BER representation is decodable (<img src=\"reddot.gif\"> indicate problems "
                               "or the subobject is left as BER string)\n"
                             : "<li>value is <b>NOT</b> decodable\n");
  text(out, "</ul>\n<hr><p>\n");
}

void write_value_page(TUL_Object* obj, const char* directory) {
  const CodecStatus status = codec_status(obj);
  FILE* page = _create_html(directory, "value.html", "ASN.1 value");
  const TULP_PrintContext out = file_context(page);
  write_status(out, status);
  _print_html(obj, page);
  text(out, "<p><hr><p>\nOther information of interest\n<ul>\n<li><a href=\"overview.html\">MIB Overview</a>\n");
  const char* home = std::getenv("HOME");
  put(out,
      "<li><a href=\"%s/doc/syntax.html\">ASN.1 Value Syntax</a>\n"
      "<li><a href=\"%s/doc/api.html\">TUL Library Functions</a>\n</ul>\n",
      {home ? home : "", home ? home : ""});
  _close_html(page);
}

}  // namespace
}  // namespace tul::browse

using namespace tul::browse;

TUL_API int TUL_generate_HTML(TUL_Metadata* dtd, const char* directory) {
  if (!dtd || !directory) {
    TUL_trace_error(TUL_ERR_ARGUMENT, "generate_HTML");
    return TUL_ERR_ARGUMENT;
  }
  write_page(directory, "overview.html", "MIB Definition related Overview file", _build_overview, dtd);
  write_page(directory, "asn1types.html", "ASN.1 Type Definitions", _build_asn1types, dtd);
  for (int entry_type = 1; entry_type <= tul::dict::kTemplateKinds; ++entry_type) {
    const TemplatePage& page = template_page(entry_type);
    write_page(directory, page.file, page.title, _build_templates, dtd, entry_type);
  }
  _create_gif(directory, "reddot");
  return 0;
}

TUL_API int TUL_print_HTML(TUL_Object* obj, const char* directory) {
  if (!obj) return 0;
  if (!directory) {
    TUL_trace_error(TUL_ERR_ARGUMENT, "print_HTML");
    return TUL_ERR_ARGUMENT;
  }
  write_value_page(obj, directory);
  return TUL_generate_HTML(tul_dtd(obj), directory);
}
