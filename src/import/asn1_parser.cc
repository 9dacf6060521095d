// Recursive descent over the X.208 notation and the X.680 subset that
// network-management modules use. Skipped constructs (values, objects,
// macros, constraints) are stepped over by counting brackets, never by
// recursion, so damaged or deeply nested text costs time linear in its size.
#include "asn1_parser.h"

#include <array>
#include <climits>

namespace tul::import {
namespace {

constexpr std::array<std::string_view, 22> kMacroNames = {
    "OBJECT-TYPE",        "TRAP-TYPE",          "NOTIFICATION-TYPE",   "MODULE-IDENTITY",
    "OBJECT-IDENTITY",    "TEXTUAL-CONVENTION", "OBJECT-GROUP",        "NOTIFICATION-GROUP",
    "MODULE-COMPLIANCE",  "AGENT-CAPABILITIES", "OPERATION",           "ERROR",
    "BIND",               "UNBIND",             "APPLICATION-CONTEXT", "APPLICATION-SERVICE-ELEMENT",
    "ABSTRACT-OPERATION", "ABSTRACT-ERROR",     "ABSTRACT-BIND",       "ABSTRACT-UNBIND",
    "PORT",               "ALGORITHM",
};

// The SNMP macros whose instances carry what templates need; the first
// ten entries of kMacroNames.
constexpr std::size_t kSnmpMacros = 10;

// Type keywords the dictionary knows under the same name.
constexpr std::array<std::string_view, 4> kSimpleTypes = {"BOOLEAN", "NULL", "REAL", "EXTERNAL"};

// Constructs the library cannot represent: the assignment using one is
// rejected with its name.
constexpr std::array<std::string_view, 8> kRejectedTypes = {
    "EMBEDDED", "CHARACTER", "RELATIVE-OID", "TIME", "DATE", "TIME-OF-DAY", "DATE-TIME", "DURATION"};

template <std::size_t N>
bool contains(const std::array<std::string_view, N>& table, std::string_view word) {
  for (std::string_view w : table)
    if (w == word) return true;
  return false;
}

constexpr int64_t kInt32Max = INT32_MAX;

class Parser {
 public:
  Parser(const Source& source, const std::vector<Token>& tokens, Diagnostics& diags)
      : source_(source), t_(tokens), diags_(diags) {}

  void run(std::vector<Module>& modules) {
    bool reported_stray = false;
    while (cur().kind != TokenKind::kEnd) {
      const std::size_t header = find_header(pos_);
      if (header == kNone) {
        if (!reported_stray) error_at(cur(), "", "no module header ('Name DEFINITIONS ::= BEGIN') at " + quote_token(cur().text));
        return;
      }
      if (header != pos_ && !reported_stray) {
        error_at(cur(), "", "text outside a module at " + quote_token(cur().text));
        reported_stray = true;
      }
      pos_ = header;
      Module module;
      module.file = source_.file;
      if (parse_module(module)) modules.push_back(std::move(module));
    }
  }

 private:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  static constexpr std::size_t kMaxParameterTokens = 64;

  // --- token access -----------------------------------------------------
  const Token& at(std::size_t i) const { return i < t_.size() ? t_[i] : t_.back(); }
  const Token& cur() const { return at(pos_); }
  const Token& ahead(std::size_t n) const { return at(pos_ + n); }
  const Token& take() {
    const Token& t = cur();
    if (t.kind != TokenKind::kEnd) ++pos_;
    return t;
  }
  bool accept(char c) {
    if (!cur().is(c)) return false;
    ++pos_;
    return true;
  }
  bool accept_word(std::string_view w) {
    if (!cur().is_word(w)) return false;
    ++pos_;
    return true;
  }

  // --- failures ----------------------------------------------------------
  void error_at(const Token& t, std::string_view item, std::string message) {
    diags_.error(source_.file, t.at, item, std::move(message));
  }
  void warn(const Token& t, std::string message) { diags_.warning(source_.file, t.at, item_, std::move(message)); }
  // Records the first failure of the current assignment; always false.
  bool fail(std::string message) {
    if (failure_.empty()) {
      failure_ = std::move(message);
      failure_token_ = pos_;
    }
    return false;
  }
  bool expect(char c) { return accept(c) || fail(std::string("expected '") + c + "'"); }
  bool expect_word(std::string_view w) { return accept_word(w) || fail("expected " + std::string(w)); }

