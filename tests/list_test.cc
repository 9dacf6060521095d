// SEQUENCE OF and SET OF: the codec and value notation of lists, and the
// exported list operations with their ownership rules (adopt on insert, hand
// back on removal, lend on lookup) and their argument checks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/dictionary_test.h"
#include "support/type_builder.h"

namespace {

using ::testing::HasSubstr;
using tul::test::decode_error_text;
using tul::test::decode_hex;
using tul::test::define_type;
using tul::test::encode_hex;
using tul::test::parse_error_text;
using tul::test::printed;
using tul::test::StderrCapture;

class ListTest : public tul::test::DictionaryTest {
 protected:
  void SetUp() override {
    DictionaryTest::SetUp();
    define_type(md, "Ints", "SEQUENCE OF", {{nullptr, "INTEGER"}});
    define_type(md, "IntSet", "SET OF", {{nullptr, "INTEGER"}});
    define_type(md, "Anys", "SEQUENCE OF", {{nullptr, "ANY"}});
    define_type(md, "Pair", "SEQUENCE", {{"a", "INTEGER"}, {"b", "Ints"}});
  }

  TUL_Object* integer(int v) { return TUL_new("INTEGER", md, v); }
  // A list of `type` holding INTEGER values.
  TUL_Object* ints(const char* type, std::vector<int> values) {
    TUL_Object* list = TUL_new(type, md, 0);
    for (int v : values) EXPECT_EQ(TUL_append(list, integer(v)), list);
    return list;
  }
  std::vector<long> contents(TUL_Object* list) {
    std::vector<long> out;
    for (long i = 0; i < TUL_size(list); ++i) out.push_back(TUL_read_int(TUL_at(list, i)));
    return out;
  }
  // Runs `call` and returns what it traced.
  template <class F>
  std::string traced(F call) {
    StderrCapture capture;
    call();
    return capture.take();
  }
};

TEST_F(ListTest, EncodesInListOrderUnderTag16Or17) {
  struct Row {
    const char* type;
    std::vector<int> values;
    const char* hex;
  };
  const Row rows[] = {
      {"Ints", {1, 2}, "30 06 02 01 01 02 01 02"},
      {"Ints", {}, "30 00"},
      {"IntSet", {2, 1}, "31 06 02 01 02 02 01 01"},  // SET OF is not sorted
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.hex);
    TUL_Object* list = ints(row.type, row.values);
    EXPECT_EQ(encode_hex(list), row.hex);
    TUL_Object* decoded = decode_hex(md, row.type, row.hex);
    ASSERT_EQ(decoded->error, 0);
    EXPECT_TRUE(TUL_equal(decoded, list));
    EXPECT_EQ(TUL_hash(decoded), TUL_hash(list));
    TUL_free(decoded);
    TUL_free(list);
  }
}

TEST_F(ListTest, DecodingDoesNotCheckElementTags) {
  TUL_Object* list = decode_hex(md, "Ints", "30 03 04 01 41");
  ASSERT_EQ(list->error, 0);
  EXPECT_EQ(contents(list), std::vector<long>{0x41});
  TUL_free(list);

  EXPECT_EQ(decode_error_text(md, "Ints", "02 01 01"),
            "#17 decode error: 'constructed tag (SET/SEQUENCE OF) expected' in an object from type 'Ints'");
}

TEST_F(ListTest, AnyElementsTakeTheirBuiltInType) {
  TUL_Object* list = decode_hex(md, "Anys", "30 06 02 01 05 01 01 FF");
  ASSERT_EQ(list->error, 0);
  EXPECT_STREQ(TUL_object_type(TUL_at(list, 0)), "INTEGER");
  EXPECT_STREQ(TUL_object_type(TUL_at(list, 1)), "BOOLEAN");
  EXPECT_EQ(printed(list), "Anys {\n    INTEGER 5,\n    BOOLEAN TRUE\n}");
  TUL_free(list);
  // A context-tagged element has no built-in type: the decode fails.
  EXPECT_EQ(decode_hex(md, "Anys", "30 03 80 01 05"), nullptr);
}

TEST_F(ListTest, AFailedElementFailsTheWholeDecode) {
  // The second element of the inner list has no contents: everything decoded
  // before it is released with the outer value.
  EXPECT_EQ(decode_error_text(md, "Pair", "30 0A 02 01 01 30 05 02 01 01 02 00"),
            "#17 decode error: 'wrong encoding or data overflow' in an object from type 'INTEGER'");
}

