// One import batch: sources read and scanned, modules parsed, then resolved
// and entered together, so that names and tag modes see the whole batch.
// GDMO templates and SNMP macro instances enter after all types of the batch.
#ifndef TUL_IMPORT_IMPORT_H
#define TUL_IMPORT_IMPORT_H

#include <string>
#include <vector>

#include <array>

#include "asn1_ast.h"
#include "diag.h"
#include "lexer.h"
#include "templates.h"

namespace tul::import {

class Batch {
 public:
  Batch(TUL_Metadata* md, int flags) : md_(md), flags_(flags) {}

  // Reads and parses one text; problems become diagnostics.
  void add_text(std::string file, std::string text);
  // Reads and parses the file at `path`.
  void add_file(const std::string& path);
  // Resolves the batch and enters its definitions.
  void finish();

  // The result in the public form; null on memory shortage.
  TUL_ImportResult* result() const;

  Diagnostics& diagnostics() { return diags_; }

 private:
  std::vector<Diagnostic> sorted_diagnostics() const;
  void enter_templates(Resolver& resolver);

  TUL_Metadata* md_;
  int flags_;
  Diagnostics diags_;
  std::vector<Module> modules_;
  std::vector<Template> templates_;
  std::array<int, 9> templates_entered_{};
  int dropped_clauses_ = 0;
  int entered_ = 0;
  int skipped_ = 0;
  int values_ = 0;
};

// The library's own 1988-style module with the X.501 names that
// network-management modules import (Name, RDNSequence, ...), the string
// types the dictionary lacks and the SNMP SMI names and common textual
// conventions that MIBs import; its types are entered only when used.
extern const char* const kBuiltinModule;

}  // namespace tul::import

#endif
