// The GDMO reader works on characters, not tokens: what a character means
// depends on the clause (any of fourteen characters opens a text there, and
// '"' also opens a document qualifier before a label). One table row per
// clause keyword drives all nine template kinds: the row names the kinds it
// belongs to, the reader of its operands and the meta-schema member they fill.
#include <algorithm>

#include "asn1_parser.h"
#include "dict.h"
#include "templates.h"

namespace tul::import {
namespace {

constexpr int kMaxInlineDepth = 8;
constexpr std::size_t kMaxTextLength = 4000;  // the value reader's token holds 5119
// Bounds that keep damaged text linear: how far an opened text or a module
// identifier is searched for its end.
constexpr std::size_t kMaxTextScan = std::size_t{1} << 18;
constexpr int kMaxIdentifierLength = 512;
constexpr std::string_view kDelimiters = "!\"#$%^&*'`~?@\\";

constexpr unsigned bit(int entry_type) { return 1u << entry_type; }
constexpr unsigned kNotification = bit(TUL_ENTRY_NOTIFICATION), kAttribute = bit(TUL_ENTRY_ATTRIBUTE),
                   kParameter = bit(TUL_ENTRY_PARAMETER), kAction = bit(TUL_ENTRY_ACTION), kMoc = bit(TUL_ENTRY_MOC),
                   kPackage = bit(TUL_ENTRY_PACKAGE), kNameBinding = bit(TUL_ENTRY_NAME_BINDING),
                   kGroup = bit(TUL_ENTRY_ATTRIBUTE_GROUP), kBehaviour = bit(TUL_ENTRY_BEHAVIOR);

enum class Operand {
  kRegistration,
  kLabels,
  kLabel,
  kClass,
  kConditional,
  kContext,
  kWithSyntax,
  kParameterAttribute,
  kAttributeSyntax,
  kDerived,
  kMatches,
  kFlag,
  kPackageAttributes,
  kPackageGroups,
  kPackageItems,
  kInformation,
  kActionInformation,
  kTypeReference,
  kCreate,
  kDelete,
  kText,
};

struct Clause {
  unsigned kinds;
  std::string_view keyword;
  Operand operand;
  const char* member;  // null: parsed and dropped
  bool mandatory = false;
  bool last = false;  // its ';' also ends the template
};

// In the order of the meta-schema members, which every kind follows.
constexpr Clause kClauses[] = {
    {kNotification | kAction | kMoc | kNameBinding | kGroup, "REGISTERED AS", Operand::kRegistration, "registration",
     true, true},
    {kAttribute | kPackage | kParameter, "REGISTERED AS", Operand::kRegistration, "registration", false, true},
    {kMoc, "DERIVED FROM", Operand::kLabels, "derivedFrom"},
    {kMoc, "ALLOMORPHIC SET", Operand::kLabels, nullptr},
    {kMoc, "CHARACTERIZED BY", Operand::kLabels, "characterizedBy"},
    {kMoc, "CONDITIONAL PACKAGES", Operand::kConditional, "conditional"},
    {kNameBinding, "SUBORDINATE OBJECT CLASS", Operand::kClass, "subordinate", true},
    {kNameBinding, "NAMED BY SUPERIOR OBJECT CLASS", Operand::kClass, "superior", true},
    {kNameBinding, "WITH ATTRIBUTE", Operand::kLabel, "withAttribute", true},
    {kParameter, "CONTEXT", Operand::kContext, "context", true},
    {kParameter, "WITH SYNTAX", Operand::kWithSyntax, "syntaxOrAttribute", true},
    {kParameter, "ATTRIBUTE", Operand::kParameterAttribute, "syntaxOrAttribute", true},
    {kAttribute, "WITH ATTRIBUTE SYNTAX", Operand::kAttributeSyntax, "derivedOrSyntax", true},
    {kAttribute, "DERIVED FROM", Operand::kDerived, "derivedOrSyntax", true},
    {kAttribute, "MATCHES FOR", Operand::kMatches, "matchesFor"},
    {kAttribute | kParameter | kPackage | kNameBinding | kAction | kNotification, "BEHAVIOUR", Operand::kLabels,
     "behavior"},
    {kAction, "MODE CONFIRMED", Operand::kFlag, "confirmed"},
    {kAttribute | kAction | kNotification, "PARAMETERS", Operand::kLabels, "parameters"},
    {kPackage, "ATTRIBUTES", Operand::kPackageAttributes, "attributes"},
    {kPackage, "ATTRIBUTE GROUPS", Operand::kPackageGroups, "attributeGroups"},
    {kPackage, "ACTIONS", Operand::kPackageItems, "actions"},
    {kPackage, "NOTIFICATIONS", Operand::kPackageItems, "notifications"},
    {kAction, "WITH INFORMATION SYNTAX", Operand::kActionInformation, "informationSyntax"},
    {kNotification, "WITH INFORMATION SYNTAX", Operand::kInformation, "information"},
    {kAction | kNotification, "WITH REPLY SYNTAX", Operand::kTypeReference, "replySyntax"},
    {kNameBinding, "CREATE", Operand::kCreate, "create"},
    {kNameBinding, "DELETE", Operand::kDelete, "delete"},
    {kGroup, "GROUP ELEMENTS", Operand::kLabels, "groupElements"},
    {kGroup, "FIXED", Operand::kFlag, "fixed"},
    {kGroup, "DESCRIPTION", Operand::kText, "description"},
    {kBehaviour, "DEFINED AS", Operand::kText, "definedAs", true, true},
};

// Keyword → meta-schema text, for the closed word sets of some clauses.
struct WordRow {
  std::string_view word;
  const char* text;
};

constexpr WordRow kContexts[] = {{"ACTION-INFO", "actionInfo : NULL"},   {"ACTION-REPLY", "actionReply : NULL"},
                                 {"EVENT-INFO", "eventInfo : NULL"},     {"EVENT-REPLY", "eventReply : NULL"},
                                 {"SPECIFIC-ERROR", "specificError : NULL"}};
constexpr WordRow kMatches[] = {{"EQUALITY", "equality"},
                                {"ORDERING", "ordering"},
                                {"SUBSTRINGS", "substrings"},
                                {"SET-COMPARISON", "setComparison"},
                                {"SET-INTERSECTION", "setIntersection"}};
constexpr WordRow kCreateModifiers[] = {{"WITH-REFERENCE-OBJECT", "withReferenceObject TRUE"},
                                        {"WITH-AUTOMATIC-INSTANCE-NAMING", "withAutomaticInstanceNaming TRUE"}};
constexpr WordRow kDeleteModifiers[] = {{"ONLY-IF-NO-CONTAINED-OBJECTS", "modifier onlyIfNoContainedObjects"},
                                        {"DELETES-CONTAINED-OBJECTS", "modifier deletesContainedObjects"}};

// Property list keywords. The first kPropertySlots rows fill the members
// of the same index; access and add/remove keywords add bits to one member.
enum class Property { kFlag, kValue, kType, kAccess, kAddRemove, kDropped };
struct PropertyRow {
  std::string_view keyword;
  Property kind;
  const char* member = nullptr;
  unsigned bits = 0;
};
constexpr PropertyRow kProperties[] = {
    {"REPLACE-WITH-DEFAULT", Property::kFlag, "replaceWithDefault"},
    {"DEFAULT VALUE", Property::kValue, "defaultValue"},
    {"INITIAL VALUE", Property::kValue, "initialValue"},
    {"PERMITTED VALUES", Property::kType, "permittedValues"},
    {"REQUIRED VALUES", Property::kType, "requiredValues"},
    {"GET-REPLACE", Property::kAccess, nullptr, 3},
    {"GET", Property::kAccess, nullptr, 1},
    {"REPLACE", Property::kAccess, nullptr, 2},
    {"ADD-REMOVE", Property::kAddRemove, nullptr, 3},
    {"ADD", Property::kAddRemove, nullptr, 1},
    {"REMOVE", Property::kAddRemove, nullptr, 2},
    {"SET-BY-CREATE", Property::kDropped},
    {"NO-MODIFY", Property::kDropped},
};
constexpr int kPropertySlots = 5;
constexpr const char* kAccessNames[] = {"", "get", "replace", "getReplace"};
constexpr const char* kAddRemoveNames[] = {"", "add", "remove", "addRemove"};

// Template keywords, longest first so that ATTRIBUTE GROUP is not read as
// ATTRIBUTE.
constexpr int kKeywordOrder[] = {TUL_ENTRY_MOC,       TUL_ENTRY_NAME_BINDING, TUL_ENTRY_ATTRIBUTE_GROUP,
                                 TUL_ENTRY_PACKAGE,   TUL_ENTRY_PARAMETER,    TUL_ENTRY_ATTRIBUTE,
                                 TUL_ENTRY_BEHAVIOR,  TUL_ENTRY_ACTION,       TUL_ENTRY_NOTIFICATION};

bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_word_char(char c) { return is_lower(c) || is_upper(c) || is_digit(c) || c == '-' || c == '/' || c == '.'; }
bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

// The last component of Module.Type or Module.value.
std::string_view last_component(std::string_view word) {
  const std::size_t dot = word.rfind('.');
  return dot == std::string_view::npos ? word : word.substr(dot + 1);
}

std::string list_text(const std::vector<std::string>& items) {
  std::string text = "{";
  for (std::size_t k = 0; k < items.size(); ++k) text += (k ? ", " : " ") + items[k];
  return text + " }";
}

class Reader {
 public:
  Reader(const Source& source, Diagnostics& diags, std::vector<Template>& out, std::vector<Module>& modules,
         int& dropped)
      : source_(source), text_(source.text), diags_(diags), out_(out), modules_(modules), dropped_(dropped) {}