TEST_F(ListTest, ParsesAndPrintsWithTheListLayout) {
  TUL_Object* list = TUL_parse_str(md, "Ints { 1, -2 ,3 }");
  ASSERT_EQ(list->error, 0) << text_of(list);
  EXPECT_EQ(contents(list), (std::vector<long>{1, -2, 3}));
  EXPECT_EQ(printed(list), "Ints {\n    1,\n    -2,\n    3\n}");
  TUL_free(list);

  list = TUL_parse_str(md, "Ints {}");
  ASSERT_EQ(list->error, 0);
  EXPECT_EQ(printed(list), "Ints {}");
  char* value = TUL_print_value(list, 3);
  EXPECT_STREQ(value, "{}");
  free(value);
  TUL_free(list);

  // Nested inside a SEQUENCE the inner lines follow the level.
  TUL_Object* pair = TUL_parse_str(md, "Pair { a 1, b { 7, 8 } }");
  ASSERT_EQ(pair->error, 0) << text_of(pair);
  EXPECT_EQ(printed(pair), "Pair {\n    a 1,\n    b {\n\t7,\n\t8\n    }\n}");
  TUL_free(pair);
}

TEST_F(ListTest, ParseErrors) {
  struct Row {
    const char* text;
    const char* message;
  };
  const Row rows[] = {
      {"Ints 1", "#11 parse error: '{' expected, line: 1, last token: 1"},
      {"Ints { 1 2 }", "#11 parse error: ',' expected, line: 1, last token: 2"},
      {"Ints { 1, }", "#11 parse error: INTEGER/ENUMERATED value expected, line: 1, last token: }"},
      {"Ints { 1,", "#20 EOF detected while parsing"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(parse_error_text(md, row.text), row.message);
  }
}

TEST_F(ListTest, InitAppendsAndReleasesTheRestAfterAnError) {
  TUL_Object* list = TUL_new("Ints", md, 3, integer(1), nullptr, integer(3));
  ASSERT_EQ(list->error, 0);
  EXPECT_EQ(contents(list), (std::vector<long>{1, 3}));
  TUL_free(list);

  TUL_Object* result = TUL_new("Ints", md, 3, integer(1), TUL_new("BOOLEAN", md, 1), integer(3));
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->error, 15);
  TUL_free(result);
}

TEST_F(ListTest, AppendChecksTheElementTypeExactly) {
  define_type(md, "MyInt", "INTEGER");
  TUL_Object* list = ints("Ints", {});
  struct Row {
    const char* type;
    bool accepted;
  };
  const Row rows[] = {{"INTEGER", true}, {"BOOLEAN", false}, {"MyInt", false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.type);
    TUL_Object* value = TUL_new(row.type, md, 1);
    TUL_Object* result = TUL_append(list, value);
    if (row.accepted) {
      EXPECT_EQ(result, list);
      EXPECT_EQ(value->ref_cnt, 1);
    } else {
      ASSERT_NE(result, nullptr);
      EXPECT_EQ(result->error, 15);
      EXPECT_EQ(text_of(result), "#15 this member is supposed to be from type 'INTEGER'");
      EXPECT_EQ(value->ref_cnt, 0);  // not adopted
      TUL_free(result);
      TUL_free(value);
    }
  }
  EXPECT_EQ(TUL_size(list), 1);
  // An ANY list takes any value.
  TUL_Object* anys = TUL_new("Anys", md, 0);
  EXPECT_EQ(TUL_append(anys, TUL_new("BOOLEAN", md, 1)), anys);
  TUL_free(anys);
  TUL_free(list);
}

TEST_F(ListTest, InsertAtTracesAWrongTypeAndRejectsBadIndexes) {
  TUL_Object* list = ints("Ints", {1, 3});
  EXPECT_EQ(TUL_insert_at(list, 1, integer(2)), list);
  EXPECT_EQ(TUL_insert_at(list, 3, integer(4)), list);  // size appends
  EXPECT_EQ(contents(list), (std::vector<long>{1, 2, 3, 4}));

  TUL_Object* flag = TUL_new("BOOLEAN", md, 1);
  TUL_Object* result = nullptr;
  EXPECT_EQ(traced([&] { result = TUL_insert_at(list, 0, flag); }),
            "#15 this member is supposed to be from type 'INTEGER'\n");
  EXPECT_EQ(result, list);
  TUL_free(flag);

  for (long bad : {-1L, 5L}) {
    SCOPED_TRACE(bad);
    TUL_Object* value = integer(9);
    result = TUL_insert_at(list, bad, value);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->error, 2);
    TUL_free(result);
    TUL_free(value);
  }
  EXPECT_EQ(TUL_size(list), 4);
  TUL_free(list);
}