  // --- skipping by counting brackets --------------------------------------
  // Steps over a bracketed group starting at the current '{', '(' or '['.
  bool skip_group() {
    const Token& open = cur();
    int depth = 0;
    do {
      const Token& t = take();
      if (t.kind == TokenKind::kEnd) {
        error_at(open, item_, "bracket " + quote_token(open.text) + " is never closed");
        failure_token_ = kNone;
        return false;
      }
      if (t.is('{') || t.is('(') || t.is('[')) ++depth;
      if (t.is('}') || t.is(')') || t.is(']')) --depth;
      if (t.kind == TokenKind::kLeftVersion) depth += 2;
      if (t.kind == TokenKind::kRightVersion) depth -= 2;
    } while (depth > 0);
    return true;
  }

  // Steps over a value ending at a ',' or closing bracket at the same depth.
  bool skip_until_separator() {
    while (!cur().is(',') && !cur().is('}') && !cur().is(')') && cur().kind != TokenKind::kRightVersion) {
      if (cur().kind == TokenKind::kEnd) return fail("text ends inside a value");
      if (cur().is('{') || cur().is('(') || cur().is('[')) {
        if (!skip_group()) return false;
      } else {
        take();
      }
    }
    return true;
  }

  // Index just past the group opened at `p`, or kNone when it is not closed
  // within `limit` tokens.
  std::size_t group_end(std::size_t p, std::size_t limit) const {
    int depth = 0;
    for (std::size_t q = p; q < p + limit && at(q).kind != TokenKind::kEnd; ++q) {
      if (at(q).is('{')) ++depth;
      if (at(q).is('}') && --depth == 0) return q + 1;
    }
    return kNone;
  }

  // Whether an assignment starts at `p`: "Name ::=", "Name {params} ::=",
  // "value Type ::=" (a type of up to two words), "ObjectSet CLASS ::=",
  // "value MACRO-NAME ..." and END.
  bool is_assignment_start(std::size_t p) const {
    const Token& name = at(p);
    if (name.kind != TokenKind::kWord) return false;
    if (name.is_word("END")) return true;
    if (at(p + 1).kind == TokenKind::kAssign) return true;
    if (at(p + 1).is('{')) {
      const std::size_t end = group_end(p + 1, kMaxParameterTokens);
      return end != kNone && (at(end).kind == TokenKind::kAssign ||
                              (at(end).kind == TokenKind::kWord && at(end + 1).kind == TokenKind::kAssign));
    }
    if (name.lower() && at(p + 1).kind == TokenKind::kWord && is_macro_name(at(p + 1).text)) return true;
    const std::size_t words = name.lower() ? 2 : 1;
    for (std::size_t k = 1; k <= words; ++k) {
      if (at(p + k).kind != TokenKind::kWord) return false;
      if (at(p + k + 1).kind == TokenKind::kAssign) return true;
    }
    return false;
  }

  // The start of the assignment whose "::=" is at `q`, read backwards.
  std::size_t start_before(std::size_t q) const {
    if (q == 0) return 0;
    std::size_t p = q - 1;
    if (at(p).is('}')) {  // parameter list, searched over a bounded stretch
      int depth = 0;
      for (std::size_t k = 0; p > 0 && k < kMaxParameterTokens; --p, ++k) {
        if (at(p).is('}')) ++depth;
        if (at(p).is('{') && --depth == 0) return p - 1;
      }
      return q - 1;
    }
    if (p >= 1 && at(p - 1).lower() && at(p).kind == TokenKind::kWord) return p - 1;
    if (p >= 2 && at(p - 2).lower() && at(p - 1).kind == TokenKind::kWord && at(p).kind == TokenKind::kWord) return p - 2;
    return p;
  }

  // Recovery: the first assignment that starts after `after`, found from
  // the next "::=" at bracket depth 0 (depth never goes below 0, so recovery
  // from inside a group finds the group's end), or END.
  std::size_t find_assignment(std::size_t p, std::size_t after) const {
    int depth = 0;
    for (; at(p).kind != TokenKind::kEnd; ++p) {
      const Token& t = at(p);
      if (t.is('{')) ++depth;
      if (t.is('}') && depth > 0) --depth;
      if (depth != 0 || p <= after) continue;
      if (t.is_word("END") && at(p + 1).kind != TokenKind::kAssign) return p;
      if (t.lower() && at(p + 1).kind == TokenKind::kWord && is_macro_name(at(p + 1).text)) return p;
      if (t.kind == TokenKind::kAssign && start_before(p) > after) return start_before(p);
    }
    return p;
  }