  void run() {
    for (;;) {
      skip();
      if (eof()) return;
      const Mark start = mark();
      if (module_header()) {
        read_module(start);
        continue;
      }
      const std::string_view label = word();
      const int kind = is_lower(label.empty() ? ' ' : label[0]) ? template_keyword() : 0;
      failure_.clear();
      if (kind && parse_template(std::string(label), kind, start)) continue;
      if (failure_.empty()) {
        failure_ = label.empty() ? "expected a template label at " + quote_token(text_.substr(start.pos, 1))
                                 : "no template keyword after " + quote_token(label);
        failure_at_ = start;
        failure_item_ = std::string(label);
      }
      diags_.error(source_.file, {failure_at_.line, failure_at_.column}, failure_item_, failure_);
      recover(failure_at_);
    }
  }

  // Only lines that start outside a "..." string count: a MIB's
  // descriptions may hold any words.
  bool has_template_header() {
    for (bool in_string = false;;) {
      if (!in_string && at_template_header()) return true;
      while (!eof() && peek() != '\n') {
        if (!in_string && peek() == '-' && peek(1) == '-') {
          skip_comment();
          continue;
        }
        if (peek() == '"') in_string = !in_string;
        advance();
      }
      if (eof()) return false;
      advance();
    }
  }

 private:
  struct Mark {
    std::size_t pos = 0;
    int line = 1;
    int column = 1;
  };