TEST_F(ListTest, ReplaceAndRemoveHandValuesBack) {
  TUL_Object* list = ints("Ints", {10, 20});
  TUL_Object* b = TUL_at(list, 0);
  TUL_Object* a = integer(5);
  TUL_Object* previous = TUL_replace_at(list, 0, a);
  EXPECT_EQ(previous, b);
  EXPECT_EQ(b->ref_cnt, 0);
  EXPECT_EQ(a->ref_cnt, 1);
  TUL_free(b);  // released: the caller owns it now
  TUL_free(a);  // still held: nothing happens
  EXPECT_EQ(TUL_read_int(TUL_at(list, 0)), 5);

  TUL_Object* removed = TUL_remove_at(list, 0);
  EXPECT_EQ(removed, a);
  EXPECT_EQ(a->ref_cnt, 0);
  EXPECT_EQ(contents(list), std::vector<long>{20});
  TUL_free(a);

  TUL_Object* c = TUL_at(list, 0);
  TUL_remove(list, c);
  EXPECT_EQ(TUL_size(list), 0);
  EXPECT_EQ(c->ref_cnt, 0);
  TUL_remove(list, c);  // absent: nothing changes
  TUL_free(c);
  TUL_free(list);
}

TEST_F(ListTest, IndexErrors) {
  TUL_Object* list = ints("Ints", {1});
  TUL_Object* at = TUL_at(list, 1);
  ASSERT_NE(at, nullptr);
  EXPECT_EQ(at->error, 8);
  EXPECT_EQ(text_of(at), "#08 the specified index is out of range");
  TUL_free(at);

  TUL_Object* result = list;
  EXPECT_EQ(traced([&] { result = TUL_remove_at(list, 1); }), "#08 the specified index is out of range\n");
  EXPECT_EQ(result, nullptr);
  TUL_Object* value = integer(2);
  EXPECT_EQ(traced([&] { result = TUL_replace_at(list, -1, value); }), "#08 the specified index is out of range\n");
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(value->ref_cnt, 0);
  TUL_free(value);
  TUL_free(list);
}

TEST_F(ListTest, AValueInTwoContainersLivesUntilBothLetGo) {
  TUL_Object* shared = integer(42);
  TUL_Object* list = ints("Ints", {});
  TUL_Object* pair = TUL_new("Pair", md, shared, nullptr);
  ASSERT_EQ(TUL_append(list, shared), list);
  ASSERT_EQ(TUL_append(list, shared), list);  // twice in one list
  EXPECT_EQ(shared->ref_cnt, 3);
  EXPECT_EQ(TUL_index_of(list, shared), 0);
  TUL_free(list);
  EXPECT_EQ(shared->ref_cnt, 1);
  EXPECT_EQ(TUL_read_int(TUL_assoc(pair, "a")), 42);
  TUL_free(pair);  // the last holder frees it (the sanitizer checks)
}

TEST_F(ListTest, LookupsLendAndVisitInOrder) {
  TUL_Object* list = ints("Ints", {3, 1, 2});
  TUL_Object* first = TUL_at(list, 0);
  EXPECT_EQ(TUL_is_element(list, first), 1);
  TUL_Object* stranger = integer(3);
  EXPECT_EQ(TUL_is_element(list, stranger), 0);  // equal value, other object
  EXPECT_EQ(TUL_index_of(list, stranger), -1);

  auto is_value = [](TUL_Object* element, void* key) -> int {
    return TUL_read_int(element) == *static_cast<long*>(key);
  };
  long key = 1;
  TUL_Object* found = TUL_search(list, is_value, &key);
  EXPECT_EQ(found, TUL_at(list, 1));
  EXPECT_EQ(found->ref_cnt, 1);  // lent, still the list's

  std::vector<long> seen;
  TUL_for_each(
      list,
      [](TUL_Object* element, void* data) -> void* {
        static_cast<std::vector<long>*>(data)->push_back(TUL_read_int(element));
        return nullptr;
      },
      &seen);
  EXPECT_EQ(seen, (std::vector<long>{3, 1, 2}));

  TUL_sort(list, [](const void* x, const void* y) {
    return static_cast<int>(TUL_read_int(*static_cast<TUL_Object* const*>(x)) -
                            TUL_read_int(*static_cast<TUL_Object* const*>(y)));
  });
  EXPECT_EQ(contents(list), (std::vector<long>{1, 2, 3}));
  TUL_free(stranger);
  TUL_free(list);
}

