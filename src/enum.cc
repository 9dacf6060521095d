// ENUMERATED values: the INTEGER table with its own copy (a shortage gives
// null instead of the allocation-error object).
#include "prim.h"

namespace tul::enumerated {
namespace {

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
      t.copy = tul::enumerated::_copy;
    });