  // --- characters ----------------------------------------------------------
  Mark mark() const { return at_; }
  void reset(Mark m) { at_ = m; }
  bool eof() const { return at_.pos >= text_.size(); }
  char peek(std::size_t ahead = 0) const { return at_.pos + ahead < text_.size() ? text_[at_.pos + ahead] : '\0'; }
  void advance() {
    if (text_[at_.pos] == '\n') {
      ++at_.line;
      at_.column = 1;
    } else {
      ++at_.column;
    }
    ++at_.pos;
  }
  bool next_line() {
    while (!eof() && peek() != '\n') advance();
    if (eof()) return false;
    advance();
    return true;
  }

  // From "--" to the next "--" or the end of the line.
  void skip_comment() {
    advance();
    advance();
    while (!eof() && peek() != '\n' && !(peek() == '-' && peek(1) == '-')) advance();
    if (peek() == '-') {
      advance();
      advance();
    }
  }

  // Blanks and comments.
  void skip() {
    while (!eof()) {
      if (is_blank(peek()))
        advance();
      else if (peek() == '-' && peek(1) == '-')
        skip_comment();
      else
        return;
    }
  }

  // A word: letters, digits, '-', '/' and '.', never running into "--".
  std::string_view word() {
    skip();
    const std::size_t start = at_.pos;
    while (!eof() && is_word_char(peek()) && !(peek() == '-' && peek(1) == '-')) advance();
    return std::string_view(text_).substr(start, at_.pos - start);
  }

