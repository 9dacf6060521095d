// Value notation: the tokenizer and the drivers that read and write typed
// values. The tokenizer keeps one character of look-ahead and one token in a
// fixed buffer inside the caller's context, so parsing allocates nothing but
// the values; every failure is recorded in the context, first one wins.
#include "parse.h"

#include <array>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dtd.h"
#include "hash.h"
#include "mem.h"

namespace tul::parse {
namespace {

constexpr int kEndOfInput = -1;
// A token keeps room for its terminating NUL.
constexpr int kMaxTokenChars = TULP_MAX_TOKEN - 1;
constexpr int kPrintStep = 512;

constexpr const char* kTooLarge = "TOKEN too large";
constexpr const char* kUnterminated = "string too long, string termination character missing?";


/* ------------------------------------------------------------------------
 * Character classes: fixed 7-bit ASCII, whatever the process locale.
 * ---------------------------------------------------------------------- */

constexpr bool is_upper(int c) { return c >= 'A' && c <= 'Z'; }
constexpr bool is_lower(int c) { return c >= 'a' && c <= 'z'; }
constexpr bool is_letter(int c) { return is_upper(c) || is_lower(c); }
constexpr bool is_digit(int c) { return c >= '0' && c <= '9'; }
constexpr bool is_name_char(int c) { return is_letter(c) || is_digit(c) || c == '-' || c == '.'; }
constexpr bool is_number_char(int c) {
  return is_digit(c) || c == '.' || c == '-' || c == '+' || c == 'E' || c == 'e';
}

constexpr std::array<unsigned char, 256> make_hex_table() {
  std::array<unsigned char, 256> table{};
  for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<unsigned char>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<unsigned char>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c) table[c] = static_cast<unsigned char>(c - 'a' + 10);
  return table;
}
constexpr std::array<unsigned char, 256> kHexValue = make_hex_table();

constexpr bool is_hex_digit(int c) {
  return is_digit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

/* ------------------------------------------------------------------------
 * Tokenizer
 * ---------------------------------------------------------------------- */

void count_line(TULP_ParseContext* ctx) {
  if (ctx->line_nbr < INT_MAX) ++ctx->line_nbr;
}

// Reads the next character into the look-ahead.
int advance(TULP_ParseContext* ctx) {
  int c = ctx->next(ctx->stream);
  ctx->ch = c < 0 ? kEndOfInput : (c & 0xFF);
  return ctx->ch;
}

// Reads the next character of a quoted string; newlines inside strings
// count as lines too.
int advance_in_string(TULP_ParseContext* ctx) {
  int c = advance(ctx);
  if (c == '\n') count_line(ctx);
  return c;
}

void record_lexical(TULP_ParseContext* ctx, const char* message, const char* last_token) {
  if (ctx->error) return;
  ctx->error = TUL_error(ctx->dtd, TUL_ERR_PARSE, message, ctx->line_nbr, last_token);
}

// Collects the text of a name, number or string token.
class TokenText {
 public:
  explicit TokenText(TULP_ParseContext* ctx) : ctx_(ctx) {}
  [[nodiscard]] bool put(int c) {
    if (count_ >= kMaxTokenChars) return false;
    ctx_->buffer[count_++] = static_cast<char>(c);
    return true;
  }
  void terminate() { ctx_->buffer[count_] = '\0'; }
  void finish(TULP_TokenType id) {
    terminate();
    ctx_->len = count_;
    ctx_->id = id;
  }
  // The token outgrew the buffer, or a string lost its closing quote: keep
  // what fits, record the error and stop reading the input.
  void fail(TULP_TokenType id, const char* message) {
    finish(id);
    record_lexical(ctx_, message, kTooLarge);
    ctx_->ch = '\0';
  }

 private:
  TULP_ParseContext* ctx_;
  int count_ = 0;
};

// After "--": up to and including the closing "--", or up to (not
// including) the newline, or to the end of the input.
void skip_comment(TULP_ParseContext* ctx) {
  advance(ctx);
  for (;;) {
    if (ctx->ch == kEndOfInput || ctx->ch == '\n') return;
    if (ctx->ch == '-') {
      if (advance(ctx) == '-') {
        advance(ctx);
        return;
      }
      continue;  // the character after a lone "-" may itself end the comment
    }
    advance(ctx);
  }
}

void read_name(TULP_ParseContext* ctx) {
  TokenText text(ctx);
  TULP_TokenType id = is_lower(ctx->ch) ? TULP_LOWER_NAME : TULP_UPPER_NAME;
  while (is_name_char(ctx->ch)) {
    if (!text.put(ctx->ch)) return text.fail(id, "name too long");
    advance(ctx);
  }
  text.finish(id);
}

// The form is not checked here: the converters take the longest valid
// prefix of the text.
void read_number(TULP_ParseContext* ctx, bool negative) {
  TokenText text(ctx);
  if (negative) (void)text.put('-');
  while (is_number_char(ctx->ch)) {
    if (!text.put(ctx->ch)) return text.fail(TULP_NUMBER, "number too long");
    advance(ctx);
  }
  text.finish(TULP_NUMBER);
}

// The character a backslash escape stands for, or the end of input.
int read_escape(TULP_ParseContext* ctx, TokenText& text) {
  int c = advance_in_string(ctx);
  if (c == 'x') {
    int high = advance_in_string(ctx);
    if (high == kEndOfInput) return kEndOfInput;
    int low = advance_in_string(ctx);
    if (low == kEndOfInput) return kEndOfInput;
    return _hex2char(high, low);
  }
  if (c != kEndOfInput && c != '\\' && c != '"') {
    // Reported, but the character is kept and reading goes on.
    text.terminate();
    record_lexical(ctx, "after backslash only backslash or quote accepted", ctx->buffer);
  }
  return c;
}

// Collects the characters up to the closing `quote`. False when the string
// was too long or not closed, which is then recorded.
bool read_quoted(TULP_ParseContext* ctx, TokenText& text, int quote, bool escapes) {
  for (;;) {
    int c = advance_in_string(ctx);
    if (c == quote) return true;
    if (c == '\\' && escapes) c = read_escape(ctx, text);
    if (c == kEndOfInput || !text.put(c)) {
      text.fail(TULP_STRING, kUnterminated);
      return false;
    }
  }
}

void read_double_quoted(TULP_ParseContext* ctx) {
  TokenText text(ctx);
  if (!read_quoted(ctx, text, '"', true)) return;
  text.finish(TULP_STRING);
  advance(ctx);
}

void read_single_quoted(TULP_ParseContext* ctx) {
  TokenText text(ctx);
  if (!read_quoted(ctx, text, '\'', false)) return;
  // Only an upper-case B or H directly after the quote is a suffix.
  switch (advance(ctx)) {
    case 'B':
      text.finish(TULP_BSTRING);
      advance(ctx);
      break;
    case 'H':
      text.finish(TULP_HSTRING);
      advance(ctx);
      break;
    default:
      text.finish(TULP_STRING);
      break;
  }
}

void read_punctuation(TULP_ParseContext* ctx, TULP_TokenType id) {
  ctx->buffer[0] = static_cast<char>(ctx->ch);
  ctx->buffer[1] = '\0';
  ctx->id = id;
  advance(ctx);
}

/* ------------------------------------------------------------------------
 * Conversions
 * ---------------------------------------------------------------------- */

// atol with a long of the width of `max`: optional sign, digits, saturating.
int64_t to_saturated(const char* text, int64_t max) {
  const char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n') ++p;
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  const uint64_t limit = static_cast<uint64_t>(max) + 1;
  uint64_t value = 0;
  for (; is_digit(*p); ++p) {
    const auto digit = static_cast<uint64_t>(*p - '0');
    value = value > (limit - digit) / 10 ? limit : value * 10 + digit;
  }
  if (negative) return static_cast<int64_t>(0 - value);
  return value > static_cast<uint64_t>(max) ? max : static_cast<int64_t>(value);
}

int32_t to_int32(const char* text) { return static_cast<int32_t>(to_saturated(text, INT32_MAX)); }

// An INTEGER or ENUMERATED number, as wide as the values are.
int64_t to_integer(const char* text) { return tul::wide_integers() ? to_saturated(text, INT64_MAX) : to_int32(text); }

bool is_integer_like(const TUL_Object* obj) {
  const TUL_Behavior* b = obj->type_ref ? obj->type_ref->behavior : nullptr;
  return b && (b->basic_type & (TUL_INTEGER_TYPE | TUL_ENUMERATED_TYPE)) != 0;
}


// The interned copy of `text` if there is one; never interns.
char* find_interned(const char* text) {
  TULH_HT* strings = hash::strings();
  if (!strings) return nullptr;
  return static_cast<char*>(TULH_assoc_entry(strings, const_cast<char*>(text)));
}

// Hands an error object produced outside the tokenizer to the context,
// which owns its first error; later ones are released.
void adopt_error(TULP_ParseContext* ctx, TUL_Object* error) {
  if (!error) return;
  if (!ctx->error)
    ctx->error = error;
  else if (error != ctx->error)
    TUL_free(error);
}

enum class BehaviorOutcome {
  kDone,     // no error recorded; the value is complete
  kFailed,   // error recorded; the value is still the caller's to release
  kReplaced  // the behaviour answered with an error object of its own; whether
             // the value survived is unknown, so it must not be touched again
};

// Runs the parse behaviour of `obj`'s type and folds its answer into the
// context: an error object the behaviour returns instead of recording it
// becomes the run's error.
BehaviorOutcome run_parse_behavior(TUL_Object* obj, TULP_ParseContext* ctx) {
  TUL_Behavior* b = obj->type_ref->behavior;
  if (!b || !b->parse) {
    adopt_error(ctx, TUL_error(ctx->dtd, TUL_ERR_NO_BEHAVIOR, "parse", obj->type_ref->name));
    return BehaviorOutcome::kFailed;
  }
  TUL_Object* result = b->parse(obj, ctx);
  if (result && result != obj && result->error) {
    adopt_error(ctx, result);
    return BehaviorOutcome::kReplaced;
  }
  return ctx->error ? BehaviorOutcome::kFailed : BehaviorOutcome::kDone;
}

// A value that failed to parse: released unless its fate is unknown.
void discard(TUL_Object* obj, BehaviorOutcome outcome) {
  if (outcome == BehaviorOutcome::kFailed) TUL_free(obj);
}

// Records the error of a type that could not be allocated: the error object
// of the allocation, or code 4 when the type resolved to no table at all.
void record_alloc_failure(TULP_ParseContext* ctx, TUL_Metadata* dtd, TUL_Object* failure,
                          char* type) {
  adopt_error(ctx, failure ? failure : TUL_error(dtd, TUL_ERR_NO_TYPE, type));
}

/* ------------------------------------------------------------------------
 * Sinks
 * ---------------------------------------------------------------------- */

int stream_next(void* stream) { return std::fgetc(static_cast<FILE*>(stream)); }
void stream_putc(int c, void* stream) { std::fputc(c, static_cast<FILE*>(stream)); }
void stream_puts(const char* text, void* stream) { std::fputs(text, static_cast<FILE*>(stream)); }

bool open_buffer(TULP_PrintBuffer* buf) {
  buf->ptr = mem::alloc(kPrintStep);
  buf->size = buf->ptr ? kPrintStep : 0;
  buf->remain = buf->size;
  buf->pos = static_cast<char*>(buf->ptr);
  return buf->ptr != nullptr;
}

// Terminates the text and hands the block over; null when it could not be
// allocated or grown.
char* close_buffer(TULP_PrintBuffer* buf) {
  _printc('\0', buf);
  return static_cast<char*>(buf->ptr);
}

TULP_PrintContext buffer_context(TULP_PrintBuffer* buf, int level) {
  return TULP_PrintContext{buf, _printc, _prints, level};
}

void print_value(TUL_Object* obj, TULP_PrintContext* ctx) {
  TUL_Behavior* b = obj->type_ref ? obj->type_ref->behavior : nullptr;
  if (b && b->print) b->print(obj, ctx);
}

}  // namespace

/* ------------------------------------------------------------------------
 * Shared helpers
 * ---------------------------------------------------------------------- */

void record_error(TULP_ParseContext* ctx, const char* message) {
  if (!ctx || ctx->error) return;
  ctx->error = TUL_error(ctx->dtd, TUL_ERR_PARSE, message, ctx->line_nbr, ctx->buffer);
}

thread_local int parse_depth = 0;
thread_local int print_depth = 0;

int _get_next_char(void* p) {
  auto* cursor = static_cast<const unsigned char**>(p);
  unsigned char c = **cursor;
  if (c == '\0') return kEndOfInput;
  ++*cursor;
  return c;
}

void start_run(TULP_ParseContext* ctx, TUL_Metadata* dtd, void* stream, int (*next)(void*),
               int line) {
  ctx->stream = stream;
  ctx->next = next;
  ctx->error = nullptr;
  ctx->dtd = dtd;
  ctx->id = TULP_NO_TOKEN;
  ctx->ch = ' ';
  ctx->line_nbr = line;
  ctx->len = 0;
  ctx->buffer[0] = '\0';
  TULP_get_token(ctx);
}

}  // namespace tul::parse

