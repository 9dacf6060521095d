// NULL values: the bare header; every NULL equals every other.
#include "prim.h"

namespace tul::null {
namespace {

TUL_Object* _alloc(TUL_Entry* entry) { return prim::new_record<TUL_Object>(entry); }

TUL_Object* _init(TUL_Object* obj, va_list*) { return obj; }

TUL_Object* _copy(TUL_Object* obj) {
  TUL_Object* failure = nullptr;
  TUL_Object* copy = prim::clone_record<TUL_Object>(obj, &failure);
  return copy ? copy : failure;
}

long _size(TUL_Object*) { return 1; }
int _equal(TUL_Object*, TUL_Object*) { return 1; }
unsigned int _hash(TUL_Object*) { return 16; }

}  // namespace
}  // namespace tul::null

using namespace tul::null;

TUL_API constinit TUL_Behavior TUL_null_behavior = {
    .basic_type = TUL_NULL_TYPE,
    .alloc = _alloc,
    .init = _init,
    .free = tul::prim::free_record,
    .decode = nullptr,
    .encode = nullptr,
    .parse = nullptr,
    .print = nullptr,
    .copy = _copy,
    .size = _size,
    .equal = _equal,
    .evaluate = tul::prim::evaluate_self,
    .hash = _hash,
    .action = {},
    .mapping = nullptr,
};
