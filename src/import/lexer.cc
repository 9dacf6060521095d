// The ASN.1 scanner. Comments: "--" to the next "--" or the end of the line,
// and "/* */" nested; character classes are tested as ASCII ranges.
#include "lexer.h"

#include <cstring>

namespace tul::import {
namespace {

bool is_letter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }
bool is_blank(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v' || c == '\n'; }

class Scanner {
 public:
  Scanner(const Source& source, Diagnostics& diags)
      : source_(source), text_(source.text), diags_(diags), line_(source.start.line), column_(source.start.column) {}

  std::vector<Token> run() {
    std::vector<Token> tokens;
    for (;;) {
      skip_blanks_and_comments();
      if (pos_ >= text_.size()) break;
      Token t = next();
      if (t.kind != TokenKind::kEnd) tokens.push_back(t);
    }
    tokens.push_back({TokenKind::kEnd, {}, here()});
    return tokens;
  }

 private:
  Position here() const { return {line_, column_}; }
  unsigned char peek(std::size_t ahead = 0) const {
    return pos_ + ahead < text_.size() ? static_cast<unsigned char>(text_[pos_ + ahead]) : 0;
  }
  void advance() {
    if (text_[pos_] == '\n') {
      ++line_;
      column_ = 1;
    } else {
      ++column_;
    }
    ++pos_;
  }
  void error(Position at, std::string message) { diags_.error(source_.file, at, "", std::move(message)); }

  void skip_line_comment() {
    advance();
    advance();
    while (pos_ < text_.size() && peek() != '\n') {
      if (peek() == '-' && peek(1) == '-') {
        advance();
        advance();
        return;
      }
      advance();
    }
  }

  void skip_block_comment() {
    const Position start = here();
    int depth = 0;
    while (pos_ < text_.size()) {
      if (peek() == '/' && peek(1) == '*') {
        ++depth;
        advance();
      } else if (peek() == '*' && peek(1) == '/') {
        --depth;
        advance();
        advance();
        if (depth == 0) return;
        continue;
      }
      advance();
    }
    error(start, "comment '/*' is never closed");
  }

  void skip_blanks_and_comments() {
    while (pos_ < text_.size()) {
      if (is_blank(peek()))
        advance();
      else if (peek() == '-' && peek(1) == '-')
        skip_line_comment();
      else if (peek() == '/' && peek(1) == '*')
        skip_block_comment();
      else
        return;
    }
  }

  Token make(TokenKind kind, std::size_t start, Position at) {
    return {kind, std::string_view(text_).substr(start, pos_ - start), at};
  }

  Token word(TokenKind kind) {
    const Position at = here();
    const std::size_t start = pos_;
    advance();
    while (is_letter(peek()) || is_digit(peek()) || (peek() == '-' && peek(1) != '-' && (is_letter(peek(1)) || is_digit(peek(1)))))
      advance();
    Token t = make(kind, start, at);
    if (t.text.size() > kMaxNameLength) {
      error(at, "name of " + std::to_string(t.text.size()) + " characters is longer than " +
                    std::to_string(kMaxNameLength) + ": " + quote_token(t.text));
      t.kind = TokenKind::kError;
    }
    return t;
  }

  Token quoted() {
    const Position at = here();
    const std::size_t start = pos_;
    advance();
    for (;;) {
      if (pos_ >= text_.size()) {
        error(at, "string '\"' is never closed");
        return make(TokenKind::kError, start, at);
      }
      if (peek() == '"') {
        advance();
        if (peek() != '"') break;  // a doubled quote stands for one
      }
      advance();
    }
    Token t = make(TokenKind::kString, start, at);
    t.text = t.text.substr(1, t.text.size() - 2);
    return t;
  }

  Token bit_string() {
    const Position at = here();
    const std::size_t start = pos_;
    advance();
    while (pos_ < text_.size() && peek() != '\'' && peek() != '\n') advance();
    if (peek() != '\'' || (peek(1) != 'B' && peek(1) != 'H' && peek(1) != 'b' && peek(1) != 'h')) {
      error(at, "binary or hexadecimal string is not closed by 'B or 'H");
      return make(TokenKind::kError, start, at);
    }
    advance();
    advance();
    return make(TokenKind::kBitString, start, at);
  }

  Token non_ascii() {
    const Position at = here();
    const std::size_t start = pos_;
    while (pos_ < text_.size() && peek() >= 0x80) advance();
    Token t = make(TokenKind::kError, start, at);
    error(at, "non-ASCII character " + quote_token(t.text));
    return t;
  }

  Token punctuation() {
    const Position at = here();
    const std::size_t start = pos_;
    static constexpr struct {
      const char* text;
      TokenKind kind;
    } kMulti[] = {{"::=", TokenKind::kAssign}, {"...", TokenKind::kEllipsis},
                  {"[[", TokenKind::kLeftVersion}, {"]]", TokenKind::kRightVersion}};
    for (const auto& m : kMulti) {
      const std::size_t n = std::strlen(m.text);
      if (text_.compare(pos_, n, m.text) == 0) {
        for (std::size_t i = 0; i < n; ++i) advance();
        return make(m.kind, start, at);
      }
    }
    const unsigned char c = peek();
    advance();
    if (std::strchr("{}()[],.;:|<>@!^-=*+/", c) && c != 0) return make(TokenKind::kPunct, start, at);
    Token t = make(TokenKind::kError, start, at);
    error(at, "unexpected character " + quote_token(t.text));
    return t;
  }

  Token next() {
    const unsigned char c = peek();
    if (is_letter(c)) return word(TokenKind::kWord);
    if (c == '&' && is_letter(peek(1))) return word(TokenKind::kField);
    if (is_digit(c)) {
      const Position at = here();
      const std::size_t start = pos_;
      while (is_digit(peek())) advance();
      return make(TokenKind::kNumber, start, at);
    }
    if (c == '"') return quoted();
    if (c == '\'') return bit_string();
    if (c >= 0x80) return non_ascii();
    return punctuation();
  }

  const Source& source_;
  const std::string& text_;
  Diagnostics& diags_;
  std::size_t pos_ = 0;
  int line_;
  int column_;
};

}  // namespace

void rewrite_dashes(Source& source, Diagnostics& diags) {
  std::string out;
  out.reserve(source.text.size());
  int line = 1;
  int warned_line = 0;
  const std::string& in = source.text;
  for (std::size_t i = 0; i < in.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(in[i]);
    if (c == '\n') ++line;
    // U+2010..U+2015 are E2 80 90..95 in UTF-8.
    if (c == 0xE2 && i + 2 < in.size() && static_cast<unsigned char>(in[i + 1]) == 0x80 &&
        static_cast<unsigned char>(in[i + 2]) >= 0x90 && static_cast<unsigned char>(in[i + 2]) <= 0x95) {
      if (warned_line != line) diags.warning(source.file, {line, 0}, "", "Unicode dash read as '-'");
      warned_line = line;
      out += '-';
      i += 2;
      continue;
    }
    out += static_cast<char>(c);
  }
  source.text = std::move(out);
}

std::vector<Token> scan_asn1(const Source& source, Diagnostics& diags) { return Scanner(source, diags).run(); }

bool number_value(std::string_view digits, uint64_t limit, uint64_t& value) {
  value = 0;
  for (char d : digits) {
    if (__builtin_mul_overflow(value, 10u, &value) || __builtin_add_overflow(value, static_cast<unsigned>(d - '0'), &value))
      return false;
    if (value > limit) return false;
  }
  return true;
}

}  // namespace tul::import