  // Consumes the words of `keyword` (any white space between them).
  bool keyword(std::string_view keyword) {
    const Mark m = mark();
    for (std::size_t start = 0; start < keyword.size();) {
      std::size_t end = keyword.find(' ', start);
      if (end == std::string_view::npos) end = keyword.size();
      if (word() != keyword.substr(start, end - start)) {
        reset(m);
        return false;
      }
      start = end + 1;
    }
    return true;
  }

  bool accept(char c) {
    skip();
    if (peek() != c) return false;
    advance();
    return true;
  }

  bool fail(std::string message) { return fail_at(mark(), std::move(message)); }
  bool fail_at(Mark at, std::string message) {
    if (failure_.empty()) {
      failure_ = std::move(message);
      failure_at_ = at;
      failure_item_ = current_ ? current_->label : "";
    }
    return false;
  }
  bool expect(char c, const char* after) {
    return accept(c) || fail(std::string("expected '") + c + "' after " + after + " at " + quote_token(text_.substr(at_.pos, 1)));
  }

  // --- headers and recovery ------------------------------------------------
  int template_keyword() {
    for (int kind : kKeywordOrder)
      if (keyword(dict::template_kind(kind)->keyword)) return kind;
    return 0;
  }

  bool at_template_header() {
    const Mark m = mark();
    const std::string_view label = word();
    bool header = !label.empty() && is_lower(label[0]) && template_keyword() != 0;
    if (header) {
      skip();
      header = text_.compare(at_.pos, 3, "::=") != 0;
    }
    reset(m);
    return header;
  }

  bool module_header() {
    const Mark m = mark();
    const std::string_view name = word();
    bool header = !name.empty() && is_upper(name[0]);
    if (header && accept('{')) {
      for (int k = 0; k < kMaxIdentifierLength && !eof() && peek() != '}'; ++k) advance();
      accept('}');
    }
    header = header && word() == "DEFINITIONS";
    reset(m);
    return header;
  }

  // Moves to the first line after `from` that starts a template or module.
  void recover(Mark from) {
    reset(from);
    while (next_line()) {
      skip();
      if (at_template_header() || module_header()) return;
      reset(mark());
    }
  }

  // An ASN.1 module between templates runs to the first line that starts
  // with END; it is scanned from its own line and column.
  void read_module(Mark start) {
    std::size_t end = text_.size();
    for (std::size_t p = text_.find('\n', start.pos); p != std::string::npos; p = text_.find('\n', p + 1)) {
      std::size_t q = p + 1;
      while (q < text_.size() && (text_[q] == ' ' || text_[q] == '\t')) ++q;
      if (text_.compare(q, 3, "END") == 0 && (q + 3 >= text_.size() || !is_word_char(text_[q + 3]))) {
        end = std::min(text_.size(), q + 3);
        break;
      }
    }
    Source module{source_.file, text_.substr(start.pos, end - start.pos), {start.line, start.column}};
    parse_asn1(module, scan_asn1(module, diags_), diags_, modules_);
    while (at_.pos < end) advance();
  }

  // --- templates -------------------------------------------------------------
  bool parse_template(std::string label, int kind, Mark at) {
    if (depth_ >= kMaxInlineDepth) return fail("inline templates nested deeper than " + std::to_string(kMaxInlineDepth));
    Template t;
    t.kind = kind;
    t.label = std::move(label);
    t.file = source_.file;
    t.at = {at.line, at.column};
    Template* outer = current_;
    current_ = &t;
    ++depth_;
    const bool ok = parse_clauses(t);
    --depth_;
    current_ = outer;
    if (ok && has_mandatory_clauses(t)) {
      std::stable_sort(t.fields.begin(), t.fields.end(),
                       [](const TemplateField& a, const TemplateField& b) { return a.order < b.order; });
      out_.push_back(std::move(t));
    }
    return ok;
  }

