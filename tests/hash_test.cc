// Hash tables and unique strings: the exact string hash, bucket order and
// the first of equal entries, shortages.
#include "hash.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/dictionary_test.h"

namespace {

struct Item {
  uint32_t key;
  int id;
};

uint32_t item_hash(void* p) { return static_cast<Item*>(p)->key; }
int item_equal(void* entry, void* key) { return static_cast<Item*>(entry)->key == static_cast<Item*>(key)->key; }

class HashTable : public ::testing::Test {
 protected:
  void SetUp() override { ht = TULH_new(item_hash, item_equal); }
  void TearDown() override { TULH_free(ht); }
  std::vector<int> walk() {
    std::vector<int> ids;
    TULH_for_each(ht, [](void* e, void* d) { static_cast<std::vector<int>*>(d)->push_back(static_cast<Item*>(e)->id); },
                  &ids);
    return ids;
  }
  TULH_HT* ht = nullptr;
};

TEST(StringHash, FollowsTheWeightedSignedSum) {
  struct Row {
    const char* name;
    const char* text;
    uint32_t expected;
  } rows[] = {
      {"empty text hashes to 0", "", 0},
      {"two letters: 2*97+98", "ab", 292},
      {"a byte above 127 counts as negative", "\xff", static_cast<uint32_t>(-1)},
      {"negative then positive", "\x80" "a", static_cast<uint32_t>(2 * -128 + 97)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(tul::hash::string_hash(const_cast<char*>(row.text)), row.expected);
  }
}

TEST_F(HashTable, CollidingKeysStayInOneBucketInInsertionOrder) {
  std::vector<Item> items(TULH_BUCKETS);
  for (int i = 0; i < TULH_BUCKETS; ++i) {
    items[i] = {static_cast<uint32_t>(i) * TULH_BUCKETS, i};
    ASSERT_EQ(TULH_add_entry(ht, &items[i]), &items[i]);
  }
  EXPECT_EQ(ht->count, TULH_BUCKETS);
  ASSERT_NE(ht->table[0], nullptr);
  for (int i = 0; i < TULH_BUCKETS; ++i) EXPECT_EQ(ht->table[0][i], &items[i]);
  EXPECT_EQ(ht->table[0][TULH_BUCKETS], nullptr);
  for (int b = 1; b < TULH_BUCKETS; ++b) EXPECT_EQ(ht->table[b], nullptr);
}

TEST_F(HashTable, WalkGoesBucketByBucketKeepingEqualEntries) {
  EXPECT_TRUE(walk().empty());
  Item late{1022, 1}, early{0, 2}, middle{1023 + 5, 3}, twin{0, 4}, key{0, 0};
  for (Item* it : {&late, &early, &middle, &twin}) TULH_add_entry(ht, it);
  EXPECT_EQ(walk(), (std::vector<int>{2, 4, 3, 1}));
  EXPECT_EQ(TULH_assoc_entry(ht, &key), &early);  // the first of equal entries answers
  key.key = 3;
  EXPECT_EQ(TULH_assoc_entry(ht, &key), nullptr);
}

TEST_F(HashTable, FailedGrowthLeavesTheTableUnchanged) {
  Item a{1, 1}, b{1, 2};
  TULH_add_entry(ht, &a);
  {
    tul::test::FailNthAllocation fail(1);
    EXPECT_EQ(TULH_add_entry(ht, &b), nullptr);
  }
  EXPECT_EQ(ht->count, 1);
  EXPECT_EQ(walk(), (std::vector<int>{1}));
}

class UniqueStrings : public ::testing::Test {
 protected:
  void TearDown() override { TUL_free_unique_strings(); }
};

TEST_F(UniqueStrings, SameTextSamePointerWithAnIndexCellBeforeIt) {
  char buffer[] = "Counter";
  char* a = TUL_unique_string("Counter");
  char* b = TUL_unique_string(buffer);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, buffer);
  EXPECT_STREQ(a, "Counter");
  int32_t cell;
  std::memcpy(&cell, a - 4, sizeof cell);
  EXPECT_EQ(cell, 0);
  EXPECT_EQ(TUL_unique_string(nullptr), nullptr);
}

TEST_F(UniqueStrings, CollidingHashesStayDistinctAndTheTableCanBeRebuilt) {
  // 2*'a'+'c' == 2*'b'+'a'
  ASSERT_EQ(tul::hash::string_hash(const_cast<char*>("ac")), tul::hash::string_hash(const_cast<char*>("ba")));
  EXPECT_NE(TUL_unique_string("ac"), TUL_unique_string("ba"));
  TUL_free_unique_strings();
  EXPECT_EQ(tul::hash::strings(), nullptr);
  EXPECT_STREQ(TUL_unique_string("ac"), "ac");
}

TEST_F(UniqueStrings, ShortageGivesNullAndLeavesNoEntry) {
  TUL_unique_string("warm");  // the table itself exists
  {
    tul::test::FailNthAllocation fail(1);
    EXPECT_EQ(TUL_unique_string("fresh"), nullptr);
  }
  int32_t before = tul::hash::strings()->count;
  EXPECT_STREQ(TUL_unique_string("fresh"), "fresh");
  EXPECT_EQ(tul::hash::strings()->count, before + 1);
}

}  // namespace
