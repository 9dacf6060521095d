// CHOICE: choosing by tag when decoding, the alternative's tag when encoding,
// the "name : value" notation, the two accessors, and the errors of each.
#include <gtest/gtest.h>

#include <string>

#include "support/dictionary_test.h"
#include "support/type_builder.h"

namespace {

using namespace tul::test;

class ChoiceTest : public DictionaryTest {
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
    TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  }
  TUL_Object* pick(const char* alternative, int v) {
    return TUL_new("Pick", md, alternative, TUL_new("INTEGER", md, v));
  }
};

std::string decode_error(const char* detail, const char* type = "Pick") { return decode_error_message(detail, type); }

TEST_F(ChoiceTest, DecodeAndParse) {
  const std::string not_ber = decode_error("octets are not BER (X.209) encoded", "BER-String");
  const std::string explicit_expected = decode_error("constructed BER structure for EXPLICIT tag expected");
  EXPECT_EQ(mismatches(md, {
      {"untagged alternative", "Pick", "02 01 07", "Pick i : 7"},
      {"IMPLICIT alternative", "Pick", "80 01 FF", "Pick b : TRUE"},
      {"EXPLICIT alternative", "Pick", "A1 03 02 01 05", "Pick e : 5"},
      {"no alternative has the tag", "Pick", "04 01 00",
       decode_error("unable to associate tag value with choice alternative")},
      {"EXPLICIT alternative, primitive element", "Pick", "81 01 05", explicit_expected},
      {"EXPLICIT alternative without a child", "Pick", "A1 00", explicit_expected},
      {"an ANY alternative first takes every element", "Open", "02 01 07", "Open any : ANY '020107'H"},
      {"tagged CHOICE type over a nested CHOICE", "Outer", "62 03 80 01 00", "Outer p : b : FALSE"},
      {"recursion through EXPLICIT tags", "R", "A0 05 A0 03 02 01 01", "R r : r : i : 1"},
      {"a definite length that lies", "R", "A0 03 A0 03 02 01 01", not_ber},
      {"recursion deeper than the bound", "R", repeated("A0 80 ", 3000) + "02 01 01" + repeated(" 00 00", 3000),
       not_ber},
      {"name colon value", nullptr, "Pick e:-1", "Pick e : -1"},
      {"colon missing", nullptr, "Pick i 7",
       parse_error_message("':' expected between CHOICE alternative name and value", "7")},
      {"unknown alternative", nullptr, "Pick x : 7", parse_error_message("invalid alternative name in CHOICE", "x")},
      {"value of the alternative's type", nullptr, "Pick b : 7", parse_error_message("TRUE or FALSE expected", "7")},
      {"name missing", nullptr, "Pick 7",
       parse_error_message("local name (in SEQUENCE/SET or CHOICE) expected", "7")},
  }), "");
}

TEST_F(ChoiceTest, InitChecksTheAlternativeAndTheValueType) {
  // The value is released either way.
  for (const char* alternative : {"x", "b"}) {
    TUL_Object* result = pick(alternative, 3);
    EXPECT_EQ(text_of(result), *alternative == 'x' ? "#06 no field 'x' in an object from type 'Pick'"
                                                   : "#15 this member is supposed to be from type 'BOOLEAN'");
    TUL_free(result);
  }
  TUL_Object* failure = TUL_new("NoSuchType", md);
  EXPECT_EQ(TUL_new("Pick", md, "i", failure), failure);
  TUL_free(failure);
}

TEST_F(ChoiceTest, AccessorsAndEquality) {
  TUL_Object* empty = TUL_alloc("Pick", md);
  EXPECT_STREQ(TUL_member_name(empty), "?\?\?");
  EXPECT_EQ(TUL_read_choice(empty), md->tmp_object);
  EXPECT_EQ(encode_hex(empty),
            "<error: #16 encode error: the member '?\?\?' in an object from type 'Pick' is mandatory>");
  TUL_Object* i7 = pick("i", 7);
  EXPECT_STREQ(TUL_member_name(i7), "i");
  EXPECT_EQ(TUL_read_choice(i7)->ref_cnt, 1);  // held by the CHOICE
  EXPECT_EQ(TUL_size(i7), 1);  // and not other alternatives
  EXPECT_EQ(TUL_evaluate(i7, nullptr), TUL_read_choice(i7));
  TUL_Object* copies[] = {TUL_copy(i7), TUL_copy(empty)};
  EXPECT_TRUE(TUL_equal(copies[0], i7));
  EXPECT_NE(TUL_read_choice(copies[0]), TUL_read_choice(i7));
  EXPECT_EQ(TUL_hash(copies[0]), TUL_hash(i7));
  EXPECT_TRUE(TUL_equal(copies[1], empty));
  for (TUL_Object* other : {pick("e", 7), pick("i", 8), TUL_alloc("Pick", md)}) {
    EXPECT_FALSE(TUL_equal(i7, other) || TUL_equal(other, i7)) << printed(other);
    TUL_free(other);
  }
  for (TUL_Object* v : {i7, empty, copies[0], copies[1]}) TUL_free(v);

  TUL_set_option(TUL_OPTION_TRACE_ERROR, 1);
  TUL_Object* integer = TUL_new("INTEGER", md, 1);
  StderrCapture capture;
  for (TUL_Object* other : {integer, static_cast<TUL_Object*>(nullptr)}) {
    EXPECT_EQ(TUL_read_choice(other), nullptr);
    EXPECT_EQ(TUL_member_name(other), nullptr);
  }
  EXPECT_EQ(capture.take(),
            "#07 an object from type 'INTEGER' is incompatibel with function 'TUL_read_choice'\n"
            "#07 an object from type 'INTEGER' is incompatibel with function 'TUL_member_name'\n");
  TUL_free(integer);
}

}  // namespace
