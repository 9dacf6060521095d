// SNMP macro instances as templates: objects become attributes with their
// syntax, notifications and traps notifications, and the other registered
// macros (identities, groups, compliance statements) templates that carry
// only a label and a registration, so that their identifiers print by label.
#include <string_view>

#include "templates.h"

namespace tul::import {
namespace {

struct MacroKind {
  std::string_view macro;
  int kind;
};

constexpr MacroKind kMacroKinds[] = {
    {"OBJECT-TYPE", TUL_ENTRY_ATTRIBUTE},           {"NOTIFICATION-TYPE", TUL_ENTRY_NOTIFICATION},
    {"TRAP-TYPE", TUL_ENTRY_NOTIFICATION},          {"OBJECT-GROUP", TUL_ENTRY_ATTRIBUTE_GROUP},
    {"NOTIFICATION-GROUP", TUL_ENTRY_ATTRIBUTE_GROUP}, {"MODULE-IDENTITY", TUL_ENTRY_MOC},
    {"OBJECT-IDENTITY", TUL_ENTRY_MOC},             {"MODULE-COMPLIANCE", TUL_ENTRY_MOC},
    {"AGENT-CAPABILITIES", TUL_ENTRY_MOC},
};

OidItem named(const std::string& name) {
  OidItem item;
  item.name = name;
  return item;
}

OidItem numbered(uint32_t number) {
  OidItem item;
  item.has_number = true;
  item.number = number;
  return item;
}

// The registration of a macro instance: its own value, or for an SNMPv1
// trap the enterprise, 0 and the trap number (the SNMPv2 form of a trap).
bool registration(const Assignment& a, std::vector<OidItem>& items) {
  if (a.macro.name != "TRAP-TYPE") {
    items = {named(a.name)};
    return a.kind == AssignmentKind::kOidValue;
  }
  if (a.macro.enterprise.empty() || a.macro.trap_number < 0 || a.macro.trap_number > UINT32_MAX) return false;
  items = {named(a.macro.enterprise), numbered(0), numbered(static_cast<uint32_t>(a.macro.trap_number))};
  return true;
}

std::vector<std::string> quoted_objects(const std::vector<std::string>& objects) {
  std::vector<std::string> out;
  for (const std::string& o : objects) out.push_back(notation_string(o));
  return out;
}

}  // namespace

void snmp_templates(const std::vector<Module>& modules, const std::set<std::string, std::less<>>& failed_values,
                    std::vector<Template>& templates) {
  std::set<std::string, std::less<>> rows;
  for (const Module& m : modules)
    for (const Assignment& a : m.assignments)
      if (a.macro.row) rows.insert(a.name);
  for (const Module& m : modules) {
    for (const Assignment& a : m.assignments) {
      const MacroKind* row = nullptr;
      for (const MacroKind& k : kMacroKinds)
        if (k.macro == a.macro.name) row = &k;
      Template t;
      if (!row || failed_values.count(a.name) || !registration(a, t.registration)) continue;
      if (row->kind == TUL_ENTRY_ATTRIBUTE && a.macro.syntax.empty()) continue;
      t.kind = row->kind;
      t.label = a.name;
      t.file = m.file;
      t.at = a.at;
      t.registered = true;
      if (row->kind == TUL_ENTRY_ATTRIBUTE) {
        t.fields.push_back({0, "derivedOrSyntax", "syntax : " + notation_string(a.macro.syntax)});
        t.types.push_back(a.macro.syntax);
      }
      if (a.macro.name == "OBJECT-GROUP" && !a.macro.objects.empty()) {
        std::string list;
        for (const std::string& o : quoted_objects(a.macro.objects)) list += (list.empty() ? "{ " : ", ") + o;
        t.fields.push_back({0, "groupElements", list + " }"});
        for (const std::string& o : a.macro.objects) t.uses.push_back({o, a.at});
      }
      // A scalar's one instance (".0") gets a template too: variable
      // bindings name instances, and only an exact registration prints as a
      // label.
      const bool columnar = a.oid.size() == 2 && rows.count(a.oid[0].name) != 0;
      const bool scalar = row->kind == TUL_ENTRY_ATTRIBUTE && !a.macro.row && !a.macro.table && !columnar;
      templates.push_back(t);
      if (!scalar) continue;
      t.label += ".0";
      t.registration.push_back(numbered(0));
      templates.push_back(std::move(t));
    }
  }
}

}  // namespace tul::import
