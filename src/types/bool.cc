// BOOLEAN values. Any non-zero `boolean` is TRUE, but the stored int is kept
// as given, so two TRUE values made from different ints are not equal.
#include "parse.h"
#include "prim.h"

namespace tul::boolean {
namespace {

TUL_Object* _alloc(TUL_Entry* entry) { return prim::new_record<TUL_Boolean>(entry); }

TUL_Object* _init(TUL_Object* obj, va_list* args) {
  reinterpret_cast<TUL_Boolean*>(obj)->boolean = va_arg(*args, int);
  return obj;
}

TUL_Object* _copy(TUL_Object* obj) {
  TUL_Object* failure = nullptr;
  TUL_Boolean* copy = prim::clone_record<TUL_Boolean>(obj, &failure);
  return copy ? reinterpret_cast<TUL_Object*>(copy) : failure;
}

int _decode(TUL_Object* obj, TULE_DecodeContext* ctx) {
  PElement* pe = TUL_own_element(obj, ctx);
  if (!pe) return 0;
  int flag = prim2flag(pe);
  if (flag < 0) return prim::wrong_encoding(obj, ctx);
  reinterpret_cast<TUL_Boolean*>(obj)->boolean = flag;
  return 1;
}

int _encode(TUL_Object* obj, TULE_EncodeContext* ctx) {
  return prim::finish_encode(obj, ctx,
                             bool2prim(ctx->pe_ctx, reinterpret_cast<TUL_Boolean*>(obj)->boolean));
}

// The driver reads a failure from the context.
TUL_Object* _parse(TUL_Object* obj, TULP_ParseContext* ctx) {
  reinterpret_cast<TUL_Boolean*>(obj)->boolean = TULP_parse_boolean(ctx);
  return obj;
}

void _print(TUL_Object* obj, TULP_PrintContext* ctx) {
  prim::print(ctx, reinterpret_cast<TUL_Boolean*>(obj)->boolean ? "TRUE" : "FALSE");
}

long _size(TUL_Object*) { return 1; }

int _equal(TUL_Object* a, TUL_Object* b) {
  return reinterpret_cast<TUL_Boolean*>(a)->boolean == reinterpret_cast<TUL_Boolean*>(b)->boolean;
}

unsigned int _hash(TUL_Object* obj) {
  return reinterpret_cast<TUL_Boolean*>(obj)->boolean ? 12345u : 67890u;
}

}  // namespace
}  // namespace tul::boolean

using namespace tul::boolean;

TUL_API constinit TUL_Behavior TUL_boolean_behavior = {
    .basic_type = TUL_BOOLEAN_TYPE,
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
