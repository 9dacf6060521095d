// One assignment becomes one definition plus one synthesized definition per
// inline constructed type and per stacked tag. Everything an assignment
// needs is written first; a failure anywhere enters none of it.
#include "asn1_emit.h"

#include "dtd.h"

namespace tul::import {
namespace {

constexpr int kMaxComponentsOf = 16;

constexpr const char* kTagClasses[] = {"universal", "application", "context", "private"};

std::string quoted(const std::string& s) { return "'" + s + "'"; }

std::string tag_text(int tag_class, int32_t number, bool is_explicit) {
  return std::string(", tagClass ") + kTagClasses[tag_class & TUL_TAG_CLASS_MASK] + ", tagValue " +
         std::to_string(number) + ", tagModifier " + (is_explicit ? "explicit" : "implicit");
}

bool is_inline_constructed(const Type& t) {
  switch (t.kind) {
    case TypeKind::kSequence:
    case TypeKind::kSet:
    case TypeKind::kChoice:
    case TypeKind::kSequenceOf:
    case TypeKind::kSetOf:
      return true;
    default:
      return false;
  }
}

// Writes the definitions of one assignment into `pending`.
class AssignmentWriter {
 public:
  struct Definition {
    std::string name;
    std::string text;
  };

  AssignmentWriter(Resolver& resolver, Diagnostics& diags, const Module& module, const Assignment& a)
      : r_(resolver), diags_(diags), module_(module), a_(a) {}

  bool run(std::vector<Definition>& out) {
    TypeView v;
    if (!r_.view(*a_.type, module_, v, problem_)) return false;
    if (!define(a_.name, v, 0)) return false;
    out = std::move(pending_);
    return true;
  }
  const std::string& problem() const { return problem_; }

 private:
  void warn(const std::string& message) { diags_.warning(module_.file, a_.at, a_.name, message); }

  std::string tag_of(const TypeView& v, std::size_t index) {
    const Tag& t = v.tags[index];
    return tag_text(t.tag_class, t.number, r_.explicit_tag(v, index, a_.name, a_.at));
  }

  bool define(const std::string& name, const TypeView& v, std::size_t first) {
    std::string text = "TUL.Asn1 { name " + quoted(name);
    if (v.tags.size() > first + 1) {
      const std::string inner = tagged_type_name(name);
      pending_.push_back({name, text + ", type " + quoted(inner) + tag_of(v, first) + " }"});
      return define(inner, v, first + 1);
    }
    std::string type, extra;
    if (!base_text(name, *v.base, *v.module, false, type, extra)) return false;
    text += ", type " + quoted(type);
    if (v.tags.size() > first) text += tag_of(v, first);
    pending_.push_back({name, text + extra + " }"});
    return true;
  }

  static std::string enums_text(const char* member, const std::vector<std::pair<std::string, int64_t>>& numbers) {
    std::string text = std::string(", ") + member + " {";
    for (std::size_t k = 0; k < numbers.size(); ++k)
      text += (k ? ", " : " ") + std::string("{ label ") + quoted(numbers[k].first) + ", value " +
              std::to_string(numbers[k].second) + " }";
    return text + " }";
  }

  bool named_numbers(const Type& t, std::vector<std::pair<std::string, int64_t>>& out) {
    for (const NamedNumber& n : t.numbers) {
      int64_t value = n.value;
      if (!n.value_reference.empty()) {
        const std::optional<int64_t> v = r_.integer_value(n.value_reference);
        if (!v || *v > INT32_MAX || *v < INT32_MIN) {
          problem_ = "named number " + n.name + " refers to " + n.value_reference + ", which is no 32-bit INTEGER value";
          return false;
        }
        value = *v;
      }
      out.emplace_back(n.name, value);
    }
    return true;
  }

  void check_reference(const std::string& name) {
    if (!r_.find(name) && !r_.in_dictionary(name)) warn("type " + name + " is not defined in the batch or the dictionary");
  }

