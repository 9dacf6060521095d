// SEQUENCE OF and SET OF: the codec and value notation of lists, and the
// exported list operations with their ownership rules (adopt on insert, hand
// back on removal, lend on lookup) and their argument checks.
#include <gtest/gtest.h>

#include <string>

#include "support/dictionary_test.h"
#include "support/type_builder.h"

namespace {

using namespace tul::test;

void* ignore(TUL_Object*, void*) { return nullptr; }
int accept_all(TUL_Object*, void*) { return 1; }

class ListTest : public DictionaryTest {
 protected:
  void SetUp() override {
    DictionaryTest::SetUp();
    define_type(md, "Ints", "SEQUENCE OF", {{nullptr, "INTEGER"}});
    define_type(md, "IntSet", "SET OF", {{nullptr, "INTEGER"}});
    define_type(md, "Anys", "SEQUENCE OF", {{nullptr, "ANY"}});
    define_type(md, "Pair", "SEQUENCE", {{"a", "INTEGER"}, {"b", "Ints"}});
    define_type(md, "MyInt", "INTEGER");
  }

  TUL_Object* integer(int v) { return TUL_new("INTEGER", md, v); }
  TUL_Object* ints(const char* text) { return TUL_parse_str(md, text); }
  static std::string text(TUL_Object* list) { return one_line(printed(list)); }
};

TEST_F(ListTest, DecodeAndParse) {
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  EXPECT_EQ(mismatches(md, {
      {"elements in order", "Ints", "30 06 02 01 01 02 01 02", "Ints { 1, 2 }"},
      {"empty list", "Ints", "30 00", "Ints {}"},
      {"SET OF is written in list order, unsorted", "IntSet", "31 06 02 01 02 02 01 01", "IntSet { 2, 1 }"},
      {"element tags are not compared", "Ints", "30 03 04 01 41", "Ints { 65 } => 30 03 02 01 41"},
      {"primitive element", "Ints", "02 01 01",
       decode_error_message("constructed tag (SET/SEQUENCE OF) expected", "Ints")},
      {"ANY elements take their built-in type", "Anys", "30 06 02 01 05 01 01 FF", "Anys { INTEGER 5, BOOLEAN TRUE }"},
      {"a context-tagged ANY element has none", "Anys", "30 03 80 01 05", "<null>"},
      {"a failed element fails the whole decode", "Pair", "30 0A 02 01 01 30 05 02 01 01 02 00",
       decode_error_message("wrong encoding or data overflow", "INTEGER")},
      {"values and commas", nullptr, "Ints { 1, -2 ,3 }", "Ints { 1, -2, 3 }"},
      {"no values", nullptr, "IntSet {}", "IntSet {}"},
      {"brace missing", nullptr, "Ints 1", parse_error_message("'{' expected", "1")},
      {"comma missing", nullptr, "Ints { 1 2 }", parse_error_message("',' expected", "2")},
      {"comma before the brace", nullptr, "Ints { 1, }", parse_error_message("INTEGER/ENUMERATED value expected", "}")},
  }), "");
}

TEST_F(ListTest, OnlyValuesOfTheElementTypeItselfGetIn) {
  TUL_Object* list = TUL_new("Ints", md, 3, integer(1), nullptr, integer(3));  // null arguments skipped
  const std::string rejected = "#15 this member is supposed to be from type 'INTEGER'";
  for (const char* type : {"BOOLEAN", "MyInt"}) {
    SCOPED_TRACE(type);
    TUL_Object* value = TUL_new(type, md, 1);
    TUL_Object* appended = nullptr;
    EXPECT_EQ(traced([&] {
                appended = TUL_append(list, value);
                EXPECT_EQ(TUL_insert_at(list, 0, value), list);
                EXPECT_EQ(TUL_replace_at(list, 0, value), nullptr);
              }),
              rejected + "\n" + rejected + "\n" + rejected + "\n");
    EXPECT_EQ(text_of(appended), rejected);
    TUL_free(appended);
    EXPECT_EQ(value->ref_cnt, 0);  // never adopted
    // Init releases the rejected value and every later argument.
    appended = TUL_new("Ints", md, 3, integer(1), value, integer(3));
    EXPECT_EQ(text_of(appended), rejected);
    TUL_free(appended);
  }
  EXPECT_EQ(text(list), "Ints { 1, 3 }");
  TUL_Object* anys = TUL_new("Anys", md, 0);
  EXPECT_EQ(TUL_append(anys, TUL_new("BOOLEAN", md, 1)), anys);
  TUL_free(anys);
  TUL_free(list);
}

TEST_F(ListTest, IndexesAndOwnership) {
  TUL_Object* list = ints("Ints { 10, 30 }");
  EXPECT_EQ(TUL_insert_at(list, 1, integer(20)), list);
  EXPECT_EQ(TUL_insert_at(list, 3, integer(40)), list);  // at the size: appends
  TUL_Object* value = integer(5);
  const std::string out_of_range = "#08 the specified index is out of range";
  EXPECT_EQ(traced([&] {
              for (long bad : {-1L, 5L}) EXPECT_EQ(TUL_insert_at(list, bad, value)->error, 2) << bad;
              TUL_Object* at = TUL_at(list, 4);
              EXPECT_EQ(text_of(at), out_of_range);
              TUL_free(at);
              EXPECT_EQ(TUL_remove_at(list, 4), nullptr);
              EXPECT_EQ(TUL_replace_at(list, -1, value), nullptr);
            }),
            "#02 memory allocation error\n#02 memory allocation error\n" + out_of_range + "\n" + out_of_range + "\n" +
                out_of_range + "\n");
  EXPECT_EQ(value->ref_cnt, 0);
  EXPECT_EQ(text(list), "Ints { 10, 20, 30, 40 }");

  // Replacing adopts the new value and hands the previous one back.
  TUL_Object* previous = TUL_at(list, 0);
  EXPECT_EQ(TUL_replace_at(list, 0, value), previous);
  EXPECT_EQ(previous->ref_cnt, 0);
  EXPECT_EQ(value->ref_cnt, 1);
  TUL_free(previous);  // the caller's now: released
  TUL_free(value);     // still the list's: nothing happens
  EXPECT_EQ(TUL_remove_at(list, 0), value);
  EXPECT_EQ(value->ref_cnt, 0);
  TUL_free(value);
  TUL_Object* thirty = TUL_at(list, 1);
  TUL_remove(list, thirty);
  EXPECT_EQ(thirty->ref_cnt, 0);
  TUL_remove(list, thirty);  // absent: nothing changes
  TUL_free(thirty);
  EXPECT_EQ(text(list), "Ints { 20, 40 }");

  // A value held twice by the list and once by a SEQUENCE lives until the
  // last holder lets go (the sanitizer checks).
  TUL_Object* shared = integer(42);
  TUL_Object* pair = TUL_new("Pair", md, shared, nullptr);
  ASSERT_EQ(TUL_append(list, shared), list);
  ASSERT_EQ(TUL_append(list, shared), list);
  EXPECT_EQ(shared->ref_cnt, 3);
  EXPECT_EQ(TUL_index_of(list, shared), 2);
  TUL_free(list);
  EXPECT_EQ(shared->ref_cnt, 1);
  TUL_free(pair);
}

TEST_F(ListTest, LookupsLendWhileFilterAndCopyDuplicate) {
  TUL_Object* list = ints("IntSet { 3, 4, 1, 2 }");
  TUL_Object* four = TUL_at(list, 1);
  TUL_Object* stranger = integer(4);  // an equal value, another object
  EXPECT_EQ(TUL_is_element(list, four), 1);
  EXPECT_EQ(TUL_is_element(list, stranger), 0);
  EXPECT_EQ(TUL_index_of(list, stranger), -1);
  auto even = [](TUL_Object* element, void*) -> int { return TUL_read_int(element) % 2 == 0; };
  EXPECT_EQ(TUL_search(list, even, nullptr), four);
  EXPECT_EQ(four->ref_cnt, 1);  // lent
  TUL_free(stranger);

  long seen = 0;  // the elements as the digits of a number, in visiting order
  auto note = [](TUL_Object* element, void* data) -> void* {
    *static_cast<long*>(data) = *static_cast<long*>(data) * 10 + TUL_read_int(element);
    return nullptr;
  };
  TUL_for_each(list, note, &seen);
  EXPECT_EQ(seen, 3412);
  TUL_sort(list, [](const void* x, const void* y) {
    return static_cast<int>(TUL_read_int(*static_cast<TUL_Object* const*>(x)) -
                            TUL_read_int(*static_cast<TUL_Object* const*>(y)));
  });
  EXPECT_EQ(text(list), "IntSet { 1, 2, 3, 4 }");

  // Filtering copies the matches into a new list of the same type.
  TUL_Object* evens = TUL_filter(list, even, nullptr);
  EXPECT_EQ(printed(evens), "IntSet {\n    2,\n    4\n}");  // one element per line
  EXPECT_NE(TUL_at(evens, 0), TUL_at(list, 1));
  TUL_Object* none = TUL_filter(list, [](TUL_Object*, void*) -> int { return 0; }, nullptr);
  EXPECT_EQ(printed(none), "IntSet {}");
  EXPECT_EQ(TUL_size(list), 4);

  TUL_Object* copy = TUL_copy(list);
  EXPECT_TRUE(TUL_equal(list, copy));
  EXPECT_EQ(TUL_hash(list), TUL_hash(copy));
  EXPECT_EQ(TUL_evaluate(list, nullptr), list);
  // Order counts, so does the length, and a value of another kind never equals.
  for (TUL_Object* other : {ints("IntSet { 2, 1, 3, 4 }"), ints("IntSet { 1, 2, 3 }"), integer(1)}) {
    EXPECT_FALSE(TUL_equal(list, other)) << printed(other);
    TUL_free(other);
  }
  for (TUL_Object* v : {evens, none, copy, list}) TUL_free(v);
}

TEST_F(ListTest, OperationsOnOtherValuesTraceAndNullArgumentsAreSilent) {
  using Call = void (*)(TUL_Object* list, TUL_Object* value);
  const struct { const char* operation; Call call; } rows[] = {
      {"append", [](TUL_Object* l, TUL_Object* v) { TUL_append(l, v); }},
      {"insert_at", [](TUL_Object* l, TUL_Object* v) { TUL_insert_at(l, 0, v); }},
      {"replace_at", [](TUL_Object* l, TUL_Object* v) { TUL_replace_at(l, 0, v); }},
      {"remove_at", [](TUL_Object* l, TUL_Object*) { TUL_remove_at(l, 0); }},
      {"remove", [](TUL_Object* l, TUL_Object* v) { TUL_remove(l, v); }},
      {"at", [](TUL_Object* l, TUL_Object*) { TUL_at(l, 0); }},
      {"index_of", [](TUL_Object* l, TUL_Object* v) { EXPECT_EQ(TUL_index_of(l, v), 0); }},
      {"is_element", [](TUL_Object* l, TUL_Object* v) { TUL_is_element(l, v); }},
      {"for_each", [](TUL_Object* l, TUL_Object*) { TUL_for_each(l, ignore, nullptr); }},
      {"search", [](TUL_Object* l, TUL_Object*) { TUL_search(l, accept_all, nullptr); }},
      {"sort", [](TUL_Object* l, TUL_Object*) { TUL_sort(l, [](const void*, const void*) { return 0; }); }},
      {"filter", [](TUL_Object* l, TUL_Object*) { TUL_filter(l, accept_all, nullptr); }},
  };
  TUL_Object* value = integer(1);
  TUL_Object* list = ints("Ints { 1 }");
  std::string log;
  for (const auto& row : rows)
    log += std::string("#07 an object from type 'INTEGER' is incompatibel with function 'TUL_") + row.operation + "'\n";
  EXPECT_EQ(traced([&] {
              for (const auto& row : rows) row.call(value, value);
              EXPECT_EQ(TUL_members(list), nullptr);
            }),
            log + "#07 an object from type 'Ints' is incompatibel with function 'TUL_members'\n");
  EXPECT_EQ(traced([&] {
              for (const auto& row : rows) row.call(nullptr, value);
              EXPECT_EQ(TUL_append(list, nullptr), nullptr);
              EXPECT_EQ(TUL_search(list, nullptr, nullptr), nullptr);
              TUL_for_each(list, nullptr, nullptr);
            }),
            "");
  TUL_free(value);
  TUL_free(list);
}

}  // namespace
