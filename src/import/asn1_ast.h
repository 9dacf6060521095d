// The parsed form of ASN.1 modules: what the resolver and the emitter need
// of each assignment, nothing of the notation that the meta-schema cannot
// hold (constraints, values of DEFAULT, module identities).
#ifndef TUL_IMPORT_ASN1_AST_H
#define TUL_IMPORT_ASN1_AST_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "diag.h"

namespace tul::import {

enum class TagMode { kDefault, kImplicit, kExplicit };
enum class TagDefault { kExplicit, kImplicit, kAutomatic };

struct Tag {
  int tag_class = TUL_TAG_CONTEXT;
  int32_t number = 0;
  TagMode mode = TagMode::kDefault;
};

enum class TypeKind {
  kBuiltin,      // name: INTEGER, OCTET STRING, ... (the dictionary's own name)
  kReference,    // name: the type reference
  kSequence,
  kSet,
  kChoice,
  kSequenceOf,   // element
  kSetOf,        // element
  kAny,          // defined_by: the identifying sibling, "" for plain ANY
  kSelection,    // name: the alternative; element: the CHOICE
  kClassField,   // name: the class; field: &id, &Value, ...; defined_by: relation
};

struct NamedNumber {
  std::string name;
  int64_t value = 0;
  std::string value_reference;  // b(a): resolved through the value table
  Position at;
};

struct Type;

enum class Existence { kMandatory = TUL_MANDATORY, kOptional = TUL_OPTIONAL, kDefault = TUL_DEFAULT };

struct Component {
  std::string name;  // "" for an unnamed component of a 1988 text
  std::unique_ptr<Type> type;
  Existence existence = Existence::kMandatory;
  bool components_of = false;   // COMPONENTS OF type
  bool after_extension = false; // follows an extension marker
  Position at;
};

struct Type {
  TypeKind kind = TypeKind::kBuiltin;
  std::vector<Tag> tags;  // outermost first
  std::string name;
  std::string field;
  std::string defined_by;
  std::vector<NamedNumber> numbers;  // INTEGER and ENUMERATED
  bool named_bits = false;           // BIT STRING {..}: names dropped
  std::vector<Component> components;
  std::unique_ptr<Type> element;
  Position at;
};

// One item of an OBJECT IDENTIFIER value: a name, a number, or both
// (NameAndNumber, where the number wins); `module` qualifies a name.
struct OidItem {
  std::string module;
  std::string name;
  bool has_number = false;
  uint32_t number = 0;
  Position at;
};

enum class AssignmentKind {
  kType,
  kOidValue,
  kIntegerValue,
  kClass,    // information object class: fields kept for &id lookups
  kSkipped,  // other values, objects, object sets, macros: counted only
};

struct ClassField {
  std::string name;  // with the '&'
  std::unique_ptr<Type> type;  // null for type fields (&Value, &Type)
};

// An SNMP macro instance (OBJECT-TYPE, TRAP-TYPE, ...): what the template
// importer needs of it; `name` is empty for every other assignment.
struct MacroInstance {
  std::string name;
  std::string syntax;                // type name of SYNTAX, "" without one
  std::vector<std::string> objects;  // OBJECTS or VARIABLES
  std::string enterprise;            // TRAP-TYPE
  int64_t trap_number = -1;          // TRAP-TYPE
  bool row = false;                  // INDEX or AUGMENTS: a conceptual row
  bool table = false;                // SYNTAX SEQUENCE OF
};

struct Assignment {
  AssignmentKind kind = AssignmentKind::kSkipped;
  std::string name;
  std::unique_ptr<Type> type;
  std::vector<OidItem> oid;
  int64_t integer = 0;
  std::vector<ClassField> class_fields;
  std::string alias_class;  // a class defined as another class
  MacroInstance macro;
  Position at;
};

struct Module {
  std::string name;
  std::string file;
  TagDefault tag_default = TagDefault::kExplicit;
  bool builtin = false;  // the library's own X.501 subset: entered only when used
  std::vector<Assignment> assignments;
};

}  // namespace tul::import

#endif
