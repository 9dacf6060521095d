// OCTET STRING and the character-string types: one counted byte block with
// a NUL after the counted bytes, so the block doubles as a C text. The two
// tables differ only in print: hex for OCTET STRING, quoted text otherwise.
#include <cstring>
#include <span>

#include "parse.h"
#include "tulversion.h"
#include "prim.h"

namespace tul::octet {
namespace {

inline TUL_Octet* as_octet(TUL_Object* obj) { return reinterpret_cast<TUL_Octet*>(obj); }

TUL_Object* _alloc(TUL_Entry* entry) { return prim::new_record<TUL_Octet>(entry); }

// (length, bytes); length -1 takes the bytes as a C text. A null pointer
// stands for no bytes, so a careless caller gets an empty value.
TUL_Object* _init(TUL_Object* obj, va_list* args) {
  int length = va_arg(*args, int);
  const char* bytes = va_arg(*args, const char*);
  if (length < -1) return TUL_error(tul_dtd(obj), TUL_ERR_ARGUMENT, "init");
  size_t len = 0;
  if (bytes) len = length == -1 ? std::strlen(bytes) : static_cast<size_t>(length);
  if (len > INT32_MAX) return TUL_error(tul_dtd(obj), TUL_ERR_ARGUMENT, "init");
  char* block = prim::copy_block(bytes, len);
  if (!block) return TUL_error(tul_dtd(obj), TUL_ERR_MEMORY);
  TUL_Octet* o = as_octet(obj);
  mem::free(o->octet);
  o->octet = block;
  o->len = static_cast<int32_t>(len);
  return obj;
}

// A value whose block was consumed copies as an empty value.
TUL_Object* _copy(TUL_Object* obj) {
  TUL_Octet* source = as_octet(obj);
  int32_t len = source->octet ? source->len : 0;
  return prim::copy_octet_record(obj, static_cast<size_t>(len), len);
}

int _decode(TUL_Object* obj, TULE_DecodeContext* ctx) {
  PElement* pe = TUL_own_element(obj, ctx);
  if (!pe) return 0;
  // This init copies the bytes it is given, so the contents of a primitive
  // element go to it in place; any other init gets a block of its own.
  bool in_place = tul_behavior(obj)->init == _init && pe->pe_form == ber::kPrimitive && pe->pe_len >= 0 &&
                  (pe->pe_len == 0 || pe->pe_un1.un_pe_prim);
  int len = in_place ? pe->pe_len : 0;
  mem::CPtr<char> bytes(in_place ? nullptr : prim2str(pe, &len));
  if (!in_place && !bytes) return prim::wrong_encoding(obj, ctx);
  const char* contents = in_place ? reinterpret_cast<const char*>(pe->pe_un1.un_pe_prim) : bytes.get();
  TUL_Object* result = prim::call_init(obj, len, contents);
  if (prim::failed(result, obj)) return prim::decode_failed(ctx, result);
  return 1;
}

// The element points at the value's own octets: no copy is made.
int _encode(TUL_Object* obj, TULE_EncodeContext* ctx) {
  TUL_Octet* o = as_octet(obj);
  return prim::finish_encode(obj, ctx, oct2prim(ctx->pe_ctx, o->octet, o->octet ? o->len : 0));
}

// A quoted string or a hex string. A hex string with a non-hex digit makes
// the value empty without an error.
// A hex token of valid digits that still converts to nothing ran out of
// memory; a token with a stray character converts to nothing by design.
bool hex_conversion_failed(const TULP_ParseContext* ctx, const char* bytes) {
  if (bytes || ctx->id != TULP_HSTRING || ctx->len == 0) return false;
  for (int i = 0; i < ctx->len; ++i) {
    char c = ctx->buffer[i];
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

TUL_Object* _parse(TUL_Object* obj, TULP_ParseContext* ctx) {
  int len = 0;
  char* bytes = TULP_parse_octet(ctx, &len);
  if (ctx->error) return obj;
  if (hex_conversion_failed(ctx, bytes)) {
    keep_first_error(ctx->error, TUL_error(ctx->dtd, TUL_ERR_MEMORY));
    return obj;
  }
  bool owned = ctx->id == TULP_HSTRING;
  TUL_Object* result = prim::call_init(obj, len, bytes);
  if (owned) mem::free(bytes);
  if (prim::failed(result, obj)) keep_first_error(ctx->error, result);
  return obj;
}

// Collects output in a small buffer and hands it to the sink in pieces.
class Writer {
 public:
  explicit Writer(TULP_PrintContext* ctx) : ctx_(ctx) {}
  ~Writer() { flush(); }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  void put(char c) {
    if (used_ == sizeof text_ - 1) flush();
    text_[used_++] = c;
  }
  void put_hex(unsigned char byte) {
    put(kHexDigits[byte >> 4]);
    put(kHexDigits[byte & 0xF]);
  }

 private:
  static constexpr char kHexDigits[] = "0123456789ABCDEF";

  void flush() {
    if (!used_) return;
    text_[used_] = '\0';
    prim::print(ctx_, text_);
    used_ = 0;
  }

  TULP_PrintContext* ctx_;
  char text_[256];
  size_t used_ = 0;
};

std::span<const unsigned char> bytes_of(TUL_Object* obj) {
  TUL_Octet* o = as_octet(obj);
  if (!o->octet || o->len <= 0) return {};
  return {reinterpret_cast<const unsigned char*>(o->octet), static_cast<size_t>(o->len)};
}

// '0041FF'H
void _octet_print(TUL_Object* obj, TULP_PrintContext* ctx) {
  Writer out(ctx);
  out.put('\'');
  for (unsigned char byte : bytes_of(obj)) out.put_hex(byte);
  out.put('\'');
  out.put('H');
}

// A double-quoted text that reads back to the same bytes: quote and
// backslash escaped, anything outside 32..126 as \xHH.
void _printable_print(TUL_Object* obj, TULP_PrintContext* ctx) {
  Writer out(ctx);
  out.put('"');
  for (unsigned char byte : bytes_of(obj)) {
    if (byte >= 32 && byte <= 126) {
      if (byte == '"' || byte == '\\') out.put('\\');
      out.put(static_cast<char>(byte));
    } else {
      out.put('\\');
      out.put('x');
      out.put_hex(byte);
    }
  }
  out.put('"');
}

long _size(TUL_Object* obj) { return as_octet(obj)->len; }

int _equal(TUL_Object* a, TUL_Object* b) {
  TUL_Octet* x = as_octet(a);
  TUL_Octet* y = as_octet(b);
  if (x->len != y->len) return 0;
  if (x->len == 0) return 1;
  if (!x->octet || !y->octet) return x->octet == y->octet;
  return std::memcmp(x->octet, y->octet, static_cast<size_t>(x->len)) == 0;
}

unsigned int _hash(TUL_Object* obj) { return static_cast<uint32_t>(as_octet(obj)->len); }

constexpr TUL_Behavior kTable = {
    .basic_type = TUL_OCTETSTRING_TYPE,
    .alloc = _alloc,
    .init = _init,
    .free = prim::free_octet_record,
    .decode = _decode,
    .encode = _encode,
    .parse = _parse,
    .print = _octet_print,
    .copy = _copy,
    .size = _size,
    .equal = _equal,
    .evaluate = prim::evaluate_self,
    .hash = _hash,
    .action = {},
    .mapping = nullptr,
};

// BER-String: an octet value whose octets are one whole BER encoding. A
// decode keeps the element it is given as its encoding, an encode writes the
// octets verbatim, and the print may add a trace of the encoding.
int _ber_decode(TUL_Object* obj, TULE_DecodeContext* ctx) {
  if (!obj || !ctx) return 0;
  PElement* pe = TUL_own_element(obj, ctx);
  if (!pe) return 0;
  TUL_Object* encoding = TUL_pe2ber(pe, tul_dtd(obj));
  if (!encoding) return 0;
  auto* octets = reinterpret_cast<TUL_Octet*>(encoding);
  TUL_Object* result = prim::call_init(obj, static_cast<int>(octets->len), octets->octet);
  TUL_free(encoding);
  if (prim::failed(result, obj)) return prim::decode_failed(ctx, result);
  return 1;
}

int _ber_encode(TUL_Object* obj, TULE_EncodeContext* ctx) {
  if (!obj || !ctx) return 0;
  auto* value = reinterpret_cast<TUL_Octet*>(obj);
  PElement* pe = oct2prim(ctx->pe_ctx, value->octet, value->octet ? value->len : 0);
  if (!pe) return 0;
  // The stored octets are a whole encoding already: written verbatim.
  pe->pe_form = ber::kInlineConstructed;
  return prim::finish_encode(obj, ctx, pe);
}

void _ber_print(TUL_Object* obj, TULP_PrintContext* ctx) {
  if (!obj || !ctx || !ctx->prints) return;
  TUL_Metadata* dtd = tul_dtd(obj);
  if (dtd->octet_behavior.print) dtd->octet_behavior.print(obj, ctx);
  if (!tul::globals.ber_annotated) return;
  ber::ElementContextGuard guard;
  PElement* pe = nullptr;
  if (!TUL_ber2pe(guard.get(), obj, &pe)) {
    prim::print(ctx, "\n-- !!! octets are not BER (X.209) encoded");
    return;
  }
  char line[96];
  std::snprintf(line, sizeof line, "\n-- %ld octets as generic and structured BER trace:\n", TUL_size(obj));
  prim::print(ctx, line);
  TUL_pe2pl(pe, ctx);
  prim::print(ctx, "-- end of BER trace");
}

}  // namespace
}  // namespace tul::octet

TUL_API constinit TUL_Behavior TUL_octet_behavior = tul::octet::kTable;

const TUL_Behavior tul::ber_string_behavior =
    tul::prim::derive(tul::octet::kTable, [](TUL_Behavior& t) {
      t.decode = tul::octet::_ber_decode;
      t.encode = tul::octet::_ber_encode;
      t.print = tul::octet::_ber_print;
    });

// The character-string types print their bytes as quoted text.
TUL_API constinit TUL_Behavior TUL_printable_behavior =
    tul::prim::derive(tul::octet::kTable,
                      [](TUL_Behavior& t) { t.print = tul::octet::_printable_print; });
