// INTEGER values and the slots ENUMERATED shares with them. Values keep
// 32-bit semantics whatever the width of long.
#include "prim.h"

namespace tul::integer {

namespace {
inline TUL_Integer* as_integer(TUL_Object* obj) { return reinterpret_cast<TUL_Integer*>(obj); }
}  // namespace

TUL_Object* _alloc(TUL_Entry* entry) { return prim::new_record<TUL_Integer>(entry); }

TUL_Object* _init(TUL_Object* obj, va_list* args) {
  as_integer(obj)->integer = va_arg(*args, int);
  return obj;
}

TUL_Object* _copy(TUL_Object* obj) {
  TUL_Object* failure = nullptr;
  TUL_Integer* copy = prim::clone_record<TUL_Integer>(obj, &failure);
  return copy ? reinterpret_cast<TUL_Object*>(copy) : failure;
}

long _size(TUL_Object*) { return 1; }

int _equal(TUL_Object* a, TUL_Object* b) { return as_integer(a)->integer == as_integer(b)->integer; }

unsigned int _hash(TUL_Object* obj) { return static_cast<uint32_t>(as_integer(obj)->integer); }

}  // namespace tul::integer

TUL_API constinit TUL_Behavior TUL_integer_behavior = tul::integer::kTable;
