// The allocation shim: blocks kept for reuse are served only where they are
// large enough, come zeroed from zalloc, still obey failure injection, and
// any malloc'ed block may be handed back to it.
#include <gtest/gtest.h>

#include <malloc.h>

#include <vector>

#include "mem.h"

namespace {

namespace mem = tul::mem;

class MemTest : public testing::Test {
 protected:
  void TearDown() override {
    mem::fail_countdown = 0;
    mem::release_cached_blocks();
  }
};

// Blocks of every size around the kept classes, some from the shim and some
// straight from malloc, are freed into the shim; every later request gets a
// block at least as large as asked, zeroed when asked.
TEST_F(MemTest, ReusedBlocksAreLargeEnoughAndZeroed) {
  constexpr size_t kLargest = 300;
  std::vector<void*> blocks;
  for (size_t n = 0; n <= kLargest; ++n) {
    void* own = mem::alloc(n);
    std::memset(own, 0xA5, n);
    blocks.push_back(own);
    blocks.push_back(std::malloc(n + 1));
  }
  for (void* block : blocks) mem::free(block);
  for (size_t n = 0; n <= kLargest; ++n) {
    SCOPED_TRACE(n);
    auto* zeroed = static_cast<unsigned char*>(mem::zalloc(n));
    void* plain = mem::alloc(n);
    ASSERT_TRUE(zeroed && plain);
    EXPECT_GE(malloc_usable_size(zeroed), n);
    EXPECT_GE(malloc_usable_size(plain), n);
    for (size_t k = 0; k < n; ++k) ASSERT_EQ(zeroed[k], 0) << k;
    std::free(zeroed);  // kept blocks are the C allocator's own
    mem::free(plain);
  }
}

TEST_F(MemTest, FailureInjectionCountsKeptBlocks) {
  mem::free(mem::alloc(40));
  mem::fail_countdown = 1;
  EXPECT_EQ(mem::zalloc(40), nullptr);
  void* block = mem::zalloc(40);
  EXPECT_NE(block, nullptr);
  mem::free(block);
}

}  // namespace