using tul::parse::BehaviorOutcome;

/* ------------------------------------------------------------------------
 * Tokenizer
 * ---------------------------------------------------------------------- */

unsigned char _hex2char(int c1, int c2) {
  const auto& hex = tul::parse::kHexValue;
  return static_cast<unsigned char>(hex[c1 & 0xFF] * 16 + hex[c2 & 0xFF]);
}

void TULP_get_token(TULP_ParseContext* ctx) {
  using namespace tul::parse;
  if (!ctx || !ctx->next) return;

  bool minus = false;
  for (;;) {
    if (ctx->ch == ' ' || ctx->ch == '\t') {
      advance(ctx);
    } else if (ctx->ch == '\n') {
      count_line(ctx);
      advance(ctx);
    } else if (ctx->ch == '-') {
      if (advance(ctx) != '-') {
        minus = true;
        break;
      }
      skip_comment(ctx);
    } else {
      break;
    }
  }

  // A "-" starts a number only when a digit follows; otherwise it is dropped
  // and the next character stands on its own (so a letter after it fails).
  if (minus && is_digit(ctx->ch)) return read_number(ctx, true);
  if (!minus && is_letter(ctx->ch)) return read_name(ctx);
  if (!minus && is_digit(ctx->ch)) return read_number(ctx, false);

  switch (ctx->ch) {
    case kEndOfInput:
      if (!ctx->error) ctx->error = TUL_error(ctx->dtd, TUL_ERR_EOF);
      ctx->ch = '\0';
      return;
    case '{': return read_punctuation(ctx, TULP_OPEN_BRACE);
    case '}': return read_punctuation(ctx, TULP_CLOSE_BRACE);
    case ',': return read_punctuation(ctx, TULP_COMMA);
    case ':': return read_punctuation(ctx, TULP_COLON);
    case '"': return read_double_quoted(ctx);
    case '\'': return read_single_quoted(ctx);
    default:
      // Also where a previous error left the NUL look-ahead: nothing more is
      // read, and the repeated failure is not recorded again.
      ctx->buffer[0] = static_cast<char>(ctx->ch);
      ctx->buffer[1] = '\0';
      record_lexical(ctx, "unexpected character in input stream", ctx->buffer);
      ctx->ch = '\0';
      return;
  }
}