  const Clause* clause_for(int kind) {
    for (const Clause& c : kClauses)
      if ((c.kinds & bit(kind)) && keyword(c.keyword)) return &c;
    return nullptr;
  }

  // Whether a clause keyword of any kind follows (not consumed).
  bool at_any_clause() {
    const Mark m = mark();
    bool found = false;
    for (int kind = 1; kind <= dict::kTemplateKinds && !found; ++kind) found = clause_for(kind) != nullptr;
    reset(m);
    return found;
  }

  bool parse_clauses(Template& t) {
    for (;;) {
      if (accept(';')) return true;
      if (eof()) return depth_ == 1 || fail("template " + t.label + " is not closed by ';'");
      const Mark m = mark();
      const Clause* c = clause_for(t.kind);
      if (!c) {
        // A template that lacks its closing ';' ends where the text goes on
        // with something else than its own clauses.
        skip();
        if (peek() == ',' || is_lower(peek()) || (depth_ > 1 && at_any_clause())) return true;
        const std::string_view w = word();
        diags_.error(source_.file, {m.line, m.column}, t.label,
                     "unknown keyword " + quote_token(w.empty() ? text_.substr(at_.pos, 1) : w) + " in " +
                         dict::template_kind(t.kind)->keyword + " " + t.label);
        while (!eof() && peek() != ';') advance();
        accept(';');
        continue;
      }
      if (!read_clause(*c, t, m)) return false;
      if (c->last) {
        accept(';');
        return true;
      }
      if (!expect(';', std::string(c->keyword).c_str())) return false;
    }
  }

  bool read_clause(const Clause& c, Template& t, Mark at) {
    std::string text;
    if (!read_operand(c, t, text)) return false;
    if (c.operand == Operand::kRegistration) return true;
    if (!c.member) {
      ++dropped_;
      return true;
    }
    for (const TemplateField& f : t.fields)
      if (f.member == c.member) {
        diags_.warning(source_.file, {at.line, at.column}, t.label,
                       std::string(c.keyword) + " given again in " + t.label + "; the first is kept");
        return true;
      }
    t.fields.push_back({static_cast<int>(&c - kClauses), c.member, std::move(text)});
    return true;
  }

  bool has_mandatory_clauses(const Template& t) {
    for (const Clause& c : kClauses) {
      if (!(c.kinds & bit(t.kind)) || !c.mandatory) continue;
      bool present = c.operand == Operand::kRegistration && t.registered;
      for (const TemplateField& f : t.fields) present = present || f.member == c.member;
      if (present) continue;
      diags_.error(source_.file, t.at, t.label,
                   std::string(dict::template_kind(t.kind)->keyword) + " " + t.label + " has no " +
                       std::string(c.keyword) + " clause");
      return false;
    }
    return true;
  }

  // --- operands --------------------------------------------------------------
  bool read_operand(const Clause& c, Template& t, std::string& text) {
    switch (c.operand) {
      case Operand::kRegistration:
        t.registered = true;
        return read_oid(t.registration);
      case Operand::kLabels:
        return read_labels(text);
      case Operand::kLabel:
        return read_quoted_label(text);
      case Operand::kClass:
        return read_class(text);
      case Operand::kConditional:
        return read_conditional(text);
      case Operand::kContext:
        return read_context(text);
      case Operand::kWithSyntax:
        return read_type(text) && (text = "withSyntax : " + text, true);
      case Operand::kParameterAttribute:
        return read_quoted_label(text) && (text = "attribute : " + text, true);
      case Operand::kAttributeSyntax:
        return read_type(text) && (text = "syntax : " + text, true);
      case Operand::kDerived:
        return read_label(t.derived_from);
      case Operand::kMatches:
        return read_matches(text);
      case Operand::kFlag:
        text = "TRUE";
        return true;
      case Operand::kPackageAttributes:
      case Operand::kPackageGroups:
      case Operand::kPackageItems:
        return read_package_list(c.operand, text);
      case Operand::kInformation:
      case Operand::kActionInformation:
        return read_information(c.operand == Operand::kInformation, text);
      case Operand::kTypeReference:
        return read_type(text);
      case Operand::kCreate:
        return read_modifiers(kCreateModifiers, true, text);
      case Operand::kDelete:
        return read_modifiers(kDeleteModifiers, false, text);
      case Operand::kText:
        return read_text(false, text);
    }
    return false;
  }

