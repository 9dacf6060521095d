// CMIS filter evaluation and checks, with the bundled filter types bound to
// the library's filter behaviours, against one attribute list.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "support/defs_file.h"
#include "support/dictionary_test.h"
#include "support/value.h"

namespace tul::test {
namespace {

constexpr const char* kList =
    "AttributeList {"
    " { attributeId { 1 1 }, attributeValue INTEGER 7 },"
    " { attributeId { 1 2 }, attributeValue IA5String \"abc\" },"
    " { attributeId { 1 3 }, attributeValue PerceivedSeverity major },"
    " { attributeId { 1 4 }, attributeValue ObjectClass globalForm : { 1 2 3 4 } },"
    " { attributeId { 1 5 }, attributeValue ObjectInstance distinguishedName : { { { attributeType { 2 1 }, attributeValue"
    " INTEGER 1 } }, { { attributeType { 2 2 }, attributeValue INTEGER 2 } }, { { attributeType { 2 3 }, attributeValue"
    " INTEGER 3 } }, { { attributeType { 2 4 }, attributeValue INTEGER 4 } } } },"
    " { attributeId { 1 6 }, attributeValue Ints { 1, 2, 3 } },"
    " { attributeId { 1 7 }, attributeValue REAL 2.5 },"
    " { attributeId { 1 8 }, attributeValue Wrapped number : 12 } }";

// An item asserting `value` of attribute { 1 `attribute` }.
std::string item(const std::string& alternative, int attribute, const std::string& value) {
  return "item : " + alternative + " : { attributeId { 1 " + std::to_string(attribute) + " }, attributeValue " + value +
         " }";
}

std::string substring(const std::string& alternative, int attribute, const std::string& text) {
  return alternative + " : { attributeId { 1 " + std::to_string(attribute) + " }, string IA5String \"" + text + "\" }";
}

// Records the data the "frequency" action was called with.
void* frequency_data = nullptr;
void* frequency(TUL_Object*, void* data) {
  frequency_data = data;
  return reinterpret_cast<void*>(1);
}

class FilterTest : public DictionaryTest {
 public:
  void SetUp() override {
    DictionaryTest::SetUp();
    ASSERT_EQ(load_definitions_file(md, example_path("cmip.defs")), "");
    ASSERT_EQ(load_definitions_file(md, example_path("cmisfilter.defs")), "");
    enter("TUL.Asn1 { name 'Ints', type 'SET OF', fields { { type 'INTEGER' } } }");
    enter("TUL.Asn1 { name 'Wrapped', type 'CHOICE', fields { { name 'number', type 'INTEGER' } } }");
    TUL_register(md, "CMISFilter", "evaluate", reinterpret_cast<void*>(TUL_CMISFilter_evaluate));
    TUL_register(md, "FilterItem", "evaluate", reinterpret_cast<void*>(TUL_FilterItem_evaluate));
    TUL_register(md, "SubstringsChoice", "evaluate", reinterpret_cast<void*>(TUL_SubstringsChoice_evaluate));
    TUL_register(md, "CMISFilter", "check", reinterpret_cast<void*>(TUL_CMISFilter_check));
    TUL_register(md, "FilterItem", "check", reinterpret_cast<void*>(TUL_FilterItem_check));
    TUL_register(md, "FilterItem", "frequency", reinterpret_cast<void*>(frequency));
    list.reset(TUL_parse_str(md, kList));
    ASSERT_TRUE(ok(list)) << text_of(list.get());
  }
  void TearDown() override {
    list.reset();
    DictionaryTest::TearDown();
  }

  Value filter(const std::string& text) {
    Value f(TUL_parse_str(md, ("CMISFilter " + text).c_str()));
    EXPECT_TRUE(ok(f)) << text << ": " << text_of(f.get());
    return f;
  }

  intptr_t evaluate(const std::string& text) {
    Value f = filter(text);
    return reinterpret_cast<intptr_t>(TUL_evaluate(f.get(), list.get()));
  }

  intptr_t check(const std::string& text) {
    Value f = filter(text);
    return reinterpret_cast<intptr_t>(TUL_action("check", f.get(), nullptr));
  }

  // A filter, and the result it must give.
  struct Row {
    const char* name;
    std::string filter;
    intptr_t expected;
  };

  template <size_t N>
  void expect_rows(const Row (&rows)[N], intptr_t (FilterTest::*run)(const std::string&)) {
    for (const Row& row : rows) {
      SCOPED_TRACE(row.name);
      EXPECT_EQ((this->*run)(row.filter), row.expected);
    }
  }

