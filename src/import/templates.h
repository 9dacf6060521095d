// Templates of an import batch, read from GDMO text or made from SNMP macro
// instances. Each clause is already value notation of its meta-schema member;
// what needs the whole batch (registrations, the syntax of a DERIVED FROM
// attribute, whether a used label exists) waits until the batch's ASN.1
// modules are entered.
#ifndef TUL_IMPORT_TEMPLATES_H
#define TUL_IMPORT_TEMPLATES_H

#include <array>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "asn1_resolve.h"
#include "lexer.h"

namespace tul::import {

struct TemplateField {
  int order;           // the meta-schema's member order
  std::string member;  // meta-schema member name
  std::string text;    // its value in value notation
};

struct LabelUse {
  std::string label;
  Position at;
};

struct Template {
  int kind = 0;  // entry_type
  std::string label;
  std::string file;
  Position at;
  bool registered = false;
  std::vector<OidItem> registration;
  std::string derived_from;  // an attribute's DERIVED FROM label
  std::vector<TemplateField> fields;
  std::vector<LabelUse> uses;
  std::vector<std::string> types;  // type references its clauses name
};

// A text holds GDMO templates when a line that starts outside a "..."
// string starts with a label followed by a template keyword (and no "::=",
// which would make it an ASN.1 object).
bool is_gdmo_text(std::string_view text);

// Appends the templates of the GDMO text `source`; ASN.1 modules written
// between the templates go to `modules`. `dropped` counts the clauses the
// dictionary cannot hold.
void parse_gdmo(const Source& source, Diagnostics& diags, std::vector<Template>& templates,
                std::vector<Module>& modules, int& dropped);

// Templates for the SNMP macro instances of `modules`, except those whose
// value is among `failed_values` (already reported).
void snmp_templates(const std::vector<Module>& modules, const std::set<std::string, std::less<>>& failed_values,
                    std::vector<Template>& templates);

// `text` as a double-quoted value-notation string that reads back to it.
std::string notation_string(std::string_view text);

// Enters templates once the batch's ASN.1 modules are entered: evaluates
// registrations, gives DERIVED FROM attributes their root's syntax and
// reports labels used but defined nowhere.
class TemplateEmitter {
 public:
  TemplateEmitter(Resolver& resolver, TUL_Metadata* md, Diagnostics& diags, bool check)
      : resolver_(resolver), md_(md), diags_(diags), check_(check) {}

  void emit(const std::vector<Template>& templates);
  // Templates entered by entry_type - 1.
  const std::array<int, 9>& entered() const { return entered_; }
  int skipped() const { return skipped_; }

 private:
  bool registration_text(const Template& t, std::string& text);
  std::string derivation_text(const Template& t);
  bool in_dictionary(int kind, const std::string& label) const;
  bool defined_anywhere(const std::string& label) const;
  void enter(const Template& t, const std::string& text);

  Resolver& resolver_;
  TUL_Metadata* md_;
  Diagnostics& diags_;
  bool check_;
  std::map<std::string, const Template*, std::less<>> attributes_;
  std::set<std::string, std::less<>> labels_;
  std::array<int, 9> entered_{};
  int skipped_ = 0;
};

}  // namespace tul::import

#endif
