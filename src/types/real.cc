// REAL values: one double; the infinities stand for PLUS-INFINITY and
// MINUS-INFINITY. Equality is exact, as the comparison operators see it.
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "parse.h"
#include "prim.h"

namespace tul::real {
namespace {

inline TUL_Real* as_real(TUL_Object* obj) { return reinterpret_cast<TUL_Real*>(obj); }

TUL_Object* _alloc(TUL_Entry* entry) { return prim::new_record<TUL_Real>(entry); }

TUL_Object* _init(TUL_Object* obj, va_list* args) {
  as_real(obj)->real = va_arg(*args, double);
  return obj;
}

TUL_Object* _copy(TUL_Object* obj) {
  TUL_Object* failure = nullptr;
  TUL_Real* copy = prim::clone_record<TUL_Real>(obj, &failure);
  return copy ? reinterpret_cast<TUL_Object*>(copy) : failure;
}

int _decode(TUL_Object* obj, TULE_DecodeContext* ctx) {
  PElement* pe = TUL_own_element(obj, ctx);
  if (!pe) return 0;
  double value = prim2real(pe);
  if (pe->pe_errno) return prim::wrong_encoding(obj, ctx);
  as_real(obj)->real = value;
  return 1;
}

int _encode(TUL_Object* obj, TULE_EncodeContext* ctx) {
  return prim::finish_encode(obj, ctx, double2prim(ctx->pe_ctx, as_real(obj)->real));
}

// The driver reads a failure from the context.
TUL_Object* _parse(TUL_Object* obj, TULP_ParseContext* ctx) {
  as_real(obj)->real = TULP_parse_real(ctx);
  return obj;
}

// Fifteen significant digits: a number that needs more reads back rounded.
void _print(TUL_Object* obj, TULP_PrintContext* ctx) {
  double d = as_real(obj)->real;
  if (d == HUGE_VAL) return prim::print(ctx, "PLUS-INFINITY");
  if (d == -HUGE_VAL) return prim::print(ctx, "MINUS-INFINITY");
  char text[30];
  std::snprintf(text, sizeof text, "%.15g", d);
  prim::print(ctx, text);
}

long _size(TUL_Object*) { return 1; }

int _equal(TUL_Object* a, TUL_Object* b) {
  double x = as_real(a)->real, y = as_real(b)->real;
  return !(x < y) && !(x > y);
}

// Truncation toward zero to 64 bits, low 32 bits kept. Values outside the
// 64-bit range (the infinities included) saturate and NaN hashes to 0, so
// the conversion never has undefined behaviour.
unsigned int _hash(TUL_Object* obj) {
  double d = as_real(obj)->real;
  int64_t whole;
  if (std::isnan(d))
    whole = 0;
  else if (d >= 9223372036854775808.0)
    whole = INT64_MAX;
  else if (d < -9223372036854775808.0)
    whole = INT64_MIN;
  else
    whole = static_cast<int64_t>(d);
  return static_cast<uint32_t>(static_cast<uint64_t>(whole));
}

}  // namespace
}  // namespace tul::real

using namespace tul::real;

TUL_API constinit TUL_Behavior TUL_real_behavior = {
    .basic_type = TUL_REAL_TYPE,
    .alloc = _alloc,
    .init = _init,
    .free = tul::prim::free_record,
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