  Value list;
};

TEST_F(FilterTest, ItemsAndTheirCombinations) {
  const std::string yes = item("equality", 1, "INTEGER 7");
  const std::string no = item("equality", 1, "INTEGER 8");
  const Row rows[] = {
      {"equality", yes, 1},
      {"equality, other value", no, 0},
      {"equality of values of different basic types", item("equality", 1, "IA5String \"7\""), 0},
      {"equality on an attribute the list lacks", item("equality", 99, "INTEGER 7"), 0},
      {"a CHOICE attribute is compared by its chosen value", item("equality", 8, "INTEGER 12"), 1},
      {"a CHOICE filter value likewise", item("equality", 1, "Wrapped number : 7"), 1},
      {"present", "item : present : { 1 3 }", 1},
      {"present, absent attribute", "item : present : { 1 99 }", 0},
      {"10 >= 7", item("greaterOrEqual", 1, "INTEGER 10"), 1},
      {"10 <= 7", item("lessOrEqual", 1, "INTEGER 10"), 0},
      {"7 >= 7", item("greaterOrEqual", 1, "INTEGER 7"), 1},
      {"7 <= 7", item("lessOrEqual", 1, "INTEGER 7"), 1},
      {"5 <= 7", item("lessOrEqual", 1, "INTEGER 5"), 1},
      {"\"abd\" >= \"abc\"", item("greaterOrEqual", 2, "IA5String \"abd\""), 1},
      {"\"abcz\" >= \"abc\"", item("greaterOrEqual", 2, "IA5String \"abcz\""), 1},
      {"\"ab\" >= \"abc\" compares only the filter's two bytes", item("greaterOrEqual", 2, "IA5String \"ab\""), 1},
      {"\"abb\" >= \"abc\"", item("greaterOrEqual", 2, "IA5String \"abb\""), 0},
      {"ENUMERATED is not ordered", item("greaterOrEqual", 3, "PerceivedSeverity critical"), 0},
      {"REAL is not ordered", item("lessOrEqual", 7, "REAL 1.5"), 0},
      {"class 1 2 3 is an ancestor of 1 2 3 4", item("lessOrEqual", 4, "ObjectClass globalForm : { 1 2 3 }"), 1},
      {"class 1 2 3 4 5 is none", item("lessOrEqual", 4, "ObjectClass globalForm : { 1 2 3 4 5 }"), 0},
      {"class 1 2 4 is none", item("lessOrEqual", 4, "ObjectClass globalForm : { 1 2 4 }"), 0},
      {"enterprise prefix", item("lessOrEqual", 4, "Enterprise { 1 2 }"), 1},
      {"a name that begins the attribute's name",
       item("lessOrEqual", 5,
            "ObjectInstance distinguishedName : { { { attributeType { 2 1 }, attributeValue INTEGER 1 } },"
            " { { attributeType { 2 2 }, attributeValue INTEGER 2 } } }"),
       1},
      {"a name that does not",
       item("lessOrEqual", 5,
            "ObjectInstance distinguishedName : { { { attributeType { 2 2 }, attributeValue INTEGER 2 } } }"),
       0},
      {"subsetOf {1, 3}", item("subsetOf", 6, "Ints { 3, 1 }"), 1},
      {"subsetOf {1, 4}", item("subsetOf", 6, "Ints { 1, 4 }"), 0},
      {"supersetOf {1, 3}", item("supersetOf", 6, "Ints { 1, 3 }"), 0},
      {"supersetOf {1, 2, 3, 4}", item("supersetOf", 6, "Ints { 4, 3, 2, 1 }"), 1},
      {"nonNullSetIntersection {9, 3}", item("nonNullSetIntersection", 6, "Ints { 9, 3 }"), 1},
      {"nonNullSetIntersection {9}", item("nonNullSetIntersection", 6, "Ints { 9 }"), 0},
      {"initialString", "item : substrings : { " + substring("initialString", 2, "ab") + " }", 1},
      {"finalString", "item : substrings : { " + substring("finalString", 2, "bc") + " }", 1},
      {"anyString", "item : substrings : { " + substring("anyString", 2, "zz") + " }", 0},
      {"longer than the attribute", "item : substrings : { " + substring("initialString", 2, "abcd") + " }", 0},
      {"all substrings must hold",
       "item : substrings : { " + substring("initialString", 2, "a") + ", " + substring("anyString", 2, "x") + " }", 0},
      {"substrings of a number", "item : substrings : { " + substring("anyString", 1, "7") + " }", 0},
      {"and of none", "and : { }", 1},
      {"or of none", "or : { }", 0},
      {"not of an empty and", "not : and : { }", 0},
      {"and", "and : { " + yes + ", " + yes + " }", 1},
      {"and with one false", "and : { " + yes + ", " + no + " }", 0},
      {"or with one true", "or : { " + no + ", " + yes + " }", 1},
      {"not", "not : " + no, 1},
      {"nested", "not : or : { and : { " + yes + ", not : " + yes + " }, " + no + " }", 1},
      {"an event window is true without any attribute", item("equality", 99, "EventWindow 60"), 1},
  };
  expect_rows(rows, &FilterTest::evaluate);
}

TEST_F(FilterTest, EventWindowHoldsForAnEmptyList) {
  Value empty(TUL_parse_str(md, "AttributeList { }"));
  Value f = filter(item("equality", 1, "EventWindow 60"));
  EXPECT_EQ(TUL_evaluate(f.get(), empty.get()), reinterpret_cast<void*>(1));
  EXPECT_EQ(TUL_CMISFilter_evaluate(f.get(), nullptr), nullptr);
}

// EventsPerWindow items ask the application's "frequency" action, which
// receives the innermost "and" set through the list's `specific` field.
TEST_F(FilterTest, FrequencyHookSeesTheInnermostAnd) {
  const std::string rate = item("greaterOrEqual", 99, "EventsPerWindow 5");
  Value f = filter("and : { " + item("equality", 1, "INTEGER 7") + ", and : { " + rate + " } }");
  frequency_data = nullptr;
  EXPECT_EQ(TUL_evaluate(f.get(), list.get()), reinterpret_cast<void*>(1));
  TUL_Object* outer = TUL_read_choice(f.get());
  TUL_Object* inner = TUL_read_choice(TUL_at(outer, 1));
  EXPECT_EQ(frequency_data, inner);
  EXPECT_EQ(list->specific, inner);
  for (const char* alternative : {"equality", "lessOrEqual"}) {
    frequency_data = nullptr;
    list->specific = nullptr;
    EXPECT_EQ(evaluate(item(alternative, 99, "EventsPerWindow 5")), 1) << alternative;
    EXPECT_EQ(frequency_data, nullptr);
  }
}

TEST_F(FilterTest, Checks) {
  const Row rows[] = {
      {"equality of anything", item("equality", 3, "REAL 1.5"), 1},
      {"present", "item : present : { 1 3 }", 1},
      {"ordering numbers", item("greaterOrEqual", 1, "INTEGER 1"), 1},
      {"ordering strings", item("lessOrEqual", 2, "IA5String \"a\""), 1},
      {"ordering ENUMERATED", item("greaterOrEqual", 3, "PerceivedSeverity major"), 0},
      {"ordering REAL", item("lessOrEqual", 7, "REAL 1.5"), 0},
      {"ancestry of classes", item("lessOrEqual", 4, "ObjectClass globalForm : { 1 2 }"), 1},
      {"ancestry is lessOrEqual only", item("greaterOrEqual", 4, "ObjectClass globalForm : { 1 2 }"), 0},
      {"set comparison with a SET OF", item("subsetOf", 6, "Ints { 1 }"), 1},
      {"set comparison with a number", item("subsetOf", 6, "INTEGER 1"), 0},
      {"substrings of strings", "item : substrings : { " + substring("anyString", 2, "b") + " }", 1},
      {"substrings of a number",
       "item : substrings : { anyString : { attributeId { 1 2 }, string INTEGER 3 } }", 0},
      {"and of good items", "and : { " + item("equality", 1, "INTEGER 1") + ", not : item : present : { 1 1 } }", 1},
      {"or with one bad item", "or : { " + item("equality", 1, "INTEGER 1") + ", " + item("subsetOf", 6, "INTEGER 1") +
       " }", 0},
      {"and of none", "and : { }", 1},
  };
  expect_rows(rows, &FilterTest::check);
}

// Thousands of levels: evaluation and check stop at their nesting bound
// and answer false.
TEST_F(FilterTest, DeepNestingIsFalse) {
  Value f = filter(item("equality", 1, "INTEGER 7"));
  TUL_Object* deep = f.release();
  for (int i = 0; i < 3000; ++i) {
    Value set(TUL_alloc("CMISFilterSet", md));
    ASSERT_EQ(TUL_append(set.get(), deep), set.get());
    deep = TUL_new("CMISFilter", md, "and", set.release());
    ASSERT_TRUE(deep && !deep->error);
  }
  Value top(deep);
  StderrCapture capture;
  EXPECT_EQ(TUL_evaluate(top.get(), list.get()), nullptr);
  EXPECT_EQ(TUL_action("check", top.get(), nullptr), nullptr);
  EXPECT_NE(capture.take().find("#05"), std::string::npos);
}

}  // namespace
}  // namespace tul::test