  // A label, perhaps with a document qualifier ("...": or {...}:), perhaps
  // followed by an inline template, which is read and hoisted.
  bool read_label(std::string& label) {
    skip();
    if (peek() == '"' || peek() == '{') {
      const Mark open = mark();
      const char close = peek() == '"' ? '"' : '}';
      advance();
      while (!eof() && peek() != close && peek() != '\n') advance();
      if (peek() != close) return fail_at(open, "document qualifier is not closed on its line");
      advance();
      if (!accept(':')) return fail("expected ':' after a document qualifier");
    }
    const Mark at = mark();
    const std::string_view w = word();
    if (w.empty() || !is_lower(w[0]))
      return fail("expected a template label at " + quote_token(w.empty() ? text_.substr(at_.pos, 1) : w));
    label = std::string(w);
    if (const int kind = template_keyword()) return parse_template(label, kind, at);
    current_->uses.push_back({label, {at.line, at.column}});
    return true;
  }

  bool read_quoted_label(std::string& text) {
    std::string label;
    if (!read_label(label)) return false;
    text = notation_string(label);
    return true;
  }

  bool read_labels(std::string& text) {
    std::vector<std::string> labels;
    do {
      if (!read_quoted_label(labels.emplace_back())) return false;
    } while (accept(','));
    text = list_text(labels);
    return true;
  }

  // Labels up to the next ',' or ';' (parameters after an item).
  bool read_trailing_labels(std::vector<std::string>& labels) {
    for (skip(); peek() == '"' || peek() == '{' || is_lower(peek()); skip())
      if (!read_quoted_label(labels.emplace_back())) return false;
    return true;
  }

  bool read_type(std::string& text) {
    const std::string_view w = word();
    if (w.empty() || !is_upper(w[0]))
      return fail("expected a type reference at " + quote_token(w.empty() ? text_.substr(at_.pos, 1) : w));
    text = notation_string(last_component(w));
    current_->types.emplace_back(last_component(w));
    return true;
  }

  bool read_class(std::string& text) {
    std::string label;
    if (!read_quoted_label(label)) return false;
    text = "{ label " + label + (keyword("AND SUBCLASSES") ? ", andSubclasses TRUE }" : " }");
    return true;
  }

  bool read_conditional(std::string& text) {
    std::vector<std::string> items;
    do {
      std::string label, condition;
      if (!read_quoted_label(label)) return false;
      if (keyword("PRESENT ONLY IF"))
        ++dropped_;  // held as PRESENT IF
      else if (!keyword("PRESENT IF"))
        return fail("expected PRESENT IF after a conditional package");
      if (!read_text(true, condition)) return false;
      items.push_back("{ label " + label + ", presentIf " + condition + " }");
    } while (accept(','));
    text = list_text(items);
    return true;
  }

  bool read_context(std::string& text) {
    const Mark m = mark();
    const std::string_view w = word();
    for (const WordRow& row : kContexts)
      if (w == row.word) {
        text = row.text;
        return true;
      }
    const std::size_t dot = w.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || !is_upper(w[0]))
      return fail_at(m, "expected a context keyword at " + quote_token(w.empty() ? text_.substr(at_.pos, 1) : w));
    text = "keyword : { type " + notation_string(last_component(w.substr(0, dot))) + ", field " +
           notation_string(w.substr(dot + 1)) + " }";
    return true;
  }