  // The name token of the next module header at or after `from`. A module
  // identifier's braces are searched backwards over a bounded stretch, and
  // never before `from`, so every search moves forward.
  std::size_t find_header(std::size_t from) const {
    constexpr std::size_t kMaxIdentifierTokens = 128;
    for (std::size_t p = from; at(p).kind != TokenKind::kEnd; ++p) {
      if (!at(p).is_word("DEFINITIONS") || p == 0) continue;
      if (at(p - 1).upper() && p - 1 >= from) return p - 1;
      if (!at(p - 1).is('}')) continue;
      int depth = 0;
      for (std::size_t q = p - 1; q > from && p - q < kMaxIdentifierTokens; --q) {
        if (at(q).is('}')) ++depth;
        if (at(q).is('{') && --depth == 0) {
          if (at(q - 1).upper() && q - 1 >= from) return q - 1;
          break;
        }
      }
    }
    return kNone;
  }

  // --- module structure ---------------------------------------------------
  bool parse_module(Module& m) {
    const Token& name = take();
    m.name = std::string(name.text);
    item_ = m.name;
    module_name_ = m.name;
    failure_.clear();
    if (cur().is('{')) skip_group();
    if (!parse_header_tail(m)) {
      report_failure();
      item_.clear();
      const std::size_t next = find_header(pos_ + 1);
      pos_ = next == kNone ? t_.size() - 1 : next;
      return false;
    }
    item_.clear();
    parse_exports_imports();
    while (cur().kind != TokenKind::kEnd && !cur().is_word("END")) parse_assignment_or_recover(m);
    if (!accept_word("END")) error_at(cur(), m.name, "module " + m.name + " has no END");
    return true;
  }

  bool parse_header_tail(Module& m) {
    if (!expect_word("DEFINITIONS")) return false;
    if (accept_word("IMPLICIT"))
      m.tag_default = TagDefault::kImplicit;
    else if (accept_word("AUTOMATIC"))
      m.tag_default = TagDefault::kAutomatic;
    else
      accept_word("EXPLICIT");
    if (m.tag_default != TagDefault::kExplicit || at(pos_ - 1).is_word("EXPLICIT"))
      if (!expect_word("TAGS")) return false;
    if (accept_word("EXTENSIBILITY") && !expect_word("IMPLIED")) return false;
    if (cur().kind != TokenKind::kAssign) return fail("expected '::='");
    take();
    return expect_word("BEGIN");
  }

  // Imports matter only through the names they bring, and the dictionary
  // has one namespace: both lists are stepped over to their ';'.
  void parse_exports_imports() {
    for (std::string_view word : {"EXPORTS", "IMPORTS"}) {
      if (!cur().is_word(word)) continue;
      const std::size_t start = pos_;
      take();
      while (!cur().is(';') && cur().kind != TokenKind::kEnd && cur().kind != TokenKind::kAssign) take();
      if (accept(';')) continue;
      error_at(at(start), "", std::string(word) + " list is not closed by ';'");
      pos_ = find_assignment(start + 1, start);
    }
  }

  void report_failure() {
    const Token& t = at(failure_token_ == kNone ? pos_ : failure_token_);
    if (failure_token_ != kNone || !failure_.empty())
      error_at(t, item_, failure_ + (t.kind == TokenKind::kEnd ? " at the end of the text" : " at " + quote_token(t.text)));
  }

  void parse_assignment_or_recover(Module& m) {
    const std::size_t start = pos_;
    Assignment a;
    a.at = cur().at;
    a.name = std::string(cur().text);
    item_ = a.name;
    failure_.clear();
    failure_token_ = pos_;
    bool ok = cur().kind == TokenKind::kWord ? parse_assignment(a) : fail("expected an assignment");
    if (ok && !is_assignment_start(pos_) && cur().kind != TokenKind::kEnd)
      ok = fail("unexpected text after the assignment");
    if (ok) {
      m.assignments.push_back(std::move(a));
      for (Assignment& s : synthesized_) m.assignments.push_back(std::move(s));
    } else {
      if (!failure_.empty()) report_failure();
      pos_ = find_assignment(start + 1, start);
    }
    item_.clear();
  }

