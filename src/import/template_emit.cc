// Templates enter as values of their meta-schema type, written in value
// notation and read by the library's parser, exactly as the same text in a
// definitions file would. Nothing here builds the registration index: the
// batch does that once, after the last template.
#include "dict.h"
#include "hash.h"
#include "templates.h"

namespace tul::import {
namespace {

constexpr int kMaxDerivation = 64;

// What the object identifier reader accepts: two arcs at least, the first
// 0..2, and under 0 and 1 a second arc below 40.
bool valid_oid(const std::string& arcs, std::string& problem) {
  std::vector<uint64_t> first;
  for (std::size_t start = 0; start < arcs.size() && first.size() < 2;) {
    std::size_t end = arcs.find(' ', start);
    if (end == std::string::npos) end = arcs.size();
    first.push_back(std::stoull(arcs.substr(start, end - start)));
    start = end + 1;
  }
  if (first.size() >= 2 && first[0] <= 2 && (first[0] == 2 || first[1] < 40)) return true;
  problem = "registration {" + arcs + "} is no valid object identifier";
  return false;
}

}  // namespace

bool TemplateEmitter::registration_text(const Template& t, std::string& text) {
  std::string problem;
  if (resolver_.oid_items(t.registration, text, problem) && valid_oid(text, problem)) return true;
  diags_.error(t.file, t.at, t.label, "REGISTERED AS of " + t.label + ": " + problem);
  return false;
}

bool TemplateEmitter::in_dictionary(int kind, const std::string& label) const {
  TUL_AttributeEntry key{};
  key.label = TUL_unique_string(label.c_str());
  return key.label && TULH_assoc_entry(md_->*dict::template_kind(kind)->table, &key) != nullptr;
}

bool TemplateEmitter::defined_anywhere(const std::string& label) const {
  if (labels_.count(label)) return true;
  for (int kind = 1; kind <= dict::kTemplateKinds; ++kind)
    if (in_dictionary(kind, label)) return true;
  return false;
}

// The syntax of the attribute a DERIVED FROM chain ends in; the derivation
// itself when the root is found nowhere.
std::string TemplateEmitter::derivation_text(const Template& t) {
  const Template* current = &t;
  for (int hops = 0; hops < kMaxDerivation; ++hops) {
    if (current->derived_from.empty()) {
      for (const TemplateField& f : current->fields)
        if (f.member == "derivedOrSyntax") return f.text;
      break;
    }
    auto it = attributes_.find(current->derived_from);
    if (it != attributes_.end()) {
      current = it->second;
      continue;
    }
    TUL_AttributeEntry key{};
    key.label = TUL_unique_string(current->derived_from.c_str());
    auto* root = key.label ? static_cast<TUL_AttributeEntry*>(TULH_assoc_entry(md_->attributes, &key)) : nullptr;
    if (root && root->syntax) return "syntax : " + notation_string(root->syntax);
    break;
  }
  diags_.warning(t.file, t.at, t.label,
                 "no syntax found for " + t.label + " along DERIVED FROM " + t.derived_from + "; the derivation is kept");
  return "derivedFrom : " + notation_string(t.derived_from);
}

void TemplateEmitter::emit(const std::vector<Template>& templates) {
  for (const Template& t : templates) {
    labels_.insert(t.label);
    if (t.kind == TUL_ENTRY_ATTRIBUTE) attributes_.emplace(t.label, &t);
  }
  for (const Template& t : templates) {
    for (const LabelUse& use : t.uses)
      if (!defined_anywhere(use.label))
        diags_.warning(t.file, use.at, t.label, "label " + use.label + " is used but not defined");
    std::string text = std::string(names().*dict::template_kind(t.kind)->value_type) + " {";
    if (t.registered) {
      std::string arcs;
      if (!registration_text(t, arcs)) continue;
      text += " registration " + notation_string(arcs) + ",";
    }
    text += " label " + notation_string(t.label);
    for (const TemplateField& f : t.fields)
      text += ", " + f.member + " " + (t.derived_from.empty() || f.member != "derivedOrSyntax" ? f.text : derivation_text(t));
    enter(t, text + " }");
  }
}

void TemplateEmitter::enter(const Template& t, const std::string& text) {
  if (in_dictionary(t.kind, t.label)) {
    ++skipped_;
    diags_.warning(t.file, t.at, t.label, t.label + " is already in the dictionary; that template is kept");
    return;
  }
  TUL_Object* value = TUL_parse_str(md_, text.c_str());
  if (!value || value->error) {
    const char* message = value ? TUL_read_str(value) : nullptr;
    diags_.error(t.file, t.at, t.label, "cannot enter " + t.label + ": " + (message ? message : "out of memory"));
    TUL_free(value);
    return;
  }
  if (!check_ && TUL_add_definition(md_, value) != value) {
    diags_.error(t.file, t.at, t.label, "cannot enter " + t.label);
    TUL_free(value);
    return;
  }
  TUL_free(value);
  ++entered_[static_cast<std::size_t>(t.kind - 1)];
}

}  // namespace tul::import