  bool read_matches(std::string& text) {
    bool chosen[std::size(kMatches)] = {};
    do {
      const Mark m = mark();
      const std::string_view w = word();
      const auto* row = std::find_if(std::begin(kMatches), std::end(kMatches), [&](const WordRow& r) { return r.word == w; });
      if (row == std::end(kMatches)) return fail_at(m, "unknown matching rule " + quote_token(w));
      chosen[row - kMatches] = true;
    } while (accept(','));
    std::vector<std::string> items;
    for (std::size_t k = 0; k < std::size(kMatches); ++k)
      if (chosen[k]) items.push_back(std::string(kMatches[k].text) + " TRUE");
    text = list_text(items);
    return true;
  }

  bool read_value_specifier(std::string& text) {
    if (keyword("DERIVATION RULE")) {
      std::string label;
      if (!read_quoted_label(label)) return false;
      text = "derivationRule : " + label;
      return true;
    }
    const std::string_view w = word();
    if (w.empty()) return fail("expected a value reference");
    text = "valueReference : " + notation_string(last_component(w));
    return true;
  }

  // A property list, written in the meta-schema's member order.
  bool read_properties(std::string& text) {
    std::string slots[kPropertySlots];
    unsigned access = 0, add_remove = 0;
    for (;;) {
      const PropertyRow* row = nullptr;
      for (const PropertyRow& r : kProperties)
        if (!row && keyword(r.keyword)) row = &r;
      if (!row) break;
      std::string operand = "TRUE";
      switch (row->kind) {
        case Property::kFlag:
          break;
        case Property::kValue:
          if (!read_value_specifier(operand)) return false;
          break;
        case Property::kType:
          if (!read_type(operand)) return false;
          break;
        case Property::kAccess:
          access |= row->bits;
          continue;
        case Property::kAddRemove:
          add_remove |= row->bits;
          continue;
        case Property::kDropped:
          ++dropped_;
          continue;
      }
      slots[row - kProperties] = std::string(row->member) + " " + operand;
    }
    std::vector<std::string> items;
    for (std::string& slot : slots)
      if (!slot.empty()) items.push_back(std::move(slot));
    // GET and REPLACE written apart mean get-replace.
    if (access) items.push_back(std::string("getReplace ") + kAccessNames[access]);
    if (add_remove) items.push_back(std::string("addRemove ") + kAddRemoveNames[add_remove]);
    text = list_text(items);
    return true;
  }

  // ATTRIBUTES, ATTRIBUTE GROUPS, ACTIONS and NOTIFICATIONS of a package:
  // a label, for attributes a property list, then labels (parameters, or
  // the attributes of a group) up to the next ','.
  bool read_package_list(Operand operand, std::string& text) {
    std::vector<std::string> items;
    do {
      std::string label, properties;
      std::vector<std::string> trailing;
      if (!read_quoted_label(label)) return false;
      if (operand == Operand::kPackageAttributes && !read_properties(properties)) return false;
      if (!read_trailing_labels(trailing)) return false;
      std::string item = "{ label " + label;
      if (operand == Operand::kPackageAttributes) item += ", propertyList " + properties;
      if (!trailing.empty())
        item += (operand == Operand::kPackageGroups ? ", attributes " : ", parameters ") + list_text(trailing);
      items.push_back(item + " }");
    } while (accept(','));
    text = list_text(items);
    return true;
  }

  // WITH INFORMATION SYNTAX T [AND ATTRIBUTE IDS field label, ...]; an
  // action's information has no place for the ids.
  bool read_information(bool notification, std::string& text) {
    std::string syntax;
    if (!read_type(syntax)) return false;
    std::vector<std::string> ids;
    if (keyword("AND ATTRIBUTE IDS")) {
      do {
        const std::string_view field = word();
        if (field.empty() || !is_lower(field[0])) return fail("expected a field name after AND ATTRIBUTE IDS");
        std::string label;
        const std::string field_text = notation_string(field);
        if (!read_quoted_label(label)) return false;
        ids.push_back("{ field " + field_text + ", attribute " + label + " }");
      } while (accept(','));
      if (!notification) ++dropped_;
    }
    text = !notification ? syntax
           : ids.empty() ? "{ syntax " + syntax + " }"
                         : "{ syntax " + syntax + ", andAttributeIds " + list_text(ids) + " }";
    return true;
  }

