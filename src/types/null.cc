// NULL values: the bare header; every NULL equals every other.
#include "parse.h"
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

// The contents octets are not examined.
int _decode(TUL_Object* obj, TULE_DecodeContext* ctx) { return TUL_own_element(obj, ctx) != nullptr; }

int _encode(TUL_Object* obj, TULE_EncodeContext* ctx) {
  return prim::finish_encode(obj, ctx,
                             new_PE(ctx->pe_ctx, ber::kUniversal, ber::kPrimitive, ber::kTagNull));
}

// The driver reads a failure from the context.
TUL_Object* _parse(TUL_Object* obj, TULP_ParseContext* ctx) {
  TULP_parse_null(ctx);
  return obj;
}

void _print(TUL_Object*, TULP_PrintContext* ctx) { prim::print(ctx, "NULL"); }

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