/* ------------------------------------------------------------------------
 * Shared parse functions
 * ---------------------------------------------------------------------- */

int TULP_parse_boolean(TULP_ParseContext* ctx) {
  if (!ctx) return 0;
  if (ctx->id == TULP_UPPER_NAME) {
    if (std::strcmp(ctx->buffer, "TRUE") == 0) return 1;
    if (std::strcmp(ctx->buffer, "FALSE") == 0) return 0;
  }
  tul::parse::record_error(ctx, "TRUE or FALSE expected");
  return 0;
}

int32_t TULP_parse_integer(TULP_ParseContext* ctx) {
  if (!ctx) return 0;
  if (ctx->id == TULP_NUMBER) return tul::parse::to_int32(ctx->buffer);
  tul::parse::record_error(ctx, "INTEGER value expected");
  return 0;
}

TUL_Object* TULP_parse_enum(TUL_Object* obj, TULP_ParseContext* ctx) {
  using namespace tul::parse;
  if (!ctx) return nullptr;
  if (!obj || !is_integer_like(obj)) {
    record_error(ctx, "INTEGER/ENUMERATED value expected");
    return nullptr;
  }
  if (ctx->id == TULP_NUMBER) {
    tul::set_integer_value(obj, to_integer(ctx->buffer));
    return obj;
  }
  if (ctx->id != TULP_LOWER_NAME) {
    record_error(ctx, "INTEGER/ENUMERATED value expected");
    return nullptr;
  }
  // A name never interned can match no named value.
  char* name = find_interned(ctx->buffer);
  const TUL_Asn1TypeEntry* entry = tul_type_entry(obj);
  bool found = false;
  int32_t value = 0;
  if (name && entry->enum_list) {
    for (int32_t i = 0; i < entry->enums; ++i) {
      if (entry->enum_list[i].name == name) {  // the last match wins
        value = entry->enum_list[i].val;
        found = true;
      }
    }
  }
  if (!found) {
    record_error(ctx, "invalid INTEGER/ENUMERATED identifier");
    return nullptr;
  }
  tul::set_integer_value(obj, value);
  return obj;
}