  bool parse_assignment(Assignment& a) {
    synthesized_.clear();
    take();
    if (cur().is('{')) return fail("parameterized assignment " + a.name + " is not supported");
    if (accept_word("MACRO")) return skip_macro(a);
    if (cur().kind == TokenKind::kAssign) {
      take();
      return parse_type_or_class(a);
    }
    // "Name CLASS ::= {...}" (object sets) and "name Type ::= value".
    if (a.name[0] >= 'A' && a.name[0] <= 'Z') return skip_to_value(a);
    if (cur().kind == TokenKind::kWord && is_snmp_macro(cur().text)) return parse_macro_instance(a);
    if (cur().kind == TokenKind::kWord && is_macro_name(cur().text)) return skip_to_value(a);
    return parse_value_assignment(a);
  }

  bool skip_macro(Assignment& a) {
    if (cur().kind != TokenKind::kAssign) return fail("expected '::='");
    take();
    if (!expect_word("BEGIN")) return false;
    while (!cur().is_word("END")) {
      if (cur().kind == TokenKind::kEnd) return fail("macro " + a.name + " has no END");
      take();
    }
    take();
    a.kind = AssignmentKind::kSkipped;
    return true;
  }

  // Objects, object sets and macro instances: their values are stepped over,
  // but a macro instance's OBJECT IDENTIFIER value is kept for later names.
  bool skip_to_value(Assignment& a) {
    while (cur().kind != TokenKind::kAssign) {
      if (cur().kind == TokenKind::kEnd) return fail("expected '::='");
      if (cur().is('{') || cur().is('(')) {
        if (!skip_group()) return false;
      } else {
        take();
      }
    }
    take();
    a.kind = AssignmentKind::kSkipped;
    const std::size_t value = pos_;
    if (a.name[0] >= 'a' && a.name[0] <= 'z' && parse_oid(a.oid) && is_assignment_start(pos_)) {
      a.kind = AssignmentKind::kOidValue;
      return true;
    }
    a.oid.clear();
    pos_ = value;
    failure_.clear();
    return skip_value();
  }

  bool skip_value() {
    if (cur().is('{')) return skip_group();
    take();
    while (cur().kind != TokenKind::kEnd && !is_assignment_start(pos_)) {
      if (cur().is('{') || cur().is('(')) {
        if (!skip_group()) return false;
      } else {
        take();
      }
    }
    return true;
  }

  bool parse_value_assignment(Assignment& a) {
    a.type = parse_type(0);
    if (!a.type) return false;
    if (cur().kind != TokenKind::kAssign) return fail("expected '::='");
    take();
    const Type& t = *a.type;
    if (t.kind == TypeKind::kBuiltin && t.name == "OBJECT IDENTIFIER") {
      if (!parse_oid(a.oid)) return fail("cannot read the OBJECT IDENTIFIER value");
      a.kind = AssignmentKind::kOidValue;
      return true;
    }
    if (t.kind == TypeKind::kBuiltin && t.name == "INTEGER" && (cur().kind == TokenKind::kNumber || cur().is('-'))) {
      if (!parse_signed(a.integer)) return false;
      a.kind = AssignmentKind::kIntegerValue;
      return true;
    }
    a.kind = AssignmentKind::kSkipped;
    return skip_value();
  }

  static bool is_snmp_macro(std::string_view name) {
    for (std::size_t k = 0; k < kSnmpMacros; ++k)
      if (kMacroNames[k] == name) return true;
    return false;
  }

  // Steps over one clause item of a macro instance.
  bool skip_macro_token() {
    if (cur().kind == TokenKind::kEnd) return fail("expected '::='");
    if (cur().is('{') || cur().is('(')) return skip_group();
    take();
    return true;
  }

  // A textual convention is the type after its SYNTAX clause, the last one.
  bool parse_textual_convention(Assignment& a) {
    while (!accept_word("SYNTAX"))
      if (!skip_macro_token()) return false;
    a.kind = AssignmentKind::kType;
    a.type = parse_type(0);
    return a.type != nullptr;
  }

  bool parse_name_list(std::vector<std::string>& names) {
    if (!expect('{')) return false;
    while (!accept('}')) {
      if (!cur().lower()) return fail("expected an object name");
      names.emplace_back(take().text);
      if (!cur().is('}') && !expect(',')) return false;
    }
    return true;
  }

