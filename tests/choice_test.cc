// CHOICE: choosing by tag when decoding, the alternative's tag when encoding,
// the "name : value" notation, the two accessors, and the errors of each.
#include <gtest/gtest.h>

#include <string>

#include "support/dictionary_test.h"
#include "support/type_builder.h"

namespace {

using tul::test::define_type;
using tul::test::encode_hex;
using tul::test::explicit_member;
using tul::test::implicit_member;
using tul::test::parse_error_message;
using tul::test::repeated;

class ChoiceTest : public tul::test::DictionaryTest {
 protected:
  void SetUp() override {
    DictionaryTest::SetUp();
    // Pick ::= CHOICE { i INTEGER, b [0] IMPLICIT BOOLEAN, e [1] EXPLICIT INTEGER }
    define_type(md, "Pick", "CHOICE",
                {{"i", "INTEGER"}, implicit_member("b", "BOOLEAN", 0), explicit_member("e", "INTEGER", 1)});
    define_type(md, "Open", "CHOICE", {{"any", "ANY"}, {"i", "INTEGER"}});
    // Outer ::= [APPLICATION 2] EXPLICIT CHOICE { p Pick, s [5] IMPLICIT OCTET STRING }
    define_type(md, "Outer", "CHOICE", {{"p", "Pick"}, implicit_member("s", "OCTET STRING", 5)},
                TUL_TAG_APPLICATION | TUL_TAG_EXPLICIT, 2);
    // R ::= CHOICE { r [0] EXPLICIT R, i INTEGER }: each level costs an element.
    define_type(md, "R", "CHOICE", {explicit_member("r", "R", 0), {"i", "INTEGER"}});
  }
  TUL_Object* pick(const char* alternative, TUL_Object* value) { return TUL_new("Pick", md, alternative, value); }
  TUL_Object* integer(int v) { return TUL_new("INTEGER", md, v); }
};

std::string decode_error(const char* detail, const char* type = "Pick") {
  return tul::test::decode_error_message(detail, type);
}
std::string parse_error(const char* detail, const char* token) { return tul::test::parse_error_message(detail, token); }

TEST_F(ChoiceTest, DecodeAndParse) {
  const std::string not_ber = decode_error("octets are not BER (X.209) encoded", "BER-String");
  const struct {
    const char* name;
    const char* type;  // decode the input as this type; null: parse the input
    std::string input;
    std::string expected;  // one-line print (" => " a different re-encoding) or error text
  } rows[] = {
      {"untagged alternative", "Pick", "02 01 07", "Pick i : 7"},
      {"IMPLICIT alternative", "Pick", "80 01 FF", "Pick b : TRUE"},
      {"EXPLICIT alternative", "Pick", "A1 03 02 01 05", "Pick e : 5"},
      {"no alternative has the tag", "Pick", "04 01 00",
       decode_error("unable to associate tag value with choice alternative")},
      {"EXPLICIT alternative, primitive element", "Pick", "81 01 05",
       decode_error("constructed BER structure for EXPLICIT tag expected")},
      {"EXPLICIT alternative without a child", "Pick", "A1 00",
       decode_error("constructed BER structure for EXPLICIT tag expected")},
      {"an ANY alternative first takes every element", "Open", "02 01 07", "Open any : ANY '020107'H"},
      {"tagged CHOICE type over a nested CHOICE", "Outer", "62 03 80 01 00", "Outer p : b : FALSE"},
      {"recursion through EXPLICIT tags", "R", "A0 05 A0 03 02 01 01", "R r : r : i : 1"},
      {"a definite length that lies", "R", "A0 03 A0 03 02 01 01", not_ber},
      {"recursion deeper than the bound", "R", repeated("A0 80 ", 3000) + "02 01 01" + repeated(" 00 00", 3000),
       not_ber},
      {"name colon value", nullptr, "Pick e:-1", "Pick e : -1"},
      {"colon missing", nullptr, "Pick i 7",
       parse_error("':' expected between CHOICE alternative name and value", "7")},
      {"unknown alternative", nullptr, "Pick x : 7", parse_error("invalid alternative name in CHOICE", "x")},
      {"value of the alternative's type", nullptr, "Pick b : 7", parse_error("TRUE or FALSE expected", "7")},
      {"name missing", nullptr, "Pick 7", parse_error("local name (in SEQUENCE/SET or CHOICE) expected", "7")},
      {"value missing", nullptr, "Pick i :", "#20 EOF detected while parsing"},
  };
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(tul::test::decode_or_parse(md, row.type, row.input), row.expected);
  }
}

