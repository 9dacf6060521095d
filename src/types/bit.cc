// BIT STRING values: a bit count and the bits packed most significant
// first, plus the "0"/"1" text form made on demand and owned by the value.
#include <array>
#include <cstring>

#include "parse.h"
#include "prim.h"

namespace tul::bit {
namespace {

// Texts are packed in a fixed area of 5120 bytes.
constexpr size_t kMaxBits = 5120 * 8 - 1;

inline TUL_Octet* as_bits(TUL_Object* obj) { return reinterpret_cast<TUL_Octet*>(obj); }

constexpr size_t packed_size(size_t bits) { return (bits + 7) / 8; }

bool is_bitstring(TUL_Object* obj, const char* function) { return has_basic_type(obj, TUL_BITSTRING_TYPE, function); }

// Replaces the bits of `obj` with `count` bits from `packed`. The block gets
// a NUL past the bits so that it never reads as an open text.
TUL_Object* set_bits(TUL_Object* obj, int count, const unsigned char* packed) {
  if (count < 0 || (count > 0 && !packed)) return TUL_error(tul_dtd(obj), TUL_ERR_ARGUMENT, "init");
  char* block = prim::copy_block(packed, packed_size(static_cast<size_t>(count)));
  if (!block) return TUL_error(tul_dtd(obj), TUL_ERR_MEMORY);
  TUL_Octet* b = as_bits(obj);
  mem::free(b->octet);
  mem::free(b->string);
  b->octet = block;
  b->len = count;
  b->string = nullptr;
  return obj;
}

using PackingArea = std::array<unsigned char, kMaxBits / 8 + 1>;

// Packs `len` characters of a "0"/"1" text into `area`; false, after a
// trace line, when they are too many.
bool pack_text(const char* text, size_t len, PackingArea& area, int* count) {
  if (len > kMaxBits) {
    TUL_trace_error(TUL_ERR_BIT_FORMAT, "more than 40959 bits");
    return false;
  }
  area.fill(0);
  for (size_t i = 0; i < len; ++i)
    if (text[i] == '1') area[i / 8] |= static_cast<unsigned char>(0x80u >> (i % 8));
  *count = static_cast<int>(len);
  return true;
}

TUL_Object* _alloc(TUL_Entry* entry) { return prim::new_record<TUL_Octet>(entry); }

// (count, packed bits), or (-1, "0"/"1" text). A null text, or one too long
// for the packing area, leaves the value unchanged.
TUL_Object* _init(TUL_Object* obj, va_list* args) {
  int count = va_arg(*args, int);
  const void* source = va_arg(*args, const void*);
  if (count != -1) return set_bits(obj, count, static_cast<const unsigned char*>(source));
  if (!source) return obj;
  const auto* text = static_cast<const char*>(source);
  PackingArea area;
  int bits = 0;
  if (!pack_text(text, strnlen(text, kMaxBits + 1), area, &bits)) return obj;
  return set_bits(obj, bits, area.data());
}

TUL_Object* _copy(TUL_Object* obj) {
  TUL_Octet* source = as_bits(obj);
  int32_t count = source->octet ? source->len : 0;
  return prim::copy_octet_record(obj, packed_size(static_cast<size_t>(count)), count);
}

int _decode(TUL_Object* obj, TULE_DecodeContext* ctx) {
  PElement* pe = TUL_own_element(obj, ctx);
  if (!pe) return 0;
  if (!prim2bit(pe)) return prim::wrong_encoding(obj, ctx);
  int bits = 0;
  mem::CPtr<char> packed(bitstr2strb(ctx->pe_ctx, pe, &bits));
  if (!packed) return prim::wrong_encoding(obj, ctx);
  TUL_Object* result =
      set_bits(obj, bits, reinterpret_cast<const unsigned char*>(packed.get()));
  if (prim::failed(result, obj)) return prim::decode_failed(ctx, result);
  return 1;
}

int _encode(TUL_Object* obj, TULE_EncodeContext* ctx) {
  TUL_Octet* b = as_bits(obj);
  PElement* pe = strb2bitstr(ctx->pe_ctx, b->octet, b->octet ? b->len : 0);
  return prim::finish_encode(obj, ctx, pe ? bit2prim(pe) : nullptr);
}

// The characters of the bit string are not checked: any but "1" is a 0 bit.
TUL_Object* _parse(TUL_Object* obj, TULP_ParseContext* ctx) {
  int len = 0;
  const char* text = TULP_parse_bitstring(ctx, &len);
  if (ctx->error || !text) return obj;
  PackingArea area;
  int bits = 0;
  if (!pack_text(text, static_cast<size_t>(len), area, &bits)) return obj;
  TUL_Object* result = set_bits(obj, bits, area.data());
  if (prim::failed(result, obj)) keep_first_error(ctx->error, result);
  return obj;
}

// Straight from the bits: printing needs no memory, so a shortage cannot
// turn a value into ''B.
void _print(TUL_Object* obj, TULP_PrintContext* ctx) {
  TUL_Octet* b = as_bits(obj);
  prim::print(ctx, "'");
  const auto* bytes = reinterpret_cast<const unsigned char*>(b->octet);
  int32_t len = b->octet && b->len > 0 ? b->len : 0;
  for (int32_t i = 0; i < len; ++i) ctx->printc((bytes[i / 8] & (0x80u >> (i % 8))) ? '1' : '0', ctx->ptr);
  prim::print(ctx, "'B");
}

long _size(TUL_Object* obj) { return as_bits(obj)->len; }

// Whole bytes are compared, unused low bits of the last one included.
int _equal(TUL_Object* a, TUL_Object* b) {
  TUL_Octet* x = as_bits(a);
  TUL_Octet* y = as_bits(b);
  if (x->len != y->len) return 0;
  size_t n = packed_size(static_cast<size_t>(x->len));
  if (n == 0) return 1;
  if (!x->octet || !y->octet) return x->octet == y->octet;
  return std::memcmp(x->octet, y->octet, n) == 0;
}

unsigned int _hash(TUL_Object* obj) { return static_cast<uint32_t>(as_bits(obj)->len); }

}  // namespace
}  // namespace tul::bit

