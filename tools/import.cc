// ASN.1 modules, SNMP MIBs and GDMO texts in the tul program: --defs files
// that hold them go through the importer, and the import command checks or
// imports them and reports every diagnostic with a summary.
#include <cstring>
#include <iterator>
#include <fstream>

#include "cli.h"

namespace tul::cli {
namespace {

bool ends_with(const std::string& s, const char* suffix) {
  const std::size_t n = std::strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

// Whether the text starts like a module: after blanks and comments, a name
// (not a meta-schema value), and DEFINITIONS before the first "::=".
bool starts_like_module(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    if (is_blank(text[i])) {
      ++i;
    } else if (text.compare(i, 2, "--") == 0) {
      const std::size_t end = text.find('\n', i);
      i = end == std::string::npos ? text.size() : end;
    } else {
      break;
    }
  }
  if (i >= text.size() || text.compare(i, 4, "TUL.") == 0 || !(text[i] >= 'A' && text[i] <= 'Z')) return false;
  const std::size_t definitions = text.find("DEFINITIONS", i);
  const std::size_t assign = text.find("::=", i);
  return definitions != std::string::npos && definitions < assign;
}

// The template keywords by entry type, for telling GDMO text by its content
// and for the counts of the import command.
constexpr const char* kTemplateKeywords[] = {"NOTIFICATION", "ATTRIBUTE",       "PARAMETER",
                                             "ACTION",       "MANAGED OBJECT CLASS", "PACKAGE",
                                             "NAME BINDING", "ATTRIBUTE GROUP", "BEHAVIOUR"};
static_assert(std::size(kTemplateKeywords) == std::size(TUL_ImportResult{}.templates_entered));

// Whether the line at `i` starts with a label and a template keyword.
bool starts_template(const std::string& text, std::size_t i) {
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i >= text.size() || !(text[i] >= 'a' && text[i] <= 'z')) return false;
  while (i < text.size() && !is_blank(text[i])) ++i;
  while (i < text.size() && is_blank(text[i])) ++i;
  for (const char* keyword : kTemplateKeywords) {
    const std::size_t n = std::strlen(keyword);
    if (text.compare(i, n, keyword) == 0 && (i + n == text.size() || is_blank(text[i + n]))) return true;
  }
  return false;
}

// GDMO text: a line that starts a template.
bool has_template_header(const std::string& text) {
  for (std::size_t line = 0; line < text.size();) {
    if (starts_template(text, line)) return true;
    const std::size_t end = text.find('\n', line);
    if (end == std::string::npos) break;
    line = end + 1;
  }
  return false;
}

void print_template_counts(const TUL_ImportResult& r, const char* verb) {
  bool any = false;
  for (std::size_t k = 0; k < std::size(kTemplateKeywords); ++k) {
    if (r.templates_entered[k] == 0) continue;
    std::printf("%s%d %s", any ? ", " : "templates: ", r.templates_entered[k], kTemplateKeywords[k]);
    any = true;
  }
  if (any) std::printf(" %s\n", verb);
}

void print_diagnostics(const TUL_ImportResult& r, FILE* out, bool warnings) {
  for (int k = 0; k < r.diagnostic_count; ++k) {
    const TUL_ImportDiagnostic& d = r.diagnostics[k];
    if (d.severity == TUL_IMPORT_WARNING && !warnings) continue;
    std::fprintf(out, "%s", d.file);
    if (d.line > 0) std::fprintf(out, ":%d:%d", d.line, d.column);
    std::fprintf(out, ": %s: ", d.severity == TUL_IMPORT_ERROR ? "error" : "warning");
    if (*d.item) std::fprintf(out, "%s: ", d.item);
    std::fprintf(out, "%s\n", d.message);
  }
}

// Imports `paths` as one batch; the result is the caller's.
TUL_ImportResult* import_batch(TUL_Metadata* md, const std::vector<std::string>& paths, int flags) {
  std::vector<const char*> names;
  for (const std::string& p : paths) names.push_back(p.c_str());
  TUL_ImportResult* r = TUL_import_files(md, names.data(), static_cast<int>(names.size()), flags);
  if (!r) report("cannot import: out of memory");
  return r;
}

}  // namespace

bool is_module_file(const std::string& path) {
  for (const char* suffix : {".asn", ".asn1", ".gdmo", ".mib", ".my"})
    if (ends_with(path, suffix)) return true;
  std::ifstream in(path, std::ios::binary);
  std::string head(4096, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  return starts_like_module(head) || has_template_header(head);
}

bool import_definitions(TUL_Metadata* md, const std::vector<std::string>& paths, bool verbose) {
  TUL_ImportResult* r = import_batch(md, paths, 0);
  if (!r) return false;
  std::fflush(stdout);
  print_diagnostics(*r, stderr, verbose);
  const bool ok = r->errors == 0;
  TUL_free_import_result(r);
  return ok;
}

bool load_all_definitions(TUL_Metadata* md, const Invocation& inv) {
  // Modules named one after the other form one batch, so that their names
  // and tag modes resolve across them.
  std::vector<std::string> modules;
  for (std::size_t k = 0; k <= inv.defs.size(); ++k) {
    const bool module = k < inv.defs.size() && is_module_file(inv.defs[k]);
    if (module) {
      modules.push_back(inv.defs[k]);
      continue;
    }
    if (!modules.empty() && !import_definitions(md, modules, inv.verbose)) return false;
    modules.clear();
    if (k < inv.defs.size() && !load_definitions(md, inv.defs[k])) return false;
  }
  return true;
}

int run_import(TUL_Metadata* md, const Invocation& inv) {
  TUL_ImportResult* r = import_batch(md, inv.arguments, inv.check ? TUL_IMPORT_CHECK : 0);
  if (!r) return kExitFailure;
  print_diagnostics(*r, stdout, true);
  std::printf("%d types %s, %d items skipped, %d values kept, %d errors, %d warnings\n", r->types_entered,
              inv.check ? "checked" : "entered", r->items_skipped, r->values_kept, r->errors, r->warnings);
  print_template_counts(*r, inv.check ? "checked" : "entered");
  int status = r->errors == 0 ? kExitOk : kExitFailure;
  TUL_free_import_result(r);
  if (status == kExitOk && inv.store && !inv.check && TUL_store_Metadata(md, inv.store_file.c_str()) != 0) {
    report("%s: cannot store the dictionary", inv.store_file.c_str());
    status = kExitFailure;
  }
  return status;
}

}  // namespace tul::cli