  // OBJECT-TYPE and the other SNMP macros: the clauses that give a syntax,
  // object lists or an enterprise are read; the others (texts, DEFVAL,
  // INDEX, refinements of compliance statements) are stepped over.
  bool parse_macro_instance(Assignment& a) {
    MacroInstance& m = a.macro;
    m.name = std::string(take().text);
    std::unique_ptr<Type> syntax;
    while (cur().kind != TokenKind::kAssign) {
      if (m.name == "OBJECT-TYPE" && accept_word("SYNTAX")) {
        if (!(syntax = parse_type(0))) return false;
      } else if (cur().is_word("OBJECTS") || cur().is_word("VARIABLES")) {
        take();
        if (!parse_name_list(m.objects)) return false;
      } else if (m.name == "TRAP-TYPE" && accept_word("ENTERPRISE")) {
        if (!cur().lower()) return fail("expected the enterprise");
        m.enterprise = std::string(take().text);
      } else {
        if (cur().is_word("INDEX") || cur().is_word("AUGMENTS")) m.row = true;
        if (!skip_macro_token()) return false;
      }
    }
    take();
    if (syntax) name_syntax(a, std::move(syntax));
    if (m.name == "TRAP-TYPE") {
      a.kind = AssignmentKind::kSkipped;
      return parse_signed(m.trap_number);
    }
    a.kind = AssignmentKind::kOidValue;
    return parse_oid(a.oid) || fail("expected an OBJECT IDENTIFIER value");
  }

  // A syntax that is no plain type name becomes a type of its own, named
  // Module.object ('.' keeps it apart from every type reference).
  void name_syntax(Assignment& a, std::unique_ptr<Type> syntax) {
    a.macro.table = syntax->kind == TypeKind::kSequenceOf;
    const bool plain = syntax->tags.empty() && syntax->numbers.empty() &&
                       (syntax->kind == TypeKind::kReference || syntax->kind == TypeKind::kBuiltin);
    if (plain) {
      a.macro.syntax = syntax->name;
      return;
    }
    Assignment type;
    type.kind = AssignmentKind::kType;
    type.name = module_name_ + "." + a.name;
    type.type = std::move(syntax);
    type.at = a.at;
    a.macro.syntax = type.name;
    synthesized_.push_back(std::move(type));
  }

  bool parse_signed(int64_t& value) {
    const bool negative = accept('-');
    if (cur().kind != TokenKind::kNumber) return fail("expected a number");
    uint64_t magnitude;
    if (!number_value(cur().text, uint64_t{1} << 40, magnitude)) return fail("number too large");
    take();
    value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return true;
  }

  bool parse_oid(std::vector<OidItem>& items) {
    if (!accept('{')) return false;
    while (!accept('}')) {
      OidItem item;
      item.at = cur().at;
      if (cur().kind == TokenKind::kNumber) {
        uint64_t n;
        if (!number_value(take().text, UINT32_MAX, n)) return fail("arc beyond 32 bits");
        item.has_number = true;
        item.number = static_cast<uint32_t>(n);
      } else if (cur().kind == TokenKind::kWord) {
        item.name = std::string(take().text);
        if (cur().is('.') && ahead(1).lower()) {
          take();
          item.module = std::move(item.name);
          item.name = std::string(take().text);
        }
        if (accept('(')) {
          uint64_t n;
          if (cur().kind != TokenKind::kNumber) return fail("expected a number");
          if (!number_value(take().text, UINT32_MAX, n)) return fail("arc beyond 32 bits");
          item.has_number = true;
          item.number = static_cast<uint32_t>(n);
          if (!expect(')')) return false;
        }
      } else {
        return fail("expected an OBJECT IDENTIFIER component");
      }
      items.push_back(std::move(item));
    }
    return true;
  }

  bool parse_type_or_class(Assignment& a) {
    if (accept_word("CLASS")) return parse_class(a);
    if (accept_word("TEXTUAL-CONVENTION")) return parse_textual_convention(a);
    if (cur().kind == TokenKind::kWord && is_macro_name(cur().text) && !ahead(1).is('.')) {
      warn(cur(), "macro " + std::string(cur().text) + " instance skipped");
      a.kind = AssignmentKind::kSkipped;
      return skip_value();
    }
    if (cur().upper() && is_class_name(cur().text) && !ahead(1).is('.')) {
      a.kind = AssignmentKind::kClass;
      a.alias_class = std::string(take().text);
      return true;
    }
    a.kind = AssignmentKind::kType;
    a.type = parse_type(0);
    return a.type != nullptr;
  }