using namespace tul::bit;

TUL_API constinit TUL_Behavior TUL_bitstring_behavior = {
    .basic_type = TUL_BITSTRING_TYPE,
    .alloc = _alloc,
    .init = _init,
    .free = tul::prim::free_octet_record,
    .decode = _decode,
    .encode = _encode,
    .parse = _parse,
    .print = _print,
    .copy = _copy,
    .size = _size,
    .equal = _equal,
    .evaluate = tul::prim::evaluate_self,
    .hash = _hash,
    .action = {},
    .mapping = nullptr,
};

extern "C" {

TUL_API TUL_Object* TUL_string2bit(TUL_Object* obj, const char* string) {
  if (!obj || !string || !is_bitstring(obj, "string2bit")) return nullptr;
  PackingArea area;
  int bits = 0;
  if (!pack_text(string, strnlen(string, kMaxBits + 1), area, &bits)) return nullptr;
  return TUL_init(obj, bits, area.data());
}

TUL_API char* TUL_bit2string(TUL_Object* obj) {
  if (!obj || !is_bitstring(obj, "bit2string")) return nullptr;
  TUL_Octet* b = as_bits(obj);
  if (b->string) return b->string;
  size_t len = b->octet && b->len > 0 ? static_cast<size_t>(b->len) : 0;
  auto* text = static_cast<char*>(tul::mem::alloc(len + 1));
  if (!text) {
    TUL_trace_error(TUL_ERR_MEMORY);
    return nullptr;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(b->octet);
  for (size_t i = 0; i < len; ++i) text[i] = (bytes[i / 8] & (0x80u >> (i % 8))) ? '1' : '0';
  text[len] = '\0';
  b->string = text;
  return text;
}

}  // extern "C"
