// INTEGER values and the slots ENUMERATED shares with them. Values keep
// 32-bit semantics whatever the width of long, unless wide integers are on.
#include <cstdio>

#include "parse.h"
#include "prim.h"

namespace tul::integer {

TUL_Object* _alloc(TUL_Entry* entry) { return prim::new_record<TUL_WideInteger>(entry); }

TUL_Object* _init(TUL_Object* obj, va_list* args) {
  set_integer_value(obj, va_arg(*args, int));
  return obj;
}

TUL_Object* _copy(TUL_Object* obj) {
  TUL_Object* failure = nullptr;
  TUL_WideInteger* copy = prim::clone_record<TUL_WideInteger>(obj, &failure);
  return copy ? reinterpret_cast<TUL_Object*>(copy) : failure;
}

int _decode(TUL_Object* obj, TULE_DecodeContext* ctx) {
  PElement* pe = TUL_own_element(obj, ctx);
  if (!pe) return 0;
  const int64_t value = prim2num64(pe, integer_octets());
  if (pe->pe_errno) return prim::wrong_encoding(obj, ctx);
  set_integer_value(obj, value);
  return 1;
}

// INTEGER and ENUMERATED differ only in their universal tag, which follows
// the basic type of the value's table.
int _encode(TUL_Object* obj, TULE_EncodeContext* ctx) {
  uint16_t tag = tul_behavior(obj)->basic_type == TUL_ENUMERATED_TYPE ? ber::kTagEnumerated
                                                                       : ber::kTagInteger;
  return prim::finish_encode(obj, ctx, num2prim64(ctx->pe_ctx, integer_value(obj), ber::kUniversal, tag));
}

TUL_Object* _parse(TUL_Object* obj, TULP_ParseContext* ctx) { return TULP_parse_enum(obj, ctx); }

// The first named number that carries the value, else the number.
void _print(TUL_Object* obj, TULP_PrintContext* ctx) {
  const int64_t value = integer_value(obj);
  const TUL_Asn1TypeEntry* e = tul_type_entry(obj);
  for (int32_t i = 0; e->enum_list && i < e->enums; ++i)
    if (e->enum_list[i].val == value) return prim::print(ctx, e->enum_list[i].name);
  char text[prim::kFormatSize];
  std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
  prim::print(ctx, text);
}

long _size(TUL_Object*) { return 1; }

int _equal(TUL_Object* a, TUL_Object* b) { return integer_value(a) == integer_value(b); }

unsigned int _hash(TUL_Object* obj) {
  const int64_t value = integer_value(obj);
  const auto low = static_cast<uint32_t>(value);
  // 32-bit values hash as they always have; wider ones fold their high half in.
  return value == static_cast<int32_t>(value) ? low : low ^ static_cast<uint32_t>(static_cast<uint64_t>(value) >> 32);
}

}  // namespace tul::integer

TUL_API constinit TUL_Behavior TUL_integer_behavior = tul::integer::kTable;