  bool is_class_name(std::string_view name) const {
    if (name == "TYPE-IDENTIFIER" || name == "ABSTRACT-SYNTAX") return true;
    for (std::string_view c : classes_)
      if (c == name) return true;
    return false;
  }

  bool parse_class(Assignment& a) {
    a.kind = AssignmentKind::kClass;
    classes_.push_back(a.name);
    if (!expect('{')) return false;
    while (!accept('}')) {
      if (cur().kind != TokenKind::kField) return fail("expected a field of the class");
      ClassField f;
      f.name = std::string(take().text);
      const bool fixed_type_value = f.name[1] >= 'a' && f.name[1] <= 'z';
      if (fixed_type_value && !cur().is(',') && !cur().is('}') && !cur().is_word("OPTIONAL") && !cur().is_word("DEFAULT")) {
        f.type = parse_type(0);
        if (!f.type) return false;
      }
      if (!skip_until_separator()) return false;
      a.class_fields.push_back(std::move(f));
      if (!cur().is('}') && !expect(',')) return false;
    }
    if (accept_word("WITH")) {
      if (!expect_word("SYNTAX")) return false;
      if (!cur().is('{')) return fail("expected '{'");
      return skip_group();
    }
    return true;
  }

  // --- types --------------------------------------------------------------
  std::unique_ptr<Type> parse_type(int depth) {
    if (depth >= kMaxTypeDepth) {
      fail("types nested deeper than " + std::to_string(kMaxTypeDepth));
      return nullptr;
    }
    auto t = std::make_unique<Type>();
    t->at = cur().at;
    while (cur().is('[')) {
      if (!parse_tag(*t)) return nullptr;
    }
    if (!parse_base(*t, depth)) return nullptr;
    while (cur().is('(')) {
      if (!skip_constraint(*t)) return nullptr;
    }
    return t;
  }

  bool parse_tag(Type& t) {
    take();
    Tag tag;
    static constexpr struct {
      std::string_view word;
      int tag_class;
    } kClasses[] = {{"UNIVERSAL", TUL_TAG_UNIVERSAL}, {"APPLICATION", TUL_TAG_APPLICATION}, {"PRIVATE", TUL_TAG_PRIVATE}};
    for (const auto& c : kClasses)
      if (accept_word(c.word)) tag.tag_class = c.tag_class;
    uint64_t n;
    if (cur().kind != TokenKind::kNumber) return fail("expected a tag number");
    if (!number_value(cur().text, kInt32Max, n)) return fail("tag number beyond 2^31-1");
    take();
    tag.number = static_cast<int32_t>(n);
    if (!expect(']')) return false;
    if (accept_word("IMPLICIT"))
      tag.mode = TagMode::kImplicit;
    else if (accept_word("EXPLICIT"))
      tag.mode = TagMode::kExplicit;
    t.tags.push_back(tag);
    return true;
  }

  bool parse_base(Type& t, int depth) {
    const Token& w = cur();
    if (w.kind != TokenKind::kWord) return fail("expected a type");
    if (w.is_word("SEQUENCE") || w.is_word("SET")) return parse_sequence_or_set(t, depth);
    if (w.is_word("CHOICE")) {
      take();
      t.kind = TypeKind::kChoice;
      return parse_components(t, depth);
    }
    if (w.is_word("INTEGER") || w.is_word("ENUMERATED")) {
      t.name = std::string(take().text);
      return !cur().is('{') || parse_named_numbers(t);
    }
    if (w.is_word("BIT") || w.is_word("OCTET")) {
      t.name = std::string(take().text) + " STRING";
      if (!expect_word("STRING")) return false;
      if (t.name == "BIT STRING" && cur().is('{')) {
        t.named_bits = true;
        return skip_group();
      }
      return true;
    }
    if (w.is_word("OBJECT")) {
      take();
      t.name = "OBJECT IDENTIFIER";
      return expect_word("IDENTIFIER");
    }
    if (w.is_word("ANY")) return parse_any(t);
    if (w.is_word("BITS")) {  // SNMP: named bits over OCTET STRING
      take();
      t.name = "OCTET STRING";
      return !cur().is('{') || skip_group();
    }
    if (w.is_word("INSTANCE")) return parse_instance_of(t);
    if (contains(kSimpleTypes, w.text)) {
      t.name = std::string(take().text);
      return true;
    }
    if (contains(kRejectedTypes, w.text) || w.is_word("OID-IRI") || w.is_word("RELATIVE-OID-IRI"))
      return fail(std::string(w.text) + (w.is_word("EMBEDDED") ? " PDV" : w.is_word("CHARACTER") ? " STRING" : "") +
                  " is not supported");
    if (w.lower() && ahead(1).is('<')) {
      t.kind = TypeKind::kSelection;
      t.name = std::string(take().text);
      take();
      t.element = parse_type(depth + 1);
      return t.element != nullptr;
    }
    if (w.upper()) return parse_reference(t);
    return fail("expected a type");
  }