  // The type name of a base and what follows the tag in its definition
  // (fields, enums); `member` when the base is written on a field.
  bool base_text(const std::string& name, const Type& base, const Module& module, bool member, std::string& type,
                 std::string& extra) {
    switch (base.kind) {
      case TypeKind::kBuiltin: {
        type = base.name;
        if (base.named_bits) warn("named bits of BIT STRING dropped");
        std::vector<std::pair<std::string, int64_t>> numbers;
        if (!named_numbers(base, numbers)) return false;
        if (!numbers.empty()) extra = enums_text("enums", numbers);
        return true;
      }
      case TypeKind::kReference:
        type = base.name;
        check_reference(base.name);
        return true;
      case TypeKind::kAny:
      case TypeKind::kClassField:
        if (member && !base.defined_by.empty()) {
          type = "ANY DEFINED BY";
          extra = ", anyDefinedById " + quoted(base.defined_by);
        } else {
          type = "ANY";
        }
        return true;
      case TypeKind::kSequenceOf:
      case TypeKind::kSetOf: {
        type = base.kind == TypeKind::kSetOf ? "SET OF" : "SEQUENCE OF";
        TypeView element;
        if (!r_.view(*base.element, module, element, problem_)) return false;
        std::string field;
        if (!field_text("", element_type_name(name), element, Existence::kMandatory, field)) return false;
        extra = ", fields { " + field + " }";
        return true;
      }
      case TypeKind::kSequence:
      case TypeKind::kSet:
      case TypeKind::kChoice: {
        type = base.kind == TypeKind::kSequence ? "SEQUENCE" : base.kind == TypeKind::kSet ? "SET" : "CHOICE";
        std::string fields;
        if (!components_text(name, base, module, 0, fields)) return false;
        if (!fields.empty()) extra = ", fields {" + fields + " }";
        return true;
      }
      case TypeKind::kSelection:
        break;
    }
    problem_ = "unexpected selection type";
    return false;
  }

  bool field_text(const std::string& field_name, const std::string& synth, const TypeView& v, Existence existence,
                  std::string& out) {
    out = "{ ";
    if (!field_name.empty()) out += "name " + quoted(field_name) + ", ";
    std::string type, extra;
    if (v.tags.size() > 1 || is_inline_constructed(*v.base)) {
      if (!define(synth, v, v.tags.empty() ? 0 : 1)) return false;
      type = synth;
    } else if (!base_text(synth, *v.base, *v.module, true, type, extra)) {
      return false;
    }
    out += "type " + quoted(type);
    if (!v.tags.empty()) out += tag_of(v, 0);
    if (existence != Existence::kMandatory)
      out += existence == Existence::kOptional ? ", existence optional" : ", existence default";
    // Field order: enums before anyDefinedById, as the meta-schema has them.
    out += extra + " }";
    return true;
  }

  bool components_text(const std::string& outer, const Type& t, const Module& module, int depth, std::string& out) {
    for (const Component& c : t.components) {
      if (c.components_of) {
        if (!components_of(outer, *c.type, depth, out)) return false;
        continue;
      }
      const std::string name = c.name.empty() ? unnamed_component_name(*c.type) : c.name;
      Existence existence = c.existence;
      if (c.after_extension && existence == Existence::kMandatory) {
        existence = Existence::kOptional;
        if (!warned_extension_) warn("components after the extension marker entered as OPTIONAL");
        warned_extension_ = true;
      }
      TypeView v;
      if (!r_.view(*c.type, module, v, problem_)) return false;
      std::string field;
      if (!field_text(name, member_type_name(outer, name), v, existence, field)) return false;
      out += (out.empty() ? " " : ", ") + field;
    }
    return true;
  }

  bool components_of(const std::string& outer, const Type& ref, int depth, std::string& out) {
    if (ref.kind != TypeKind::kReference || depth >= kMaxComponentsOf) {
      problem_ = "COMPONENTS OF needs a SEQUENCE or SET type reference";
      return false;
    }
    if (const std::optional<TypeDefinition> def = r_.sequence_of(ref.name))
      return components_text(outer, *def->assignment->type, *def->module, depth + 1, out);
    if (entry_fields(ref.name, out)) return true;
    problem_ = "COMPONENTS OF " + ref.name + ": no SEQUENCE or SET of that name";
    return false;
  }