TEST_F(ChoiceTest, InitChecksTheAlternativeAndTheValueType) {
  TUL_Object* v = pick("b", TUL_new("BOOLEAN", md, 1));
  EXPECT_STREQ(TUL_member_name(v), "b");
  EXPECT_EQ(TUL_read_choice(v)->ref_cnt, 1);  // held by the CHOICE
  TUL_free(v);

  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  for (const char* alternative : {"x", "b"}) {
    TUL_Object* result = pick(alternative, integer(3));  // the value is released either way
    EXPECT_EQ(text_of(result), *alternative == 'x' ? "#06 no field 'x' in an object from type 'Pick'"
                                                   : "#15 this member is supposed to be from type 'BOOLEAN'");
    TUL_free(result);
  }
  TUL_Object* failure = TUL_new("NoSuchType", md);
  EXPECT_EQ(pick("i", failure), failure);
  TUL_free(failure);
}

TEST_F(ChoiceTest, Accessors) {
  TUL_Object* empty = TUL_alloc("Pick", md);
  EXPECT_STREQ(TUL_member_name(empty), "?\?\?");
  EXPECT_EQ(TUL_read_choice(empty), md->tmp_object);
  EXPECT_EQ(encode_hex(empty),
            "<error: #16 encode error: the member '?\?\?' in an object from type 'Pick' is mandatory>");
  TUL_free(empty);

  TUL_Object* value = integer(1);
  tul::test::StderrCapture capture;
  EXPECT_EQ(TUL_read_choice(value), nullptr);
  EXPECT_EQ(TUL_member_name(value), nullptr);
  EXPECT_EQ(TUL_read_choice(nullptr), nullptr);
  EXPECT_EQ(TUL_member_name(nullptr), nullptr);
  EXPECT_EQ(capture.take(),
            "#07 an object from type 'INTEGER' is incompatibel with function 'TUL_read_choice'\n"
            "#07 an object from type 'INTEGER' is incompatibel with function 'TUL_member_name'\n");
  TUL_free(value);
}

TEST_F(ChoiceTest, EqualOnlyForTheSameAlternativeWithEqualValues) {
  TUL_Object* i7 = pick("i", integer(7));
  TUL_Object* e7 = pick("e", integer(7));
  TUL_Object* i8 = pick("i", integer(8));
  TUL_Object* empty = TUL_alloc("Pick", md);
  TUL_Object* copy = TUL_copy(i7);
  TUL_Object* empty_copy = TUL_copy(empty);
  EXPECT_TRUE(TUL_equal(copy, i7));
  EXPECT_NE(TUL_read_choice(copy), TUL_read_choice(i7));
  EXPECT_EQ(TUL_hash(copy), TUL_hash(i7));
  EXPECT_TRUE(TUL_equal(empty_copy, empty));
  EXPECT_FALSE(TUL_equal(i7, e7));
  EXPECT_FALSE(TUL_equal(i7, i8));
  EXPECT_FALSE(TUL_equal(empty, i7));
  EXPECT_EQ(TUL_size(i7), 1);
  EXPECT_EQ(TUL_evaluate(i7, nullptr), TUL_read_choice(i7));
  for (TUL_Object* v : {i7, e7, i8, empty, copy, empty_copy}) TUL_free(v);
}

}  // namespace
