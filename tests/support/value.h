// A value owned by the test: freed with TUL_free when it goes out of scope,
// so a failed assertion cannot leak it.
#ifndef TUL_TESTS_SUPPORT_VALUE_H
#define TUL_TESTS_SUPPORT_VALUE_H

#include <cstdlib>
#include <memory>
#include <string>

#include "tul.h"

namespace tul::test {

struct ValueFree {
  void operator()(TUL_Object* obj) const { TUL_free(obj); }
};
using Value = std::unique_ptr<TUL_Object, ValueFree>;

inline bool ok(const Value& v) { return v && !v->error; }

// The value notation of `v` alone, without its type name; "<null>" for no text.
inline std::string value_text(const Value& v) {
  char* text = TUL_print_value(v.get(), 0);
  std::string s = text ? text : "<null>";
  std::free(text);
  return s;
}

}  // namespace tul::test

#endif