  // COMPONENTS OF a type the dictionary already holds: its members as
  // fields.
  bool entry_fields(const std::string& name, std::string& out) {
    TUL_Metadata* md = r_.dictionary();
    TUL_Asn1TypeEntry* e = md ? find_type(md, TUL_unique_string(name.c_str())) : nullptr;
    if (!e || e->tag_flag != 0 || !e->type) return false;
    const std::string_view base = e->type;
    if (base != "SEQUENCE" && base != "SET") return false;
    for (int32_t k = 0; k < e->size; ++k) {
      const TUL_Asn1Type& m = e->members[k];
      std::string field = "{ name " + quoted(m.name ? m.name : "") + ", type " + quoted(m.type);
      if (m.tag_flag) field += tag_text(m.tag_flag, m.tag_val, (m.tag_flag & TUL_TAG_EXPLICIT) != 0);
      if (m.opt_def) field += m.opt_def == TUL_OPTIONAL ? ", existence optional" : ", existence default";
      std::vector<std::pair<std::string, int64_t>> numbers;
      for (int32_t n = 0; n < m.enums; ++n) numbers.emplace_back(m.enum_list[n].name, m.enum_list[n].val);
      if (!numbers.empty()) field += enums_text("enums", numbers);
      if (m.anydefbyId) field += ", anyDefinedById " + quoted(m.anydefbyId);
      out += (out.empty() ? " " : ", ") + field + " }";
    }
    return true;
  }

  Resolver& r_;
  Diagnostics& diags_;
  const Module& module_;
  const Assignment& a_;
  std::vector<Definition> pending_;
  std::string problem_;
  bool warned_extension_ = false;
};

}  // namespace

void Emitter::emit_module(const Module& module) {
  resolver_.set_file(module.file);
  for (const Assignment& a : module.assignments) {
    if (a.kind == AssignmentKind::kType)
      emit_assignment(module, a);
    else if (a.kind == AssignmentKind::kSkipped || a.kind == AssignmentKind::kClass)
      ++skipped_;
  }
}

void Emitter::emit_used_builtins(const Module& builtin) {
  resolver_.set_file(builtin.file);
  for (std::vector<const Assignment*> used = resolver_.take_used(); !used.empty(); used = resolver_.take_used())
    for (const Assignment* a : used) emit_assignment(builtin, *a);
}

void Emitter::emit_assignment(const Module& module, const Assignment& a) {
  if (resolver_.in_cycle(a)) {
    diags_.error(module.file, a.at, a.name, "type " + a.name + " refers to itself through type references only");
    return;
  }
  AssignmentWriter writer(resolver_, diags_, module, a);
  std::vector<AssignmentWriter::Definition> definitions;
  if (!writer.run(definitions)) {
    diags_.error(module.file, a.at, a.name, writer.problem());
    return;
  }
  for (const AssignmentWriter::Definition& d : definitions) enter(module, a, d.name, d.text);
}

void Emitter::enter(const Module& module, const Assignment& a, const std::string& name, const std::string& text) {
  if (auto it = emitted_.find(name); it != emitted_.end()) {
    ++skipped_;
    if (it->second.text != text)
      diags_.warning(module.file, a.at, a.name,
                     name + " is defined differently in modules " + it->second.module + " and " + module.name +
                         "; the first definition is kept");
    return;
  }
  emitted_.emplace(name, Emitted{text, module.name});
  if (resolver_.in_dictionary(name)) {
    ++skipped_;
    diags_.warning(module.file, a.at, a.name, name + " is already in the dictionary; that definition is kept");
    return;
  }
  TUL_Object* value = TUL_parse_str(md_, text.c_str());
  if (!value || value->error) {
    const char* message = value ? TUL_read_str(value) : nullptr;
    diags_.error(module.file, a.at, a.name, "cannot enter " + name + ": " + (message ? message : "out of memory"));
    TUL_free(value);
    return;
  }
  if (!check_) {
    TUL_Object* result = TUL_add_definition(md_, value);
    if (result != value) {
      diags_.error(module.file, a.at, a.name, "cannot enter " + name);
      TUL_free(result);
      TUL_free(value);
      return;
    }
  }
  TUL_free(value);
  ++entered_;
}

}  // namespace tul::import
