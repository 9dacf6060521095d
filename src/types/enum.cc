// ENUMERATED values: the INTEGER table with its own print (values outside
// the enumeration are kept, and marked only when printed) and copy (a
// shortage gives null instead of the allocation-error object).
#include <cstdio>

#include "prim.h"

namespace tul::enumerated {
namespace {

// Every name that carries the value, without separator.
void _print(TUL_Object* obj, TULP_PrintContext* ctx) {
  const long long value = integer_value(obj);
  const TUL_Asn1TypeEntry* e = tul_type_entry(obj);
  char text[prim::kFormatSize];
  if (!e->enum_list || e->enums <= 0) {
    std::snprintf(text, sizeof text, "%lld", value);
    return prim::print(ctx, text);
  }
  bool matched = false;
  for (int32_t i = 0; i < e->enums; ++i)
    if (e->enum_list[i].val == value) {
      prim::print(ctx, e->enum_list[i].name);
      matched = true;
    }
  if (matched) return;
  std::snprintf(text, sizeof text, "%lld -- invalid '%s' value --", value, e->name);
  prim::print(ctx, text);
}

TUL_Object* _copy(TUL_Object* obj) {
  TUL_Object* copy = integer::_copy(obj);
  if (copy && copy->error) return nullptr;
  return copy;
}

}  // namespace
}  // namespace tul::enumerated

TUL_API constinit TUL_Behavior TUL_enum_behavior =
    tul::prim::derive(tul::integer::kTable, [](TUL_Behavior& t) {
      t.basic_type = TUL_ENUMERATED_TYPE;
      t.print = tul::enumerated::_print;
      t.copy = tul::enumerated::_copy;
    });