TEST_F(ListTest, FilterCopiesTheMatchingElementsIntoANewList) {
  TUL_Object* list = ints("IntSet", {1, 2, 3, 4});
  auto even = [](TUL_Object* element, void*) -> int { return TUL_read_int(element) % 2 == 0; };
  TUL_Object* filtered = TUL_filter(list, even, nullptr);
  ASSERT_NE(filtered, nullptr);
  EXPECT_STREQ(TUL_object_type(filtered), "IntSet");
  EXPECT_EQ(contents(filtered), (std::vector<long>{2, 4}));
  EXPECT_NE(TUL_at(filtered, 0), TUL_at(list, 1));  // copies
  EXPECT_EQ(TUL_size(list), 4);
  TUL_free(filtered);

  TUL_Object* none = TUL_filter(list, [](TUL_Object*, void*) -> int { return 0; }, nullptr);
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(TUL_size(none), 0);
  TUL_free(none);
  TUL_free(list);
}

TEST_F(ListTest, OperationsOnOtherValuesTraceAndGiveTheNeutralResult) {
  TUL_Object* value = integer(1);
  TUL_Object* list = ints("Ints", {});
  EXPECT_EQ(traced([&] { EXPECT_EQ(TUL_append(value, value), nullptr); }),
            "#07 an object from type 'INTEGER' is incompatibel with function 'TUL_append'\n");
  EXPECT_EQ(traced([&] { EXPECT_EQ(TUL_index_of(value, value), 0); }),
            "#07 an object from type 'INTEGER' is incompatibel with function 'TUL_index_of'\n");
  EXPECT_THAT(traced([&] { EXPECT_EQ(TUL_members(list), nullptr); }),
              HasSubstr("incompatibel with function 'TUL_members'"));
  // Null arguments are silent.
  EXPECT_EQ(traced([&] {
              EXPECT_EQ(TUL_append(nullptr, value), nullptr);
              EXPECT_EQ(TUL_append(list, nullptr), nullptr);
              EXPECT_EQ(TUL_index_of(list, nullptr), 0);
              EXPECT_EQ(TUL_at(nullptr, 0), nullptr);
              EXPECT_EQ(TUL_remove_at(nullptr, 0), nullptr);
              EXPECT_EQ(TUL_search(list, nullptr, nullptr), nullptr);
              EXPECT_EQ(TUL_filter(list, nullptr, nullptr), nullptr);
              TUL_for_each(list, nullptr, nullptr);
              TUL_sort(nullptr, nullptr);
              TUL_remove(list, nullptr);
            }),
            "");
  TUL_free(value);
  TUL_free(list);
}

TEST_F(ListTest, CopyEqualityAndEvaluate) {
  TUL_Object* list = ints("Ints", {1, 2});
  TUL_Object* copy = TUL_copy(list);
  ASSERT_EQ(copy->error, 0);
  EXPECT_TRUE(TUL_equal(copy, list));
  EXPECT_EQ(TUL_hash(copy), TUL_hash(list));
  TUL_Object* reversed = ints("Ints", {2, 1});
  EXPECT_FALSE(TUL_equal(reversed, list));  // order counts
  TUL_Object* shorter = ints("Ints", {1});
  EXPECT_FALSE(TUL_equal(shorter, list));
  TUL_Object* set = ints("IntSet", {2, 1});
  EXPECT_FALSE(TUL_equal(set, list));
  TUL_Object* scalar = integer(1);
  EXPECT_FALSE(TUL_equal(list, scalar));
  EXPECT_EQ(TUL_evaluate(list, nullptr), list);
  for (TUL_Object* v : {copy, reversed, shorter, set, scalar, list}) TUL_free(v);
}

}  // namespace
