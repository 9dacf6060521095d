// CHOICE: choosing by tag when decoding, the alternative's tag when encoding,
// the "name : value" notation, the two accessors, and the errors of each.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "support/dictionary_test.h"
#include "support/type_builder.h"

namespace {

using tul::test::decode_error_text;
using tul::test::decode_hex;
using tul::test::define_type;
using tul::test::encode_hex;
using tul::test::explicit_member;
using tul::test::implicit_member;
using tul::test::parse_error_text;
using tul::test::printed;
using tul::test::StderrCapture;

class ChoiceTest : public tul::test::DictionaryTest {
 protected:
  void SetUp() override {
    DictionaryTest::SetUp();
    // Pick ::= CHOICE { i INTEGER, b [0] IMPLICIT BOOLEAN, e [1] EXPLICIT INTEGER }
    define_type(md, "Pick", "CHOICE",
                {{"i", "INTEGER"}, implicit_member("b", "BOOLEAN", 0), explicit_member("e", "INTEGER", 1)});
  }
  TUL_Object* integer(int v) { return TUL_new("INTEGER", md, v); }
};

TEST_F(ChoiceTest, DecodesTheFirstAlternativeWhoseTagMatches) {
  struct Row {
    const char* hex;
    const char* member;
    const char* reencoded;
  };
  const Row rows[] = {
      {"02 01 07", "i", "02 01 07"},
      {"80 01 FF", "b", "80 01 FF"},
      {"A1 03 02 01 05", "e", "A1 03 02 01 05"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.hex);
    TUL_Object* v = decode_hex(md, "Pick", row.hex);
    ASSERT_NE(v, nullptr);
    ASSERT_EQ(v->error, 0) << text_of(v);
    EXPECT_STREQ(TUL_member_name(v), row.member);
    EXPECT_EQ(encode_hex(v), row.reencoded);
    TUL_free(v);
  }
  TUL_Object* v = decode_hex(md, "Pick", "02 01 07");
  EXPECT_EQ(TUL_read_int(TUL_read_choice(v)), 7);
  TUL_free(v);
}

TEST_F(ChoiceTest, DecodeErrors) {
  struct Row {
    const char* hex;
    const char* detail;
  };
  const Row rows[] = {
      {"04 01 00", "unable to associate tag value with choice alternative"},
      {"81 01 05", "constructed BER structure for EXPLICIT tag expected"},
      {"A1 00", "constructed BER structure for EXPLICIT tag expected"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.hex);
    EXPECT_EQ(decode_error_text(md, "Pick", row.hex),
              std::string("#17 decode error: '") + row.detail + "' in an object from type 'Pick'");
  }
}

TEST_F(ChoiceTest, AnAnyAlternativeTakesEveryElement) {
  define_type(md, "Open", "CHOICE", {{"any", "ANY"}, {"i", "INTEGER"}});
  TUL_Object* v = decode_hex(md, "Open", "02 01 07");
  ASSERT_EQ(v->error, 0) << text_of(v);
  EXPECT_STREQ(TUL_member_name(v), "any");
  TUL_free(v);
}

TEST_F(ChoiceTest, TaggedChoiceTypesAndNestedChoices) {
  // Outer ::= [APPLICATION 2] EXPLICIT CHOICE { p Pick, s [5] IMPLICIT OCTET STRING }
  define_type(md, "Outer", "CHOICE", {{"p", "Pick"}, implicit_member("s", "OCTET STRING", 5)},
              TUL_TAG_APPLICATION | TUL_TAG_EXPLICIT, 2);
  TUL_Object* v = decode_hex(md, "Outer", "62 03 80 01 00");
  ASSERT_EQ(v->error, 0) << text_of(v);
  EXPECT_STREQ(TUL_member_name(v), "p");
  EXPECT_STREQ(TUL_member_name(TUL_read_choice(v)), "b");
  EXPECT_EQ(printed(v), "Outer p : b : FALSE");
  EXPECT_EQ(encode_hex(v), "62 03 80 01 00");
  TUL_free(v);
}

TEST_F(ChoiceTest, EncodingWithNothingChosenFails) {
  TUL_Object* v = TUL_alloc("Pick", md);
  TUL_Object* result = TUL_encode(v);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->error, 16);
  EXPECT_EQ(text_of(result), "#16 encode error: the member '?\?\?' in an object from type 'Pick' is mandatory");
  EXPECT_STREQ(TUL_member_name(v), "?\?\?");
  EXPECT_EQ(TUL_read_choice(v), md->tmp_object);
  TUL_free(result);
  TUL_free(v);
}

TEST_F(ChoiceTest, InitChecksTheAlternativeAndTheValueType) {
  TUL_Object* v = TUL_new("Pick", md, "i", integer(3));
  ASSERT_EQ(v->error, 0);
  EXPECT_EQ(TUL_read_choice(v)->ref_cnt, 1);
  TUL_free(v);

  TUL_Object* result = TUL_new("Pick", md, "x", integer(3));
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->error, 6);
  EXPECT_EQ(text_of(result), "#06 no field 'x' in an object from type 'Pick'");
  TUL_free(result);

  result = TUL_new("Pick", md, "b", integer(3));
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->error, 15);
  EXPECT_EQ(text_of(result), "#15 this member is supposed to be from type 'BOOLEAN'");
  TUL_free(result);

  TUL_Object* failure = TUL_new("NoSuchType", md);
  EXPECT_EQ(TUL_new("Pick", md, "i", failure), failure);
  TUL_free(failure);
}

