// The collection: growth steps, index checks, the NULL tail, identity
// lookups and allocation failures that must leave the collection intact.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "coll.h"
#include "support/dictionary_test.h"

namespace {

using tul::test::FailNthAllocation;

class CollectionTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(TULC_init(&list), 1); }
  void TearDown() override { TULC_destroy(&list); }

  void append_n(int n) {
    for (int i = 0; i < n; ++i) ASSERT_EQ(TULC_append(&list, &items[i % 4]), 1);
  }
  // The first `n` slots, the NULL tail included.
  std::vector<void*> slots(int n) const { return std::vector<void*>(list.items, list.items + n); }

  TULC_Collection list{};
  int items[4] = {0, 1, 2, 3};
  void* a = &items[0];
  void* b = &items[1];
  void* c = &items[2];
};

TEST(CollectionLifecycle, InitDestroyAndTheMagicCheck) {
  TULC_Collection list{};
  EXPECT_EQ(TULC_is_list(nullptr) + TULC_is_list(&list), 0);
  {
    FailNthAllocation fail(1);
    EXPECT_EQ(TULC_init(&list), 0);
  }
  EXPECT_EQ(list.items, nullptr);
  EXPECT_EQ(TULC_is_list(&list), 0);
  ASSERT_EQ(TULC_init(&list), 1);
  EXPECT_EQ(TULC_is_list(&list), 1);
  EXPECT_EQ(TULC_size(&list), 0);
  TULC_destroy(&list);
  EXPECT_EQ(list.items, nullptr);
  EXPECT_EQ(TULC_is_list(&list), 0);
}

TEST_F(CollectionTest, CapacityDoublesUpToAThousandThenGrowsByAThousand) {
  // Each row: the capacity right after appending the count-th item.
  const struct { int count, limit; } rows[] = {{0, 8},       {8, 8},       {9, 16},      {17, 32},
                                               {513, 1024}, {1024, 1024}, {1025, 2024}, {2025, 3024}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.count);
    append_n(row.count - list.count);
    EXPECT_EQ(list.limit, row.limit);
    EXPECT_TRUE(std::all_of(list.items + list.count, list.items + list.limit, [](void* p) { return !p; }));
  }
}

TEST_F(CollectionTest, EditsShiftTheItemsAndIndexesAreChecked) {
  append_n(3);  // a b c
  EXPECT_EQ(TULC_at(&list, -1), nullptr);
  EXPECT_EQ(TULC_at(&list, 3), nullptr);
  // Past the end, and before the start; inserting at the count appends.
  EXPECT_EQ((std::vector<int>{TULC_at_delete(&list, 3), TULC_at_replace(&list, 3, a), TULC_at_insert(&list, 4, a),
                              TULC_at_insert(&list, -1, a), TULC_at_insert(&list, 3, a), TULC_at_insert(&list, 1, c),
                              TULC_at_replace(&list, 0, b)}),
            (std::vector<int>{0, 0, 0, 0, 1, 1, 1}));
  EXPECT_EQ(slots(5), (std::vector<void*>{b, c, b, c, a}));
  ASSERT_EQ(TULC_at_delete(&list, 0), 1);
  EXPECT_EQ(slots(5), (std::vector<void*>{c, b, c, a, nullptr}));

  // Only identity counts, and the first of two equal pointers is found.
  int same_value = items[1];
  EXPECT_EQ(TULC_index_of(&list, c), 0);
  EXPECT_EQ(TULC_index_of(&list, &same_value), -1);
  EXPECT_EQ(TULC_index_of(&list, nullptr), -1);

  TULC_sort(&list, [](const void* x, const void* y) {
    return **static_cast<int* const*>(x) - **static_cast<int* const*>(y);
  });
  EXPECT_EQ(slots(5), (std::vector<void*>{a, b, c, c, nullptr}));
  auto positive = [](void* item, void*) -> int { return *static_cast<int*>(item) > 0; };
  EXPECT_EQ(TULC_search(&list, positive, nullptr), b);

  // An action that deletes the first item each time: the count is re-read,
  // so only half the items are visited.
  TULC_foreach(&list, [](void*, void* data) { TULC_at_delete(static_cast<TULC_Collection*>(data), 0); }, &list);
  EXPECT_EQ(slots(3), (std::vector<void*>{c, c, nullptr}));
  EXPECT_EQ(TULC_search(&list, positive, nullptr), c);
  EXPECT_EQ(TULC_search(&list, [](void*, void*) { return 0; }, nullptr), nullptr);
}

TEST_F(CollectionTest, AFullCollectionThatCannotGrowStaysIntact) {
  append_n(8);
  list.delta = 0;
  EXPECT_EQ(TULC_append(&list, a) + TULC_at_insert(&list, 0, a), 0);
  list.delta = 8;
  void** before = list.items;
  {
    FailNthAllocation fail(1);
    EXPECT_EQ(TULC_append(&list, a), 0);
  }
  EXPECT_EQ(std::vector<long>({list.limit, list.delta, TULC_size(&list)}), std::vector<long>({8, 8, 8}));
  EXPECT_EQ(list.items, before);
  EXPECT_EQ(TULC_append(&list, a), 1);
  EXPECT_EQ(list.limit, 16);
}

}  // namespace