char* TULP_parse_bitstring(TULP_ParseContext* ctx, int* len) {
  if (len) *len = 0;
  if (!ctx) return nullptr;
  if (ctx->id != TULP_BSTRING) {
    tul::parse::record_error(ctx, "BSTRING expected");
    return nullptr;
  }
  if (len) *len = ctx->len;
  return ctx->buffer;
}

char* TULP_parse_octet(TULP_ParseContext* ctx, int* len) {
  int ignored = 0;
  if (!len) len = &ignored;
  *len = 0;
  if (!ctx) return nullptr;
  if (ctx->id == TULP_STRING) {
    *len = ctx->len;
    return ctx->buffer;
  }
  if (ctx->id == TULP_HSTRING) return TULP_hex2string(ctx->buffer, len);
  tul::parse::record_error(ctx, "STRING or HSTRING expected");
  return nullptr;
}

void TULP_parse_null(TULP_ParseContext* ctx) {
  if (!ctx) return;
  if (ctx->id == TULP_UPPER_NAME && std::strcmp(ctx->buffer, "NULL") == 0) return;
  tul::parse::record_error(ctx, "NULL value expected");
}

double TULP_parse_real(TULP_ParseContext* ctx) {
  if (!ctx) return 0.0;
  if (ctx->id == TULP_NUMBER) {
    // The longest prefix that reads as a floating-point number; 0.0 when
    // none does.
    return std::strtod(ctx->buffer, nullptr);
  }
  if (ctx->id == TULP_UPPER_NAME) {
    if (std::strcmp(ctx->buffer, "PLUS-INFINITY") == 0) return HUGE_VAL;
    if (std::strcmp(ctx->buffer, "MINUS-INFINITY") == 0) return -HUGE_VAL;
  }
  tul::parse::record_error(ctx, "REAL value expected");
  return 0.0;
}

