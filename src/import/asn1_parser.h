// The ASN.1 module parser: tokens to modules of assignments. Every failure
// is reported with the file, the position and the offending token and ends
// only the assignment it occurs in; parsing resumes at the next assignment.
#ifndef TUL_IMPORT_ASN1_PARSER_H
#define TUL_IMPORT_ASN1_PARSER_H

#include <string_view>
#include <vector>

#include "asn1_ast.h"
#include "lexer.h"

namespace tul::import {

// Types nest at most this deep (inline SEQUENCE in SEQUENCE ...); deeper text
// is rejected, so neither the parser nor the stages after it recurse further.
constexpr int kMaxTypeDepth = 64;

// Appends the modules of `tokens` (scanned from `source`) to `modules`.
void parse_asn1(const Source& source, const std::vector<Token>& tokens, Diagnostics& diags,
                std::vector<Module>& modules);

// Macros whose instances are skipped and whose names used as types read as
// ANY.
bool is_macro_name(std::string_view name);

}  // namespace tul::import

#endif