  bool parse_reference(Type& t) {
    t.kind = TypeKind::kReference;
    t.name = std::string(take().text);
    if (cur().is('.') && ahead(1).upper()) {  // Module.Type
      take();
      t.name = std::string(take().text);
    }
    if (cur().is('.') && ahead(1).kind == TokenKind::kField) {
      take();
      t.kind = TypeKind::kClassField;
      t.field = std::string(take().text);
      while (cur().is('.') && ahead(1).kind == TokenKind::kField) {
        take();
        t.field = std::string(take().text);
      }
      return true;
    }
    if (cur().is('{')) {
      warn(cur(), "parameterized type " + t.name + " read as ANY");
      t.kind = TypeKind::kAny;
      return skip_group();
    }
    if (is_macro_name(t.name)) {
      warn(at(pos_ - 1), "macro type " + t.name + " read as ANY");
      t.kind = TypeKind::kAny;
    }
    return true;
  }

  bool parse_any(Type& t) {
    take();
    t.kind = TypeKind::kAny;
    if (!accept_word("DEFINED")) return true;
    if (!expect_word("BY")) return false;
    if (!cur().lower()) return fail("expected the identifying component");
    t.defined_by = std::string(take().text);
    return true;
  }

  // INSTANCE OF is the SEQUENCE that X.680 defines for it.
  bool parse_instance_of(Type& t) {
    take();
    if (!expect_word("OF")) return false;
    if (!cur().upper()) return fail("expected a class");
    take();
    t.tags.push_back({TUL_TAG_UNIVERSAL, 8, TagMode::kImplicit});
    t.kind = TypeKind::kSequence;
    Component id;
    id.name = "type-id";
    id.type = std::make_unique<Type>();
    id.type->name = "OBJECT IDENTIFIER";
    Component value;
    value.name = "value";
    value.type = std::make_unique<Type>();
    value.type->kind = TypeKind::kAny;
    value.type->defined_by = "type-id";
    value.type->tags.push_back({TUL_TAG_CONTEXT, 0, TagMode::kExplicit});
    t.components.push_back(std::move(id));
    t.components.push_back(std::move(value));
    return true;
  }

  bool parse_sequence_or_set(Type& t, int depth) {
    const bool set = take().text == "SET";
    if (cur().is('{')) {
      t.kind = set ? TypeKind::kSet : TypeKind::kSequence;
      return parse_components(t, depth);
    }
    if (accept_word("SIZE") && !cur().is('(')) return fail("expected '('");
    while (cur().is('(')) {
      if (!skip_constraint(t)) return false;
    }
    if (!expect_word("OF")) return false;
    t.kind = set ? TypeKind::kSetOf : TypeKind::kSequenceOf;
    if (cur().lower() && !ahead(1).is('<')) take();  // the element's name
    t.element = parse_type(depth + 1);
    return t.element != nullptr;
  }

  bool parse_named_numbers(Type& t) {
    take();
    bool any_number = false;
    while (!accept('}')) {
      if (cur().kind == TokenKind::kEllipsis) {
        take();
        if (accept('!') && !skip_until_separator()) return false;
      } else {
        if (!cur().lower()) return fail("expected a named number");
        NamedNumber n;
        n.at = cur().at;
        n.name = std::string(take().text);
        if (accept('(')) {
          any_number = true;
          if (cur().lower()) {
            n.value_reference = std::string(take().text);
          } else if (!parse_signed(n.value)) {
            return false;
          } else if (n.value > kInt32Max || n.value < INT32_MIN) {
            return fail("named number beyond 32 bits");
          }
          if (!expect(')')) return false;
        } else {
          n.value = INT64_MIN;  // numbered below
        }
        t.numbers.push_back(std::move(n));
      }
      if (!cur().is('}') && !expect(',')) return false;
    }
    number_enumeration(t, any_number);
    return true;
  }