char* TULP_parse_local_name(TULP_ParseContext* ctx) {
  if (!ctx) return nullptr;
  if (ctx->id != TULP_LOWER_NAME) {
    tul::parse::record_error(ctx, "local name (in SEQUENCE/SET or CHOICE) expected");
    return nullptr;
  }
  char* name = TUL_unique_string(ctx->buffer);
  if (!name) tul::parse::adopt_error(ctx, TUL_error(ctx->dtd, TUL_ERR_MEMORY));
  return name;
}

char* TULP_parse_type_name(TULP_ParseContext* ctx) {
  using namespace tul::parse;
  if (!ctx) return nullptr;
  if (ctx->id != TULP_UPPER_NAME) {
    record_error(ctx, "ASN.1 definition name expected");
    return nullptr;
  }

  // Two-word names: the first word, the second it requires, and the result.
  struct TwoWordName {
    const char* first;
    const char* second;
    char* tul::Names::*name;
    const char* message;
  };
  static constexpr TwoWordName kTwoWordNames[] = {
      {"OCTET", "STRING", &tul::Names::octet_string, "OCTET STRING expected"},
      {"BIT", "STRING", &tul::Names::bit_string, "BIT STRING expected"},
      {"SEQUENCE", "OF", &tul::Names::sequence_of, "SEQUENCE OF expected"},
      {"SET", "OF", &tul::Names::set_of, "SET OF expected"},
      {"OBJECT", "IDENTIFIER", &tul::Names::object_identifier, "OBJECT IDENTIFIER expected"},
  };
  for (const TwoWordName& row : kTwoWordNames) {
    if (std::strcmp(ctx->buffer, row.first) != 0) continue;
    TULP_get_token(ctx);
    if (ctx->error) return nullptr;
    if (ctx->id != TULP_UPPER_NAME || std::strcmp(ctx->buffer, row.second) != 0) {
      record_error(ctx, row.message);
      return nullptr;
    }
    char* name = tul::names().*row.name;
    if (!name) adopt_error(ctx, TUL_error(ctx->dtd, TUL_ERR_MEMORY));
    return name;
  }

  // Only a name the library has seen can name a type; whether it does is
  // for the allocation to find out.
  char* name = find_interned(ctx->buffer);
  if (!name) record_error(ctx, "ASN.1 definition name expected");
  return name;
}