TEST_F(ChoiceTest, ParsesNameColonValue) {
  TUL_Object* v = TUL_parse_str(md, "Pick i : 7");
  ASSERT_EQ(v->error, 0) << text_of(v);
  EXPECT_EQ(TUL_read_int(TUL_read_choice(v)), 7);
  EXPECT_EQ(printed(v), "Pick i : 7");
  TUL_free(v);

  struct Row {
    const char* text;
    const char* message;
  };
  const Row rows[] = {
      {"Pick i 7", "#11 parse error: ':' expected between CHOICE alternative name and value, line: 1, last token: 7"},
      {"Pick x : 7", "#11 parse error: invalid alternative name in CHOICE, line: 1, last token: x"},
      {"Pick b : 7", "#11 parse error: TRUE or FALSE expected, line: 1, last token: 7"},
      {"Pick 7", "#11 parse error: local name (in SEQUENCE/SET or CHOICE) expected, line: 1, last token: 7"},
      {"Pick i :", "#20 EOF detected while parsing"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(parse_error_text(md, row.text), row.message);
  }
}

TEST_F(ChoiceTest, EqualOnlyForTheSameAlternativeWithEqualValues) {
  TUL_Object* i7 = TUL_new("Pick", md, "i", integer(7));
  TUL_Object* i7b = TUL_new("Pick", md, "i", integer(7));
  TUL_Object* e7 = TUL_new("Pick", md, "e", integer(7));
  TUL_Object* i8 = TUL_new("Pick", md, "i", integer(8));
  EXPECT_TRUE(TUL_equal(i7, i7b));
  EXPECT_EQ(TUL_hash(i7), TUL_hash(i7b));
  EXPECT_FALSE(TUL_equal(i7, e7));
  EXPECT_FALSE(TUL_equal(i7, i8));
  TUL_Object* copy = TUL_copy(e7);
  EXPECT_TRUE(TUL_equal(copy, e7));
  EXPECT_NE(TUL_read_choice(copy), TUL_read_choice(e7));
  EXPECT_EQ(TUL_size(copy), 1);
  TUL_Object* empty = TUL_alloc("Pick", md);
  TUL_Object* empty_copy = TUL_copy(empty);
  EXPECT_TRUE(TUL_equal(empty, empty_copy));
  EXPECT_FALSE(TUL_equal(empty, i7));
  for (TUL_Object* v : {i7, i7b, e7, i8, copy, empty, empty_copy}) TUL_free(v);
}

TEST_F(ChoiceTest, AccessorsRejectOtherValues) {
  TUL_Object* value = integer(1);
  StderrCapture capture;
  EXPECT_EQ(TUL_read_choice(value), nullptr);
  EXPECT_EQ(TUL_member_name(value), nullptr);
  EXPECT_EQ(TUL_read_choice(nullptr), nullptr);
  EXPECT_EQ(capture.take(),
            "#07 an object from type 'INTEGER' is incompatibel with function 'TUL_read_choice'\n"
            "#07 an object from type 'INTEGER' is incompatibel with function 'TUL_member_name'\n");
  TUL_free(value);
}

TEST_F(ChoiceTest, EvaluateReachesTheChosenValue) {
  TUL_Object* v = TUL_new("Pick", md, "i", integer(1));
  EXPECT_EQ(TUL_evaluate(v, nullptr), TUL_read_choice(v));
  TUL_free(v);
}

TEST_F(ChoiceTest, RecursiveChoiceIsBounded) {
  // R ::= CHOICE { r [0] EXPLICIT R, i INTEGER }: each level costs an element.
  define_type(md, "R", "CHOICE", {explicit_member("r", "R", 0), {"i", "INTEGER"}});
  std::string hex;
  const int depth = 3000;
  for (int i = 0; i < depth; ++i) hex += "A0 80 ";
  hex += "02 01 01 ";
  for (int i = 0; i < depth; ++i) hex += "00 00 ";
  TUL_Object* result = decode_hex(md, "R", hex);
  ASSERT_NE(result, nullptr);
  EXPECT_NE(result->error, 0);
  TUL_free(result);

  TUL_Object* v = decode_hex(md, "R", "A0 03 A0 03 02 01 01");
  ASSERT_NE(v, nullptr);
  EXPECT_NE(v->error, 0);  // a definite length that lies
  TUL_free(v);
  v = decode_hex(md, "R", "A0 05 A0 03 02 01 01");
  ASSERT_EQ(v->error, 0) << text_of(v);
  EXPECT_EQ(printed(v), "R r : r : i : 1");
  TUL_free(v);
}

}  // namespace
