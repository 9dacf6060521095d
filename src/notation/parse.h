// Internal interface of the value notation: the tokenizer, the typed-value
// parser and printer, the print buffer, and the shared parse and print
// functions that every type's parse and print behaviours are built from.
// Parse functions never return failure: they record the first error in the
// parse context, and callers test ctx->error.
#ifndef TUL_PARSE_H
#define TUL_PARSE_H

#include <cstdint>

#include "dtd.h"
#include "tul.h"

/* ------------------------------------------------------------------------
 * Tokenizer
 * ---------------------------------------------------------------------- */

// Reads the next token into ctx->id, ctx->buffer and ctx->len, leaving the
// first character after it in ctx->ch. Lexical errors (code 11) and the end
// of input (code 20) are recorded in ctx->error when none is recorded yet.
void TULP_get_token(TULP_ParseContext* ctx);

// The byte whose high nibble is hex digit `c1` and low nibble `c2`; a
// character that is no hex digit counts as 0.
unsigned char _hex2char(int c1, int c2);

/* ------------------------------------------------------------------------
 * Typed values
 * ---------------------------------------------------------------------- */

// Parses "TypeName Value" from the current token on. Returns the new value
// (owned by the caller), or the error recorded in the context (owned by the
// context until the public driver hands it out); every failure is recorded
// in ctx->error, including the error object of an unknown type.
TUL_Object* TUL_parse_any(TUL_Metadata* dtd, TULP_ParseContext* ctx);

// Writes the type name of `obj`, a blank and the value; nothing for null.
void TUL_print_any(TUL_Object* obj, TULP_PrintContext* ctx);

/* ------------------------------------------------------------------------
 * Print buffer: the sink of the print-to-text functions
 * ---------------------------------------------------------------------- */

// Sink functions over a TULP_PrintBuffer (the `ptr` of the print context).
// Once the block could not grow the buffer is marked failed (ptr null) and
// further output is dropped.
void _printc(int c, void* buf);
void _prints(const char* s, void* buf);

// Grows the block by `extend` bytes keeping the text; 0 when it cannot, in
// which case the block is released and the buffer marked failed.
int TULP_extend_buffer(TULP_PrintBuffer* buf, int extend);

/* ------------------------------------------------------------------------
 * Shared parse functions: they look at the current token only and do not
 * advance (except TULP_parse_type_name, for the two-word names).
 * ---------------------------------------------------------------------- */

// TRUE or FALSE; 1 or 0 (0 on failure).
int TULP_parse_boolean(TULP_ParseContext* ctx);
// A number token, converted like atol with 32-bit saturation; 0 on failure.
int32_t TULP_parse_integer(TULP_ParseContext* ctx);
// A number or a named value of the type of `obj` (an INTEGER or ENUMERATED
// value) into obj; `obj`, or null on failure.
TUL_Object* TULP_parse_enum(TUL_Object* obj, TULP_ParseContext* ctx);
// The text of a 'bits'B token (inside the context, not a copy) and its
// length in `len`; null and 0 on failure.
char* TULP_parse_bitstring(TULP_ParseContext* ctx, int* len);
// A quoted string (the token text inside the context) or a 'hex'H string (a
// new heap block the caller frees); octets and count in `len`; null and 0 on
// failure or for a hex string with a non-hex digit.
char* TULP_parse_octet(TULP_ParseContext* ctx, int* len);
// NULL.
void TULP_parse_null(TULP_ParseContext* ctx);
// A number ("%lg"), PLUS-INFINITY or MINUS-INFINITY; 0.0 on failure.
double TULP_parse_real(TULP_ParseContext* ctx);
// A lower-case name, interned; null on failure.
char* TULP_parse_local_name(TULP_ParseContext* ctx);
// A type name: an upper-case name already interned, or one of the two-word
// names (then the current token is the second word). Interned; null on
// failure.
char* TULP_parse_type_name(TULP_ParseContext* ctx);
// A number or a name from the member description's own named numbers into
// the INTEGER or ENUMERATED value `obj`.
void TULP_parse_local(TUL_Asn1Type* t, TULP_ParseContext* ctx, TUL_Object* obj);
// The value of one member described by `t`, from its first token on. Returns
// the new value, or null with the failure recorded in ctx->error (also when
// the member's type is unknown: that error object is recorded, not returned).
TUL_Object* TULP_parse_member(TUL_Metadata* dtd, TUL_Asn1Type* t, TULP_ParseContext* ctx);

// Hex digits to a new heap block of (length + 1) / 2 bytes, NUL-terminated,
// the caller frees it; null and 0 for a non-hex digit or on memory shortage.
char* TULP_hex2string(const char* string, int* result_len);

/* ------------------------------------------------------------------------
 * Shared print functions
 * ---------------------------------------------------------------------- */

// The integer value of `obj` as the first of `t`'s own named numbers that
// carries it, else as a number ("-- invalid value --" added for ENUMERATED).
void TULP_print_local(TULP_PrintContext* ctx, TUL_Asn1Type* t, TUL_Object* obj);
// The value of one member described by `t`: typed for ANY members, by name
// for members with named numbers, else by its type's print behaviour.
void TULP_print_member(TUL_Object* obj, TUL_Asn1Type* t, TULP_PrintContext* ctx);

namespace tul::parse {

// Records parse error 11 with `message`, the current line and the current
// token's text, unless an error is already recorded.
void record_error(TULP_ParseContext* ctx, const char* message);

// Depth of constructed values being parsed and printed on this thread.
extern thread_local int parse_depth;
extern thread_local int print_depth;

// One level of a constructed value being parsed; past the bound the parse
// error "value nested too deeply" is recorded and the guard is false.
class ParseLevel {
 public:
  explicit ParseLevel(TULP_ParseContext* ctx) : level_(parse_depth) {
    if (!level_) record_error(ctx, "value nested too deeply");
  }
  explicit operator bool() const { return static_cast<bool>(level_); }

 private:
  NestingLevel level_;
};

// One level of a constructed value being printed; past the bound a marker
// is printed in place of the value and the guard is false.
class PrintLevel {
 public:
  explicit PrintLevel(TULP_PrintContext* ctx) : level_(print_depth) {
    if (!level_) ctx->prints("-- nested too deeply --", ctx->ptr);
  }
  explicit operator bool() const { return static_cast<bool>(level_); }

 private:
  NestingLevel level_;
};

// Character source over a NUL-terminated text; `p` points to the text
// pointer, which advances. 1..255, or -1 at the NUL.
int _get_next_char(void* p);

// Sets up `ctx` for a parse run over `stream` read with `next`, starting at
// `line`, and loads the first token.
void start_run(TULP_ParseContext* ctx, TUL_Metadata* dtd, void* stream, int (*next)(void*),
               int line);

}  // namespace tul::parse

#endif