void TULP_parse_local(TUL_Asn1Type* t, TULP_ParseContext* ctx, TUL_Object* obj) {
  using namespace tul::parse;
  if (!ctx) return;
  if (!t || !obj || !is_integer_like(obj)) {
    record_error(ctx, "INTEGER/ENUMERATED value expected");
    return;
  }
  if (ctx->id == TULP_NUMBER) {
    tul::set_integer_value(obj, to_integer(ctx->buffer));
    return;
  }
  if (ctx->id != TULP_LOWER_NAME) {
    record_error(ctx, "INTEGER/ENUMERATED value expected");
    return;
  }
  char* name = find_interned(ctx->buffer);
  if (name && t->enum_list) {
    for (int32_t i = 0; i < t->enums; ++i) {
      if (t->enum_list[i].name == name) {  // the first match wins
        tul::set_integer_value(obj, t->enum_list[i].val);
        return;
      }
    }
  }
  record_error(ctx, "invalid INTEGER/ENUMERATED identifier");
}

TUL_Object* TULP_parse_member(TUL_Metadata* dtd, TUL_Asn1Type* t, TULP_ParseContext* ctx) {
  using namespace tul::parse;
  if (!ctx) return nullptr;
  if (!t || !t->type) {
    record_error(ctx, "ASN.1 definition name expected");
    return nullptr;
  }
  if (TULM_is_any(t->type)) {
    // The member text carries its own type name.
    TUL_Object* obj = TUL_parse_any(dtd, ctx);
    return ctx->error ? nullptr : obj;
  }

  TUL_Object* obj = TUL_alloc_US(t->type, dtd);
  if (!obj || obj->error) {
    record_alloc_failure(ctx, dtd, obj, t->type);
    return nullptr;
  }
  BehaviorOutcome outcome;
  if (t->enums != 0 && is_integer_like(obj)) {
    TULP_parse_local(t, ctx, obj);
    outcome = ctx->error ? BehaviorOutcome::kFailed : BehaviorOutcome::kDone;
  } else {
    outcome = run_parse_behavior(obj, ctx);
  }
  if (outcome == BehaviorOutcome::kDone) return obj;
  discard(obj, outcome);
  return nullptr;
}

char* TULP_hex2string(const char* string, int* result_len) {
  if (result_len) *result_len = 0;
  if (!string) return nullptr;
  size_t digits = std::strlen(string);
  if (digits > INT_MAX - 1) return nullptr;
  for (size_t i = 0; i < digits; ++i) {
    if (!tul::parse::is_hex_digit(static_cast<unsigned char>(string[i]))) return nullptr;
  }
  size_t bytes = (digits + 1) / 2;
  auto* block = static_cast<char*>(tul::mem::alloc(bytes + 1));
  if (!block) return nullptr;
  for (size_t i = 0; i < bytes; ++i) {
    int high = static_cast<unsigned char>(string[2 * i]);
    int low = 2 * i + 1 < digits ? static_cast<unsigned char>(string[2 * i + 1]) : '0';
    block[i] = static_cast<char>(_hex2char(high, low));
  }
  block[bytes] = '\0';
  if (result_len) *result_len = static_cast<int>(bytes);
  return block;
}

/* ------------------------------------------------------------------------
 * Typed values
 * ---------------------------------------------------------------------- */

