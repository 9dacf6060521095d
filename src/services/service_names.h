// Names the filter and translation modules compare by identity, interned on
// first use and again after the unique-string table was recreated.
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

// Frees a value the caller owns, except the dictionary's singletons, which
// error paths may hand out.
inline void discard(TUL_Object* obj) {
  if (obj && obj != obj->type_ref->dtd->alloc_error && obj != obj->type_ref->dtd->tmp_object) TUL_free(obj);
}

}  // namespace tul::services

#endif