  // Enumerations written without numbers count up from 0, skipping the
  // numbers given explicitly.
  static void number_enumeration(Type& t, bool any_number) {
    int64_t next = 0;
    for (NamedNumber& n : t.numbers) {
      if (n.value != INT64_MIN) continue;
      for (bool taken = true; taken;) {
        taken = false;
        for (const NamedNumber& other : t.numbers)
          if (any_number && other.value == next && other.value_reference.empty()) taken = true;
        if (taken) ++next;
      }
      n.value = next++;
    }
  }

  bool parse_components(Type& t, int depth) {
    if (!expect('{')) return false;
    bool extension = false;
    while (!accept('}')) {
      if (cur().kind == TokenKind::kEllipsis) {
        take();
        extension = !extension;
        if (accept('!') && !skip_until_separator()) return false;
      } else if (cur().kind == TokenKind::kLeftVersion) {
        if (!parse_version_group(t, depth)) return false;
      } else if (!parse_component(t, depth, extension)) {
        return false;
      }
      if (!cur().is('}') && !expect(',')) return false;
    }
    return true;
  }

  bool parse_version_group(Type& t, int depth) {
    take();
    if (cur().kind == TokenKind::kNumber && ahead(1).is(':')) pos_ += 2;
    while (cur().kind != TokenKind::kRightVersion) {
      if (!parse_component(t, depth, true)) return false;
      if (cur().kind != TokenKind::kRightVersion && !expect(',')) return false;
    }
    take();
    return true;
  }

  bool parse_component(Type& t, int depth, bool extension) {
    Component c;
    c.at = cur().at;
    c.after_extension = extension;
    if (accept_word("COMPONENTS")) {
      if (!expect_word("OF")) return false;
      c.components_of = true;
    } else if (cur().lower() && !ahead(1).is('<')) {
      c.name = std::string(take().text);
    }
    c.type = parse_type(depth + 1);
    if (!c.type) return false;
    if (accept_word("OPTIONAL")) {
      c.existence = Existence::kOptional;
    } else if (accept_word("DEFAULT")) {
      c.existence = Existence::kDefault;
      if (!skip_until_separator()) return false;
    }
    t.components.push_back(std::move(c));
    return true;
  }

  // Constraints are dropped; a bound beyond 32 bits is worth a warning, and
  // a component relation ({@.x}) of an open type is kept.
  bool skip_constraint(Type& t) {
    const std::size_t start = pos_;
    if (!skip_group()) return false;
    for (std::size_t p = start; p < pos_; ++p) {
      const Token& tok = at(p);
      uint64_t n;
      if (tok.kind == TokenKind::kNumber && !number_value(tok.text, kInt32Max, n)) {
        warn(tok, "bound " + quote_token(tok.text) + " exceeds 2^31-1; the library's INTEGER holds 32 bits");
        break;
      }
    }
    for (std::size_t p = start; p + 1 < pos_; ++p) {
      if (!at(p).is('@')) continue;
      std::size_t q = p + 1;
      while (at(q).is('.')) ++q;
      if (at(q).lower() && t.kind == TypeKind::kClassField) t.defined_by = std::string(at(q).text);
    }
    return true;
  }

  const Source& source_;
  const std::vector<Token>& t_;
  Diagnostics& diags_;
  std::size_t pos_ = 0;
  std::string item_;
  std::string failure_;
  std::size_t failure_token_ = 0;
  std::vector<std::string> classes_;
  std::string module_name_;
  std::vector<Assignment> synthesized_;  // types an assignment brings along
};

}  // namespace

void parse_asn1(const Source& source, const std::vector<Token>& tokens, Diagnostics& diags,
                std::vector<Module>& modules) {
  Parser(source, tokens, diags).run(modules);
}

bool is_macro_name(std::string_view name) { return contains(kMacroNames, name); }

}  // namespace tul::import