TUL_Object* TUL_parse_any(TUL_Metadata* dtd, TULP_ParseContext* ctx) {
  using namespace tul::parse;
  if (!ctx) return nullptr;
  char* type = TULP_parse_type_name(ctx);
  if (!type) return ctx->error;
  TUL_Object* obj = TUL_alloc_US(type, dtd);
  if (!obj || obj->error) {
    record_alloc_failure(ctx, dtd, obj, type);
    return ctx->error;
  }
  TULP_get_token(ctx);
  if (ctx->error) {
    TUL_free(obj);
    return ctx->error;
  }
  BehaviorOutcome outcome = run_parse_behavior(obj, ctx);
  if (outcome == BehaviorOutcome::kDone) return obj;
  discard(obj, outcome);
  return ctx->error;
}

/* ------------------------------------------------------------------------
 * Print buffer
 * ---------------------------------------------------------------------- */

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuse-after-free"
#endif
int TULP_extend_buffer(TULP_PrintBuffer* buf, int extend) {
  if (!buf || !buf->ptr || extend <= 0) return 0;
  ptrdiff_t offset = buf->pos - static_cast<char*>(buf->ptr);
  int size = 0;
  char* block = nullptr;
  if (!__builtin_add_overflow(buf->size, extend, &size))
    block = static_cast<char*>(tul::mem::realloc(buf->ptr, size));
  if (!block) {
    // The text is lost: a caller gets no text rather than a cut one. A
    // failed realloc left the block as it was (g++ 12 cannot tell).
    tul::mem::free(buf->ptr);
    *buf = TULP_PrintBuffer{nullptr, 0, 0, nullptr};
    return 0;
  }
  buf->ptr = block;
  buf->size = size;
  buf->remain = extend;
  buf->pos = block + offset;
  return 1;
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace {

// Grows the block by at least `need` bytes and at least its own size, so
// that printing n bytes costs O(n) however the text arrives; false when the
// text was lost.
bool grow(TULP_PrintBuffer* buf, size_t need) {
  int step = buf->size > tul::parse::kPrintStep ? buf->size : tul::parse::kPrintStep;
  if (need > static_cast<size_t>(step)) step = need > INT32_MAX ? INT32_MAX : static_cast<int>(need);
  return TULP_extend_buffer(buf, step) != 0;
}

}  // namespace

void _printc(int c, void* sink) {
  auto* buf = static_cast<TULP_PrintBuffer*>(sink);
  if (!buf || !buf->ptr) return;
  // The counter runs one ahead, so a byte is always left for the final NUL.
  if (--buf->remain < 1) {
    if (!grow(buf, 1)) return;
    --buf->remain;
  }
  *buf->pos++ = static_cast<char>(c);
}

void _prints(const char* s, void* sink) {
  auto* buf = static_cast<TULP_PrintBuffer*>(sink);
  if (!s || !buf || !buf->ptr) return;
  size_t n = std::strlen(s);
  // Room for the text plus the byte kept for the final NUL.
  if (static_cast<size_t>(buf->remain) <= n && !grow(buf, n + 1)) return;
  std::memcpy(buf->pos, s, n);
  buf->pos += n;
  buf->remain -= static_cast<int>(n);
}

/* ------------------------------------------------------------------------
 * Shared print functions
 * ---------------------------------------------------------------------- */

void TUL_print_any(TUL_Object* obj, TULP_PrintContext* ctx) {
  if (!obj || !ctx || !obj->type_ref) return;
  if (obj->type_ref->name) ctx->prints(obj->type_ref->name, ctx->ptr);
  ctx->printc(' ', ctx->ptr);
  tul::parse::print_value(obj, ctx);
}

void TULP_print_local(TULP_PrintContext* ctx, TUL_Asn1Type* t, TUL_Object* obj) {
  using namespace tul::parse;
  if (!ctx || !obj || !is_integer_like(obj)) return;
  const int64_t value = tul::integer_value(obj);
  if (t && t->enum_list) {
    for (int32_t i = 0; i < t->enums; ++i) {
      if (t->enum_list[i].val == value && t->enum_list[i].name) {
        ctx->prints(t->enum_list[i].name, ctx->ptr);
        return;
      }
    }
  }
  bool enumerated = (obj->type_ref->behavior->basic_type & TUL_ENUMERATED_TYPE) != 0;
  char text[64];
  std::snprintf(text, sizeof text, enumerated ? "%lld -- invalid value --" : "%lld",
                static_cast<long long>(value));
  ctx->prints(text, ctx->ptr);
}

void TULP_print_member(TUL_Object* obj, TUL_Asn1Type* t, TULP_PrintContext* ctx) {
  using namespace tul::parse;
  if (!obj || !ctx) return;
  if (t && t->type && TULM_is_any(t->type))
    TUL_print_any(obj, ctx);
  else if (t && t->enums != 0 && is_integer_like(obj))
    TULP_print_local(ctx, t, obj);
  else
    print_value(obj, ctx);
}

/* ------------------------------------------------------------------------
 * Exported entry points
 * ---------------------------------------------------------------------- */

extern "C" {

TUL_API TUL_Object* TUL_parse(TUL_Metadata* dtd, FILE* stream, int* line) {
  if (!dtd || !stream) {
    TUL_trace_error(TUL_ERR_ARGUMENT, "parse");
    return nullptr;
  }
  TULP_ParseContext ctx;
  tul::parse::start_run(&ctx, dtd, stream, tul::parse::stream_next, line ? *line : 1);
  TUL_Object* result = TUL_parse_any(dtd, &ctx);
  if (line) {
    // The look-ahead after the value is gone from the stream; a newline
    // there still counts.
    *line = ctx.line_nbr;
    if (ctx.ch == '\n' && *line < INT_MAX) ++*line;
  }
  return result;
}

TUL_API TUL_Object* TUL_parse_str(TUL_Metadata* dtd, const char* value) {
  if (!dtd || !value) {
    TUL_trace_error(TUL_ERR_ARGUMENT, "parse_str");
    return nullptr;
  }
  TULP_ParseContext ctx;
  const char* cursor = value;
  tul::parse::start_run(&ctx, dtd, &cursor, tul::parse::_get_next_char, 1);
  return TUL_parse_any(dtd, &ctx);
}

TUL_API TUL_Object* TUL_parse_value(TUL_Object* obj, const char* value) {
  if (!obj || !obj->type_ref) return nullptr;
  if (!value) {
    TUL_trace_error(TUL_ERR_ARGUMENT, "parse_value");
    return nullptr;
  }
  TULP_ParseContext ctx;
  const char* cursor = value;
  tul::parse::start_run(&ctx, obj->type_ref->dtd, &cursor, tul::parse::_get_next_char, 1);
  // The value stays the caller's whatever happens; only the error is new.
  if (!ctx.error) (void)tul::parse::run_parse_behavior(obj, &ctx);
  return ctx.error ? ctx.error : obj;
}

TUL_API void TUL_print(TUL_Object* obj, FILE* stream) {
  if (!obj || !stream) return;
  TULP_PrintContext ctx{stream, tul::parse::stream_putc, tul::parse::stream_puts, 0};
  TUL_print_any(obj, &ctx);
  std::fputc('\n', stream);
}

TUL_API char* TUL_print2str(TUL_Object* obj) {
  TULP_PrintBuffer buf;
  if (!tul::parse::open_buffer(&buf)) return nullptr;
  if (obj) {
    TULP_PrintContext ctx = tul::parse::buffer_context(&buf, 0);
    TUL_print_any(obj, &ctx);
  }
  return tul::parse::close_buffer(&buf);
}

TUL_API char* TUL_print_value(TUL_Object* obj, int level) {
  TULP_PrintBuffer buf;
  if (!tul::parse::open_buffer(&buf)) return nullptr;
  if (obj && obj->type_ref) {
    TULP_PrintContext ctx = tul::parse::buffer_context(&buf, level);
    tul::parse::print_value(obj, &ctx);
  }
  return tul::parse::close_buffer(&buf);
}

TUL_API void TUL_print2ctx(const char* str, TULP_PrintContext* ctx, int indent) {
  if (!ctx) return;
  if (indent) TUL_print_indentation(ctx);
  if (str && ctx->prints) ctx->prints(str, ctx->ptr);
}

}  // extern "C"
