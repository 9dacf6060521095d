// Resolution across one import batch: which assignment or dictionary entry a
// type reference names, the tag mode of every tag (the two-pass rule: modes
// are settled only once all modules of the batch are parsed), OBJECT
// IDENTIFIER and INTEGER values, information object class fields, and the
// names synthesized for inline types.
#ifndef TUL_IMPORT_ASN1_RESOLVE_H
#define TUL_IMPORT_ASN1_RESOLVE_H

#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "asn1_ast.h"
#include "tul.h"

namespace tul::import {

// A type seen through selections and class fields: the tags in force,
// outermost first, over a base that is neither.
struct TypeView {
  std::vector<Tag> tags;
  const Type* base = nullptr;
  const Module* module = nullptr;  // whose tag default applies to `tags`
};

// What a type is under its tags, for the tag-mode rule.
enum class Shape { kOther, kTagged, kChoiceLike, kUnresolved };

struct TypeDefinition {
  const Module* module;
  const Assignment* assignment;
};

class Resolver {
 public:
  Resolver(std::vector<Module>& modules, TUL_Metadata* md, Diagnostics& diags);

  // The batch assignment a type reference names: the modules given first
  // (the first definition wins), the built-in X.501 subset last, and only
  // when the dictionary does not hold the name. Marks built-in ones as used.
  std::optional<TypeDefinition> find(const std::string& name);
  bool in_dictionary(const std::string& name) const;
  TUL_Metadata* dictionary() const { return md_; }

  // The mode of tags[index] of `view` (the tags after it and the base decide
  // under IMPLICIT TAGS). Warns, naming `item` at `at`, when the type stays
  // unknown.
  bool explicit_tag(const TypeView& view, std::size_t index, const std::string& item, Position at);

  // Sees through selections (a < T) and fixed-type class fields (C.&id).
  // False, with `problem` set, when the selection or field is unknown.
  bool view(const Type& t, const Module& module, TypeView& out, std::string& problem);

  // The definition a reference resolves to through untagged references,
  // when it is a SEQUENCE or SET (for COMPONENTS OF).
  std::optional<TypeDefinition> sequence_of(const std::string& name);

  // "a b c" arcs of an OBJECT IDENTIFIER value, or an error message.
  bool oid_value(const std::string& name, std::string& arcs, std::string& problem);
  // The same for an OBJECT IDENTIFIER written out in other text (a
  // template's registration).
  bool oid_items(const std::vector<OidItem>& items, std::string& arcs, std::string& problem);
  std::optional<int64_t> integer_value(const std::string& name) const;

  // Type assignments that only name each other in a circle (A ::= B, B ::= A).
  bool in_cycle(const Assignment& a);

  // The file named in warnings that arise while resolving.
  void set_file(const std::string& file) { file_ = file; }

  // Built-in assignments found by `find` and not yet taken by `take_used`.
  std::vector<const Assignment*> take_used();

 private:
  Shape shape(const TypeView& view, std::size_t after, const std::string& item);
  Shape shape_of_reference(const std::string& name, const std::string& item);
  Shape shape_of_entry(const std::string& name) const;
  bool evaluate(const Assignment& a, std::vector<uint32_t>& arcs, std::string& problem, int depth);
  bool evaluate_items(const std::vector<OidItem>& items, std::vector<uint32_t>& arcs, std::string& problem, int depth);
  bool arc_of_name(const OidItem& item, std::vector<uint32_t>& arcs, std::string& problem, int depth);
  const Type* class_field(const std::string& class_name, const std::string& field, int depth) const;
  void number_automatic(Type& t);

  std::vector<Module>& modules_;
  TUL_Metadata* md_;
  Diagnostics& diags_;
  std::map<std::string, TypeDefinition, std::less<>> types_;
  std::map<std::string, TypeDefinition, std::less<>> builtin_types_;
  std::map<std::string, const Assignment*, std::less<>> values_;
  std::map<std::string, const Assignment*, std::less<>> classes_;
  std::map<std::string, std::vector<uint32_t>, std::less<>> evaluated_;
  std::set<std::string, std::less<>> used_builtin_;
  std::set<std::string, std::less<>> taken_builtin_;
  std::set<std::string, std::less<>> warned_unresolved_;
  std::string file_;
  Position at_;  // of the assignment whose tags are being resolved
};

// Synthesized names: Outer.member, Outer.item (OF element), Outer.tagged
// (the type under a second tag). '.' never occurs in a type reference.
std::string member_type_name(const std::string& outer, const std::string& member);
std::string element_type_name(const std::string& outer);
std::string tagged_type_name(const std::string& outer);
// The name an unnamed component (1988: SEQUENCE {AttributeType, ...}) gets.
std::string unnamed_component_name(const Type& t);

}  // namespace tul::import

#endif
