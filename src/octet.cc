// OCTET STRING and the character-string types: one counted byte block with
// a NUL after the counted bytes, so the block doubles as a C text. The two
// tables differ only in print: hex for OCTET STRING, quoted text otherwise.
#include <cstring>

#include "prim.h"

namespace tul::octet {
namespace {

inline TUL_Octet* as_octet(TUL_Object* obj) { return reinterpret_cast<TUL_Octet*>(obj); }

// A NUL-terminated copy of `len` bytes; null on shortage.
char* copy_bytes(const char* bytes, size_t len) {
  auto* block = static_cast<char*>(mem::alloc(len + 1));
  if (!block) return nullptr;
  if (len) std::memcpy(block, bytes, len);
  block[len] = '\0';
  return block;
}

TUL_Object* _alloc(TUL_Entry* entry) { return prim::new_record<TUL_Octet>(entry); }

// (length, bytes); length -1 takes the bytes as a C text. A null pointer
// stands for no bytes, so a careless caller gets an empty value.
TUL_Object* _init(TUL_Object* obj, va_list* args) {
  int length = va_arg(*args, int);
  const char* bytes = va_arg(*args, const char*);
  if (length < -1) return TUL_error(tul_dtd(obj), 21, "init");
  size_t len = 0;
  if (bytes) len = length == -1 ? std::strlen(bytes) : static_cast<size_t>(length);
  if (len > INT32_MAX) return TUL_error(tul_dtd(obj), 21, "init");
  char* block = copy_bytes(bytes, len);
  if (!block) return TUL_error(tul_dtd(obj), 2);
  TUL_Octet* o = as_octet(obj);
  mem::free(o->octet);
  o->octet = block;
  o->len = static_cast<int32_t>(len);
  return obj;
}

void _free(TUL_Object* obj) {
  TUL_Octet* o = as_octet(obj);
  mem::free(o->octet);
  mem::free(o->string);
  mem::free(o);
}

// A value whose block was consumed copies as an empty value.
TUL_Object* _copy(TUL_Object* obj) {
  TUL_Octet* source = as_octet(obj);
  size_t len = source->octet ? static_cast<size_t>(source->len) : 0;
  char* block = copy_bytes(source->octet, len);
  if (!block) return TUL_error(tul_dtd(obj), 2);
  TUL_Object* failure = nullptr;
  TUL_Octet* copy = prim::clone_record<TUL_Octet>(obj, &failure);
  if (!copy) {
    mem::free(block);
    return failure;
  }
  copy->len = static_cast<int32_t>(len);
  copy->octet = block;
  copy->string = nullptr;
  return reinterpret_cast<TUL_Object*>(copy);
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
    .free = _free,
    .decode = nullptr,
    .encode = nullptr,
    .parse = nullptr,
    .print = nullptr,
    .copy = _copy,
    .size = _size,
    .equal = _equal,
    .evaluate = prim::evaluate_self,
    .hash = _hash,
    .action = {},
    .mapping = nullptr,
};

}  // namespace
}  // namespace tul::octet

TUL_API constinit TUL_Behavior TUL_octet_behavior = tul::octet::kTable;

// The character-string types print their bytes as quoted text.
TUL_API constinit TUL_Behavior TUL_printable_behavior =
    tul::prim::derive(tul::octet::kTable, [](TUL_Behavior&) {});
