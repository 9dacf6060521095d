// Name, tag-mode and value resolution over a parsed batch. Every chain that
// follows references is bounded by kMaxHops, so cycles in damaged texts end
// in a diagnostic rather than a loop.
#include "asn1_resolve.h"

#include "dtd.h"

namespace tul::import {
namespace {

constexpr int kMaxHops = 64;
constexpr std::size_t kMaxArcs = 127;

struct ArcName {
  std::string_view name;
  uint32_t arc;
};

constexpr ArcName kRoots[] = {{"itu-t", 0}, {"ccitt", 0}, {"iso", 1}, {"joint-iso-itu-t", 2}, {"joint-iso-ccitt", 2}};
constexpr ArcName kUnderItuT[] = {{"recommendation", 0}, {"question", 1}, {"administration", 2},
                                  {"network-operator", 3}, {"identified-organization", 4}};
constexpr ArcName kUnderIso[] = {{"standard", 0}, {"registration-authority", 1}, {"member-body", 2},
                                 {"identified-organization", 3}};

template <std::size_t N>
std::optional<uint32_t> arc_named(const ArcName (&table)[N], std::string_view name) {
  for (const ArcName& row : table)
    if (row.name == name) return row.arc;
  return std::nullopt;
}

// The arc a name stands for after `parent`, from the X.680 name table; the
// letters a..z number the recommendation series under itu-t recommendation.
std::optional<uint32_t> builtin_arc(const std::vector<uint32_t>& parent, std::string_view name) {
  if (parent.empty()) return arc_named(kRoots, name);
  if (parent.size() == 1 && parent[0] == 0) return arc_named(kUnderItuT, name);
  if (parent.size() == 1 && parent[0] == 1) return arc_named(kUnderIso, name);
  if (parent.size() == 2 && parent[0] == 0 && parent[1] == 0 && name.size() == 1 && name[0] >= 'a' && name[0] <= 'z')
    return static_cast<uint32_t>(name[0] - 'a' + 1);
  return std::nullopt;
}

bool is_open_field(const std::string& field) { return field.size() > 1 && field[1] >= 'A' && field[1] <= 'Z'; }

}  // namespace

Resolver::Resolver(std::vector<Module>& modules, TUL_Metadata* md, Diagnostics& diags)
    : modules_(modules), md_(md), diags_(diags) {
  for (Module& m : modules_) {
    for (Assignment& a : m.assignments) {
      if (a.kind == AssignmentKind::kType) {
        if (m.tag_default == TagDefault::kAutomatic) number_automatic(*a.type);
        (m.builtin ? builtin_types_ : types_).emplace(a.name, TypeDefinition{&m, &a});
      } else if (a.kind == AssignmentKind::kOidValue || a.kind == AssignmentKind::kIntegerValue) {
        values_.emplace(a.name, &a);
      } else if (a.kind == AssignmentKind::kClass) {
        classes_.emplace(a.name, &a);
      }
    }
  }
}

// AUTOMATIC TAGS numbers the components [0], [1], ... unless one of them is
// tagged already; the modes then follow the IMPLICIT rule.
void Resolver::number_automatic(Type& t) {
  if (t.kind == TypeKind::kSequence || t.kind == TypeKind::kSet || t.kind == TypeKind::kChoice) {
    bool tagged = false;
    for (const Component& c : t.components) tagged = tagged || (!c.components_of && !c.type->tags.empty());
    int32_t number = 0;
    for (Component& c : t.components) {
      if (!tagged && !c.components_of) c.type->tags.insert(c.type->tags.begin(), Tag{TUL_TAG_CONTEXT, number++, TagMode::kDefault});
      number_automatic(*c.type);
    }
  }
  if (t.element) number_automatic(*t.element);
}

bool Resolver::in_dictionary(const std::string& name) const {
  return md_ && find_type(md_, TUL_unique_string(name.c_str())) != nullptr;
}

std::optional<TypeDefinition> Resolver::find(const std::string& name) {
  if (auto it = types_.find(name); it != types_.end()) return it->second;
  if (in_dictionary(name)) return std::nullopt;
  if (auto it = builtin_types_.find(name); it != builtin_types_.end()) {
    used_builtin_.insert(name);
    return it->second;
  }
  return std::nullopt;
}

std::vector<const Assignment*> Resolver::take_used() {
  std::vector<const Assignment*> out;
  for (const std::string& name : used_builtin_)
    if (taken_builtin_.insert(name).second) out.push_back(builtin_types_.at(name).assignment);
  return out;
}

Shape Resolver::shape_of_entry(const std::string& name) const {
  TUL_Asn1TypeEntry* e = find_type(md_, TUL_unique_string(name.c_str()));
  for (int hops = 0; e && hops < kMaxHops; ++hops) {
    const std::string_view n = e->name;
    if (n == "CHOICE" || n == "ANY" || n == "ANY DEFINED BY") return Shape::kChoiceLike;
    if (e->tag_flag != 0) return Shape::kTagged;
    if (!e->type) return Shape::kOther;
    e = find_type(md_, e->type);
  }
  return Shape::kUnresolved;
}

Shape Resolver::shape_of_reference(const std::string& name, const std::string& item) {
  std::string current = name;
  for (int hops = 0; hops < kMaxHops; ++hops) {
    const std::optional<TypeDefinition> def = find(current);
    if (!def) {
      const Shape s = in_dictionary(current) ? shape_of_entry(current) : Shape::kUnresolved;
      if (s == Shape::kUnresolved && warned_unresolved_.insert(item + "/" + current).second)
        diags_.warning(file_, at_, item,
                       "type " + current + " is not defined; a tag on it is taken as IMPLICIT");
      return s;
    }
    TypeView v;
    std::string problem;
    if (!view(*def->assignment->type, *def->module, v, problem)) return Shape::kUnresolved;
    if (!v.tags.empty()) return Shape::kTagged;
    if (v.base->kind != TypeKind::kReference) return shape(v, 0, item);
    current = v.base->name;
  }
  return Shape::kUnresolved;
}

Shape Resolver::shape(const TypeView& v, std::size_t after, const std::string& item) {
  if (after < v.tags.size()) return Shape::kTagged;
  switch (v.base->kind) {
    case TypeKind::kChoice:
    case TypeKind::kAny:
      return Shape::kChoiceLike;
    case TypeKind::kClassField:
      return Shape::kChoiceLike;  // open types only: fixed ones are seen through
    case TypeKind::kReference:
      return shape_of_reference(v.base->name, item);
    default:
      return Shape::kOther;
  }
}

bool Resolver::explicit_tag(const TypeView& v, std::size_t index, const std::string& item, Position at) {
  const Tag& tag = v.tags[index];
  at_ = at;
  if (tag.mode != TagMode::kDefault) return tag.mode == TagMode::kExplicit;
  if (v.module->tag_default == TagDefault::kExplicit) return true;
  return shape(v, index + 1, item) == Shape::kChoiceLike;
}

const Type* Resolver::class_field(const std::string& class_name, const std::string& field, int depth) const {
  if (class_name == "TYPE-IDENTIFIER" || class_name == "ABSTRACT-SYNTAX") {
    static const Type kOid = [] {
      Type t;
      t.name = "OBJECT IDENTIFIER";
      return t;
    }();
    return field == "&id" ? &kOid : nullptr;
  }
  auto it = classes_.find(class_name);
  if (it == classes_.end() || depth > kMaxHops) return nullptr;
  if (!it->second->alias_class.empty()) return class_field(it->second->alias_class, field, depth + 1);
  for (const ClassField& f : it->second->class_fields)
    if (f.name == field) return f.type.get();
  return nullptr;
}

bool Resolver::view(const Type& t, const Module& module, TypeView& out, std::string& problem) {
  out = {{}, &t, &module};
  for (int hops = 0; hops < kMaxHops; ++hops) {
    const Type& base = *out.base;
    out.tags.insert(out.tags.end(), base.tags.begin(), base.tags.end());
    if (base.kind == TypeKind::kClassField && !is_open_field(base.field)) {
      const Type* field = class_field(base.name, base.field, 0);
      if (!field) {
        problem = "class " + base.name + " has no field " + base.field + " of a fixed type";
        return false;
      }
      out.base = field;
      continue;
    }
    if (base.kind != TypeKind::kSelection) return true;
    TypeView choice;
    if (!view(*base.element, module, choice, problem)) return false;
    std::string name = choice.base->kind == TypeKind::kReference ? choice.base->name : "";
    const Type* target = choice.base;
    const Module* owner = &module;
    for (int k = 0; k < kMaxHops && target->kind == TypeKind::kReference; ++k) {
      const std::optional<TypeDefinition> def = find(target->name);
      if (!def) break;
      target = def->assignment->type.get();
      owner = def->module;
    }
    if (target->kind != TypeKind::kChoice) {
      problem = "selection " + base.name + " < " + name + " does not select from a CHOICE of the batch";
      return false;
    }
    const Type* alternative = nullptr;
    for (const Component& c : target->components)
      if (c.name == base.name) alternative = c.type.get();
    if (!alternative) {
      problem = "CHOICE " + name + " has no alternative " + base.name;
      return false;
    }
    out.base = alternative;
    out.module = owner;
  }
  problem = "selections or class fields nested too deeply";
  return false;
}

std::optional<TypeDefinition> Resolver::sequence_of(const std::string& name) {
  std::string current = name;
  for (int hops = 0; hops < kMaxHops; ++hops) {
    const std::optional<TypeDefinition> def = find(current);
    if (!def || !def->assignment->type->tags.empty()) return std::nullopt;
    const Type& t = *def->assignment->type;
    if (t.kind == TypeKind::kSequence || t.kind == TypeKind::kSet) return def;
    if (t.kind != TypeKind::kReference) return std::nullopt;
    current = t.name;
  }
  return std::nullopt;
}

std::optional<int64_t> Resolver::integer_value(const std::string& name) const {
  auto it = values_.find(name);
  if (it == values_.end() || it->second->kind != AssignmentKind::kIntegerValue) return std::nullopt;
  return it->second->integer;
}

bool Resolver::arc_of_name(const OidItem& item, std::vector<uint32_t>& arcs, std::string& problem, int depth) {
  if (const std::optional<uint32_t> arc = builtin_arc(arcs, item.name)) {
    arcs.push_back(*arc);
    return true;
  }
  auto it = values_.find(item.name);
  if (it == values_.end()) {
    problem = "value " + item.name + " is not defined";
    return false;
  }
  if (it->second->kind == AssignmentKind::kIntegerValue) {
    if (it->second->integer < 0 || it->second->integer > UINT32_MAX) {
      problem = "value " + item.name + " is no arc";
      return false;
    }
    arcs.push_back(static_cast<uint32_t>(it->second->integer));
    return true;
  }
  if (!arcs.empty()) {
    problem = "OBJECT IDENTIFIER value " + item.name + " stands only first";
    return false;
  }
  return evaluate(*it->second, arcs, problem, depth + 1);
}

bool Resolver::evaluate(const Assignment& a, std::vector<uint32_t>& arcs, std::string& problem, int depth) {
  if (auto it = evaluated_.find(a.name); it != evaluated_.end()) {
    arcs.insert(arcs.end(), it->second.begin(), it->second.end());
    return true;
  }
  if (depth > kMaxHops) {
    problem = "OBJECT IDENTIFIER values refer to each other in a circle";
    return false;
  }
  std::vector<uint32_t> own;
  if (!evaluate_items(a.oid, own, problem, depth)) return false;
  evaluated_.emplace(a.name, own);
  arcs.insert(arcs.end(), own.begin(), own.end());
  return true;
}

bool Resolver::evaluate_items(const std::vector<OidItem>& items, std::vector<uint32_t>& own, std::string& problem,
                              int depth) {
  for (const OidItem& item : items) {
    if (item.has_number)
      own.push_back(item.number);
    else if (!arc_of_name(item, own, problem, depth))
      return false;
    if (own.size() > kMaxArcs) {
      problem = "OBJECT IDENTIFIER value has more than 127 arcs";
      return false;
    }
  }
  return true;
}

namespace {

std::string arcs_text(const std::vector<uint32_t>& arcs) {
  std::string text;
  for (uint32_t arc : arcs) {
    if (!text.empty()) text += ' ';
    text += std::to_string(arc);
  }
  return text;
}

}  // namespace

bool Resolver::oid_value(const std::string& name, std::string& text, std::string& problem) {
  auto it = values_.find(name);
  if (it == values_.end() || it->second->kind != AssignmentKind::kOidValue) {
    problem = "no OBJECT IDENTIFIER value " + name;
    return false;
  }
  std::vector<uint32_t> arcs;
  if (!evaluate(*it->second, arcs, problem, 0)) return false;
  text = arcs_text(arcs);
  return true;
}

bool Resolver::oid_items(const std::vector<OidItem>& items, std::string& text, std::string& problem) {
  std::vector<uint32_t> arcs;
  if (!evaluate_items(items, arcs, problem, 0)) return false;
  text = arcs_text(arcs);
  return true;
}

bool Resolver::in_cycle(const Assignment& a) {
  const Type* t = a.type.get();
  for (int hops = 0; hops < kMaxHops; ++hops) {
    if (t->kind != TypeKind::kReference) return false;
    if (t->name == a.name) return true;
    const std::optional<TypeDefinition> def = find(t->name);
    if (!def) return false;
    t = def->assignment->type.get();
  }
  return true;
}

std::string member_type_name(const std::string& outer, const std::string& member) { return outer + "." + member; }
std::string element_type_name(const std::string& outer) { return outer + ".item"; }
std::string tagged_type_name(const std::string& outer) { return outer + ".tagged"; }

std::string unnamed_component_name(const Type& t) {
  std::string name = t.name.empty() ? "component" : t.name;
  if (t.kind == TypeKind::kReference) {
    if (name[0] >= 'A' && name[0] <= 'Z') name[0] = static_cast<char>(name[0] - 'A' + 'a');
    return name;
  }
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == ' ') c = '-';
  }
  return name;
}

}  // namespace tul::import
