// The collection: growth steps, index checks, the NULL tail, identity
// lookups and allocation failures that must leave the collection intact.
#include <gtest/gtest.h>

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
  // The slots from `count` to `limit` - 1 must all be NULL.
  bool tail_is_null() const {
    for (int i = list.count; i < list.limit; ++i)
      if (list.items[i]) return false;
    return true;
  }

  TULC_Collection list{};
  int items[4] = {0, 1, 2, 3};
  void* a = &items[0];
  void* b = &items[1];
  void* c = &items[2];
};

TEST_F(CollectionTest, StartsEmptyWithEightSlots) {
  EXPECT_EQ(list.magic, 4711);
  EXPECT_EQ(TULC_size(&list), 0);
  EXPECT_EQ(list.limit, 8);
  EXPECT_EQ(list.delta, 8);
  EXPECT_EQ(TULC_at(&list, 0), nullptr);
  EXPECT_TRUE(tail_is_null());
}

TEST_F(CollectionTest, CapacityDoublesUpToAThousandThenGrowsByAThousand) {
  struct Row {
    int count;
    int limit;
  };
  // Each row: the capacity right after appending the count-th item.
  const Row rows[] = {{8, 8}, {9, 16}, {17, 32}, {513, 1024}, {1024, 1024}, {1025, 2024}, {2025, 3024}};
  int appended = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.count);
    append_n(row.count - appended);
    appended = row.count;
    EXPECT_EQ(list.limit, row.limit);
    EXPECT_TRUE(tail_is_null());
  }
}

TEST_F(CollectionTest, IndexChecksOfEveryOperation) {
  append_n(3);
  EXPECT_EQ(TULC_at(&list, -1), nullptr);
  EXPECT_EQ(TULC_at(&list, 3), nullptr);
  EXPECT_EQ(TULC_at_delete(&list, 3), 0);
  EXPECT_EQ(TULC_at_replace(&list, 3, a), 0);
  EXPECT_EQ(TULC_at_insert(&list, 4, a), 0);
  EXPECT_EQ(TULC_at_insert(&list, -1, a), 0);
  EXPECT_EQ(TULC_size(&list), 3);
  // Inserting at count appends.
  EXPECT_EQ(TULC_at_insert(&list, 3, c), 1);
  EXPECT_EQ(TULC_at(&list, 3), c);
}

TEST_F(CollectionTest, InsertShiftsUpAndDeleteShiftsDownLeavingNull) {
  ASSERT_EQ(TULC_append(&list, a), 1);
  ASSERT_EQ(TULC_append(&list, c), 1);
  ASSERT_EQ(TULC_at_insert(&list, 1, b), 1);
  EXPECT_EQ(std::vector<void*>(list.items, list.items + 3), (std::vector<void*>{a, b, c}));
  ASSERT_EQ(TULC_at_delete(&list, 0), 1);
  EXPECT_EQ(TULC_size(&list), 2);
  EXPECT_EQ(TULC_at(&list, 0), b);
  EXPECT_EQ(TULC_at(&list, 1), c);
  EXPECT_EQ(list.items[2], nullptr);
}

TEST_F(CollectionTest, IndexOfFindsOnlyTheIdenticalPointerAndTheFirstOccurrence) {
  int same_value = items[1];
  ASSERT_EQ(TULC_append(&list, a), 1);
  ASSERT_EQ(TULC_append(&list, b), 1);
  ASSERT_EQ(TULC_append(&list, b), 1);
  EXPECT_EQ(TULC_index_of(&list, b), 1);
  EXPECT_EQ(TULC_index_of(&list, &same_value), -1);
  EXPECT_EQ(TULC_index_of(&list, nullptr), -1);
}

TEST_F(CollectionTest, ZeroDeltaNeverGrows) {
  append_n(8);
  list.delta = 0;
  EXPECT_EQ(TULC_append(&list, a), 0);
  EXPECT_EQ(TULC_at_insert(&list, 0, a), 0);
  EXPECT_EQ(TULC_size(&list), 8);
}

TEST_F(CollectionTest, FailedExpansionKeepsTheOldArray) {
  append_n(8);
  void** before = list.items;
  {
    FailNthAllocation fail(1);
    EXPECT_EQ(TULC_append(&list, a), 0);
  }
  EXPECT_EQ(list.items, before);
  EXPECT_EQ(list.limit, 8);
  EXPECT_EQ(list.delta, 8);
  EXPECT_EQ(TULC_size(&list), 8);
  EXPECT_EQ(TULC_append(&list, a), 1);
  EXPECT_EQ(list.limit, 16);
}

TEST_F(CollectionTest, ForeachRereadsTheCountAndSearchStopsAtTheFirstMatch) {
  append_n(4);
  // An action that deletes the first item each time visits only half.
  struct Visit {
    TULC_Collection* list;
    int calls;
  } visit{&list, 0};
  TULC_foreach(
      &list,
      [](void*, void* data) {
        auto* v = static_cast<Visit*>(data);
        ++v->calls;
        TULC_at_delete(v->list, 0);
      },
      &visit);
  EXPECT_EQ(visit.calls, 2);
  EXPECT_EQ(TULC_size(&list), 2);

  int wanted = 3;
  auto equal_int = [](void* item, void* data) -> int {
    return *static_cast<int*>(item) == *static_cast<int*>(data);
  };
  EXPECT_EQ(TULC_search(&list, equal_int, &wanted), &items[3]);
  wanted = 0;
  EXPECT_EQ(TULC_search(&list, equal_int, &wanted), nullptr);
}

TEST_F(CollectionTest, SortOrdersTheItemsThroughPointersToSlots) {
  ASSERT_EQ(TULC_append(&list, c), 1);
  ASSERT_EQ(TULC_append(&list, a), 1);
  ASSERT_EQ(TULC_append(&list, b), 1);
  TULC_sort(&list, [](const void* x, const void* y) {
    return **static_cast<int* const*>(x) - **static_cast<int* const*>(y);
  });
  EXPECT_EQ(std::vector<void*>(list.items, list.items + 3), (std::vector<void*>{a, b, c}));
}

TEST(CollectionLifecycle, DestroyClearsAndIsListChecksMagic) {
  TULC_Collection list{};
  EXPECT_EQ(TULC_is_list(nullptr), 0);
  EXPECT_EQ(TULC_is_list(&list), 0);
  ASSERT_EQ(TULC_init(&list), 1);
  EXPECT_EQ(TULC_is_list(&list), 1);
  TULC_destroy(&list);
  EXPECT_EQ(list.items, nullptr);
  EXPECT_EQ(list.magic, 0);
  EXPECT_EQ(TULC_is_list(&list), 0);
}

TEST(CollectionLifecycle, InitFailsCleanlyWithoutMemory) {
  TULC_Collection list{};
  FailNthAllocation fail(1);
  EXPECT_EQ(TULC_init(&list), 0);
  EXPECT_EQ(list.items, nullptr);
  EXPECT_EQ(TULC_is_list(&list), 0);
}

}  // namespace
