// Allocation shim: every record that crosses the C boundary comes from the C
// allocator through these functions, so test builds can make the Nth
// allocation fail and check that each failure path leaks nothing.
#ifndef TUL_SUPPORT_MEM_H
#define TUL_SUPPORT_MEM_H

#include <cstdlib>
#include <cstring>
#include <memory>

namespace tul::mem {

// Counts down on every allocation while positive; the allocation that takes
// it from 1 to 0 fails. 0 means never fail. Set only by tests.
extern long fail_countdown;

inline bool should_fail() {
  if (fail_countdown <= 0) return false;
  return --fail_countdown == 0;
}

inline void* alloc(size_t n) { return should_fail() ? nullptr : std::malloc(n ? n : 1); }
inline void* zalloc(size_t n) { return should_fail() ? nullptr : std::calloc(1, n ? n : 1); }
inline void* realloc(void* p, size_t n) { return should_fail() ? nullptr : std::realloc(p, n ? n : 1); }
inline void free(void* p) { std::free(p); }

template <class T>
T* alloc_array(size_t n) {
  return static_cast<T*>(alloc(n * sizeof(T)));
}
template <class T>
T* zalloc_array(size_t n) {
  return static_cast<T*>(zalloc(n * sizeof(T)));
}

inline char* strdup(const char* s) {
  size_t n = std::strlen(s) + 1;
  char* copy = static_cast<char*>(alloc(n));
  if (copy) std::memcpy(copy, s, n);
  return copy;
}

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

// Owns a malloc'ed block; release() hands it to the caller.
template <class T>
using CPtr = std::unique_ptr<T, FreeDeleter>;

}  // namespace tul::mem

#endif