  template <std::size_t N>
  bool read_modifiers(const WordRow (&rows)[N], bool several, std::string& text) {
    std::vector<std::string> items;
    for (bool more = true; more;) {
      more = false;
      for (const WordRow& row : rows)
        if (keyword(row.word)) {
          items.emplace_back(row.text);
          more = several && accept(',');
        }
    }
    std::vector<std::string> parameters;
    if (!read_trailing_labels(parameters)) return false;
    if (!parameters.empty()) items.push_back("parameters " + list_text(parameters));
    text = list_text(items);
    return true;
  }

  bool read_oid(std::vector<OidItem>& items) {
    if (!accept('{')) return fail("expected '{' after REGISTERED AS");
    while (!accept('}')) {
      skip();
      OidItem item;
      item.at = {at_.line, at_.column};
      const std::string_view w = word();
      if (w.empty()) return fail("expected an OBJECT IDENTIFIER component at " + quote_token(text_.substr(at_.pos, 1)));
      uint64_t n;
      if (is_digit(w[0])) {
        if (!number_value(w, UINT32_MAX, n)) return fail("arc " + quote_token(w) + " is beyond 32 bits");
        item.has_number = true;
        item.number = static_cast<uint32_t>(n);
      } else {
        item.name = std::string(last_component(w));
        if (accept('(')) {
          const std::string_view digits = word();
          if (digits.empty() || !number_value(digits, UINT32_MAX, n)) return fail("expected an arc number");
          item.has_number = true;
          item.number = static_cast<uint32_t>(n);
          if (!expect(')', "an arc number")) return false;
        }
      }
      items.push_back(std::move(item));
    }
    return true;
  }

  // A delimited text (an inner delimiter doubled), or undelimited text up
  // to the next ';' (or ',' when `comma_ends`).
  bool read_text(bool comma_ends, std::string& text) {
    skip();
    const Mark open = mark();
    std::string body;
    const char delimiter = peek();
    if (delimiter != '\0' && kDelimiters.find(delimiter) != std::string_view::npos) {
      advance();
      for (;;) {
        if (eof() || at_.pos - open.pos > kMaxTextScan)
          return fail_at(open, std::string("text delimiter '") + delimiter + "' is never closed");
        const char c = peek();
        advance();
        if (c == delimiter) {
          if (peek() != delimiter) break;
          advance();
        }
        body += c;
      }
    } else {
      while (!eof() && peek() != ';' && !(comma_ends && peek() == ',')) {
        body += peek();
        advance();
      }
      while (!body.empty() && is_blank(body.back())) body.pop_back();
    }
    if (body.size() > kMaxTextLength) {
      diags_.warning(source_.file, {open.line, open.column}, current_->label,
                     "text of " + std::to_string(body.size()) + " characters cut to " + std::to_string(kMaxTextLength));
      body.resize(kMaxTextLength);
    }
    text = notation_string(body);
    return true;
  }

  const Source& source_;
  const std::string& text_;
  Diagnostics& diags_;
  std::vector<Template>& out_;
  std::vector<Module>& modules_;
  int& dropped_;
  Mark at_;
  Template* current_ = nullptr;
  int depth_ = 0;
  std::string failure_;
  Mark failure_at_;
  std::string failure_item_;
};

}  // namespace

bool is_gdmo_text(std::string_view text) {
  const Source source{"", std::string(text)};
  Diagnostics diags;
  std::vector<Template> templates;
  std::vector<Module> modules;
  int dropped = 0;
  return Reader(source, diags, templates, modules, dropped).has_template_header();
}

void parse_gdmo(const Source& source, Diagnostics& diags, std::vector<Template>& templates,
                std::vector<Module>& modules, int& dropped) {
  Reader(source, diags, templates, modules, dropped).run();
}

std::string notation_string(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c >= 32 && c <= 126) {
      if (c == '"' || c == '\\') out += '\\';
      out += ch;
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out + "\"";
}

}  // namespace tul::import
