// Tokens of module texts. The scanner keeps line and column, steps over the
// comments both notations share ("--" to the next "--" or the end of the
// line) and reports what it cannot read as diagnostics instead of stopping,
// so a damaged text still yields the tokens around the damage.
#ifndef TUL_IMPORT_LEXER_H
#define TUL_IMPORT_LEXER_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "diag.h"

namespace tul::import {

// Names longer than this are damage, not names; they are reported and
// replaced by an error token so that no later stage handles megabytes.
constexpr std::size_t kMaxNameLength = 256;

enum class TokenKind {
  kEnd,
  kWord,         // identifier or reference: letters, digits, single hyphens
  kField,        // &name of an information object class
  kNumber,       // decimal digits
  kString,       // "..." (quotes kept out of text)
  kBitString,    // '...'B or '...'H
  kAssign,       // ::=
  kEllipsis,     // ...
  kLeftVersion,  // [[
  kRightVersion, // ]]
  kPunct,        // one character: { } ( ) [ ] , . ; : | < > @ ! ^ - = *
  kError,        // unreadable text, already reported
};

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string_view text;
  Position at;

  bool is(char c) const { return kind == TokenKind::kPunct && text.size() == 1 && text[0] == c; }
  bool is_word(std::string_view w) const { return kind == TokenKind::kWord && text == w; }
  bool upper() const { return kind == TokenKind::kWord && text[0] >= 'A' && text[0] <= 'Z'; }
  bool lower() const { return kind == TokenKind::kWord && text[0] >= 'a' && text[0] <= 'z'; }
};

// Options of a batch that change how text is read.
struct ReadOptions {
  bool dashes_as_hyphens = false;  // U+2010..U+2015 read as '-', with a warning
};

// A text with its file name. When dashes are read as hyphens, `text` is the
// rewritten copy, so token views always point into `text`.
struct Source {
  std::string file;
  std::string text;
  Position start = {1, 1};  // of the text within its file (a module inside GDMO text)
};

// Replaces the Unicode dashes of `source` by '-' (one byte for three; the
// columns of later tokens on the line shift by two per dash), warning once per
// line.
void rewrite_dashes(Source& source, Diagnostics& diags);

// Scans the whole of `source` into tokens ending with one kEnd token.
std::vector<Token> scan_asn1(const Source& source, Diagnostics& diags);

// Decimal value of a kNumber token; false when it exceeds `limit`.
bool number_value(std::string_view digits, uint64_t limit, uint64_t& value);

}  // namespace tul::import

#endif
