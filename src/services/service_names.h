// What the filter and translation modules share: the names they compare by
// identity, interned on first use and again after the unique-string table
// was recreated, and how they look at values.
#ifndef TUL_SERVICE_NAMES_H
#define TUL_SERVICE_NAMES_H

#include <cstddef>

#include "hash.h"
#include "tul.h"

namespace tul::services {

// A fixed list of texts and their interned forms, indexed like the texts.
template <size_t N>
class InternedNames {
 public:
  explicit constexpr InternedNames(const char* const (&texts)[N]) : texts_(texts) {}

  // The interned names; null only under memory shortage (the next call
  // tries again).
  char* const* get() {
    if (generation_ != hash::strings_generation()) {
      bool complete = true;
      for (size_t i = 0; i < N; ++i) complete = (names_[i] = TUL_unique_string(texts_[i])) && complete;
      generation_ = complete ? hash::strings_generation() : 0;
      if (!complete) return nullptr;
    }
    return names_;
  }

 private:
  const char* const (&texts_)[N];
  unsigned generation_ = 0;
  char* names_[N] = {};
};

// A value (not an error object) whose basic type has one of `bits`.
inline bool has_bits(TUL_Object* obj, int bits) { return obj && !obj->error && (TUL_object_basic_type(obj) & bits); }

// The chosen value of a CHOICE, through any depth of CHOICEs; any other
// value itself.
inline TUL_Object* unwrap(TUL_Object* obj) {
  while (has_bits(obj, TUL_CHOICE_TYPE)) obj = TUL_read_choice(obj);
  return obj;
}

// Frees a value the caller owns, except the dictionary's singletons, which
// error paths may hand out.
inline void discard(TUL_Object* obj) {
  if (obj && obj != obj->type_ref->dtd->alloc_error && obj != obj->type_ref->dtd->tmp_object) TUL_free(obj);
}

}  // namespace tul::services

#endif
