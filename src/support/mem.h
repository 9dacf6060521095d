// Allocation shim: every record that crosses the C boundary comes from the C
// allocator through these functions, so test builds can make the Nth
// allocation fail and check that each failure path leaks nothing.
#ifndef TUL_SUPPORT_MEM_H
#define TUL_SUPPORT_MEM_H

#include <malloc.h>

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

// Small blocks the library frees wait in per-size lists for its next
// allocation of that size: a decode allocates and frees dozens of small
// records, and calloc has no fast path of its own. The lists only sit in
// front of the C allocator: every block is the allocator's own, so it may
// still go to `free` or `realloc` from anywhere, and any malloc'ed block may
// come back here (its size class is read from the allocator). One process-
// wide cache, like the library's other state: calls come from one thread at
// a time. Under AddressSanitizer blocks go straight to the allocator, so
// that a use after free is still reported.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kCacheBlocks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kCacheBlocks = false;
#else
inline constexpr bool kCacheBlocks = true;
#endif
#else
inline constexpr bool kCacheBlocks = true;
#endif

struct BlockCache {
  static constexpr size_t kGranule = 16;
  static constexpr size_t kClasses = 17;  // class k holds blocks of at least k granules
  static constexpr size_t kLargest = kGranule * (kClasses - 1);
  static constexpr size_t kBytesPerClass = 64 * 1024;
  void* head[kClasses];
  size_t count[kClasses];
};
inline constinit BlockCache block_cache{};

// The class a request of `n` bytes is served from; 0 above kLargest.
inline size_t request_class(size_t n) {
  return kCacheBlocks && n <= BlockCache::kLargest ? (n + BlockCache::kGranule - 1) / BlockCache::kGranule : 0;
}

inline void* take_cached(size_t k) {
  void* block = block_cache.head[k];
  if (block) {
    std::memcpy(&block_cache.head[k], block, sizeof(void*));
    --block_cache.count[k];
  }
  return block;
}

// A fresh block of class `k` asks for the whole class, so that it comes back
// into the same class when freed.
inline size_t request_size(size_t n, size_t k) { return k ? k * BlockCache::kGranule : n; }

inline void* alloc(size_t n) {
  if (should_fail()) return nullptr;
  size_t k = request_class(n ? n : 1);
  if (void* block = k ? take_cached(k) : nullptr) return block;
  return std::malloc(request_size(n ? n : 1, k));
}
inline void* zalloc(size_t n) {
  if (should_fail()) return nullptr;
  size_t k = request_class(n ? n : 1);
  if (void* block = k ? take_cached(k) : nullptr) return std::memset(block, 0, n);
  return std::calloc(1, request_size(n ? n : 1, k));
}
inline void* realloc(void* p, size_t n) { return should_fail() ? nullptr : std::realloc(p, n ? n : 1); }
inline void free(void* p) {
  if (!p) return;
  if (kCacheBlocks) {
    size_t k = malloc_usable_size(p) / BlockCache::kGranule;
    if (k > 0 && k < BlockCache::kClasses && block_cache.count[k] * k * BlockCache::kGranule < BlockCache::kBytesPerClass) {
      std::memcpy(p, &block_cache.head[k], sizeof(void*));
      block_cache.head[k] = p;
      ++block_cache.count[k];
      return;
    }
  }
  std::free(p);
}

// Hands every cached block back to the C allocator.
inline void release_cached_blocks() {
  for (size_t k = 1; k < BlockCache::kClasses; ++k)
    while (void* block = take_cached(k)) std::free(block);
}

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
