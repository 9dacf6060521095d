// SEQUENCE and SET: member matching when decoding (in order, greedy, by tag),
// OPTIONAL members, EXPLICIT member tags, ANY and ANY DEFINED BY members,
// encoding, the value notation, copy/equal/hash, sharing by reference count,
// and hostile input.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/dictionary_test.h"
#include "support/type_builder.h"

namespace {

using ::testing::HasSubstr;
using tul::test::decode_error_text;
using tul::test::decode_hex;
using tul::test::define_type;
using tul::test::encode_hex;
using tul::test::explicit_member;
using tul::test::FailNthAllocation;
using tul::test::implicit_member;
using tul::test::parse_error_text;
using tul::test::printed;
using tul::test::StderrCapture;

class StructTest : public tul::test::DictionaryTest {
 protected:
  void SetUp() override {
    DictionaryTest::SetUp();
    // T ::= SEQUENCE { a INTEGER, b [0] IMPLICIT INTEGER OPTIONAL, c BOOLEAN }
    define_type(md, "T", "SEQUENCE",
                {{"a", "INTEGER"}, implicit_member("b", "INTEGER", 0, TUL_OPTIONAL), {"c", "BOOLEAN"}});
    // U ::= SET { x [0] EXPLICIT INTEGER, y [1] EXPLICIT INTEGER }
    define_type(md, "U", "SET", {explicit_member("x", "INTEGER", 0), explicit_member("y", "INTEGER", 1)});
    define_type(md, "Pick", "CHOICE", {{"i", "INTEGER"}, implicit_member("b", "BOOLEAN", 0)});
  }

  TUL_Object* integer(int v) { return TUL_new("INTEGER", md, v); }
  TUL_Object* boolean(int v) { return TUL_new("BOOLEAN", md, v); }
  long member_int(TUL_Object* seq, const char* member) { return TUL_read_int(TUL_assoc(seq, member)); }

  // Decodes `hex` as `type` and expects the decode error 17 with `detail`.
  void expect_decode_error(const char* type, const std::string& hex, const std::string& detail) {
    EXPECT_EQ(decode_error_text(md, type, hex),
              "#17 decode error: '" + detail + "' in an object from type '" + type + "'");
  }
};

TEST_F(StructTest, DecodesMembersInOrderWithOptionalMembers) {
  struct Row {
    const char* name;
    const char* hex;
    long a;
    long b;  // -1: absent
    int c;
  };
  const Row rows[] = {
      {"optional member absent", "30 06 02 01 01 01 01 FF", 1, -1, 1},
      {"optional member present", "30 09 02 01 01 80 01 02 01 01 FF", 1, 2, 1},
      {"indefinite length", "30 80 02 01 07 01 01 00 00 00", 7, -1, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TUL_Object* v = decode_hex(md, "T", row.hex);
    ASSERT_NE(v, nullptr);
    ASSERT_EQ(v->error, 0) << text_of(v);
    EXPECT_EQ(member_int(v, "a"), row.a);
    if (row.b < 0)
      EXPECT_EQ(TUL_assoc(v, "b"), nullptr);
    else
      EXPECT_EQ(member_int(v, "b"), row.b);
    EXPECT_EQ(TUL_read_bool(TUL_assoc(v, "c")) != 0, row.c != 0);
    TUL_free(v);
  }
}

TEST_F(StructTest, EveryDecodeErrorMessage) {
  define_type(md, "E", "SEQUENCE", {explicit_member("x", "INTEGER", 1)});
  struct Row {
    const char* type;
    const char* hex;
    const char* detail;
  };
  const Row rows[] = {
      {"T", "30 03 02 01 01", "missing SEQUENCE element"},
      {"T", "30 03 04 01 00", "unexpected member tag found"},
      {"T", "02 01 01", "constructed tag (SEQUENCE) expected"},
      {"E", "30 03 81 01 05", "constructed tag for EXPLICIT member tag expected"},
      {"E", "30 02 A1 00", "constructed tag for EXPLICIT member tag expected"},
      {"U", "31 05 A2 03 02 01 05", "unable to associate tag value with set member"},
      {"U", "31 03 80 01 05", "constructed tag for EXPLICIT tag expected"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.hex);
    expect_decode_error(row.type, row.hex, row.detail);
  }
}

TEST_F(StructTest, SurplusElementsAreReportedAndIgnored) {
  StderrCapture capture;
  TUL_Object* v = decode_hex(md, "T", "30 09 02 01 01 01 01 FF 02 01 09");
  std::string trace = capture.take();
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->error, 0);
  EXPECT_EQ(trace, "#17 decode error: 'extra element(s) in BER string for SEQUENCE ignored' in an object "
                   "from type 'T'\n");
  TUL_free(v);
}

TEST_F(StructTest, MatchingIsGreedyAndNeverBacktracks) {
  // G ::= SEQUENCE { a INTEGER OPTIONAL, b INTEGER }: the one INTEGER goes to
  // a, so b is missing although giving it to b would have worked.
  define_type(md, "G", "SEQUENCE", {{"a", "INTEGER", 0, 0, TUL_OPTIONAL}, {"b", "INTEGER"}});
  expect_decode_error("G", "30 03 02 01 07", "missing SEQUENCE element");
  TUL_Object* v = decode_hex(md, "G", "30 06 02 01 07 02 01 08");
  ASSERT_EQ(v->error, 0);
  EXPECT_EQ(member_int(v, "a"), 7);
  EXPECT_EQ(member_int(v, "b"), 8);
  TUL_free(v);
}

TEST_F(StructTest, SetDecodesOutOfOrderAndKeepsTheLastOfRepeatedMembers) {
  TUL_Object* v = decode_hex(md, "U", "31 0A A1 03 02 01 07 A0 03 02 01 05");
  ASSERT_EQ(v->error, 0) << text_of(v);
  EXPECT_EQ(member_int(v, "x"), 5);
  EXPECT_EQ(member_int(v, "y"), 7);
  TUL_free(v);

  v = decode_hex(md, "U", "31 0A A0 03 02 01 05 A0 03 02 01 06");
  ASSERT_EQ(v->error, 0);
  EXPECT_EQ(member_int(v, "x"), 6);
  EXPECT_EQ(TUL_assoc(v, "y"), nullptr);  // a SET does not report missing members
  TUL_free(v);

  v = decode_hex(md, "U", "31 00");
  ASSERT_EQ(v->error, 0);
  EXPECT_EQ(TUL_assoc(v, "x"), nullptr);
  EXPECT_EQ(TUL_assoc(v, "y"), nullptr);
  TUL_free(v);
}

TEST_F(StructTest, SetOnAPrimitiveElementOnlyTraces) {
  StderrCapture capture;
  EXPECT_EQ(decode_hex(md, "U", "02 01 05"), nullptr);
  EXPECT_EQ(capture.take(), "#17 decode error: 'constructed tag (SET) expected' in an object from type 'U'\n");
}

TEST_F(StructTest, ChoiceMemberMatchesThroughItsAlternatives) {
  // N ::= SEQUENCE { p Pick OPTIONAL, z BOOLEAN, q Pick }
  define_type(md, "N", "SEQUENCE", {{"p", "Pick", 0, 0, TUL_OPTIONAL}, {"z", "BOOLEAN"}, {"q", "Pick"}});
  TUL_Object* v = decode_hex(md, "N", "30 09 01 01 FF 80 01 00 02 01 2A");
  ASSERT_EQ(v->error, 0) << text_of(v);
  // z's BOOLEAN matches no alternative of p, so p stays absent; the
  // [0] element after z is q's alternative b.
  EXPECT_EQ(TUL_assoc(v, "p"), nullptr);
  EXPECT_STREQ(TUL_member_name(TUL_assoc(v, "q")), "b");
  TUL_free(v);
  expect_decode_error("N", "30 06 01 01 FF 04 01 00", "unexpected member tag found");

  v = decode_hex(md, "N", "30 09 02 01 03 01 01 00 80 01 FF");
  ASSERT_EQ(v->error, 0) << text_of(v);
  EXPECT_STREQ(TUL_member_name(TUL_assoc(v, "p")), "i");
  EXPECT_EQ(TUL_read_int(TUL_read_choice(TUL_assoc(v, "p"))), 3);
  EXPECT_EQ(encode_hex(v), "30 09 02 01 03 01 01 00 80 01 FF");
  TUL_free(v);
}

TEST_F(StructTest, AnyAndAnyDefinedByMembers) {
  // A ::= SEQUENCE { id OBJECT IDENTIFIER, v ANY DEFINED BY id, w ANY OPTIONAL }
  define_type(md, "A", "SEQUENCE",
              {{"id", "OBJECT IDENTIFIER"},
               {"v", "ANY DEFINED BY", 0, 0, TUL_MANDATORY, "id"},
               {"w", "ANY", 0, 0, TUL_OPTIONAL}});
  struct Row {
    const char* name;
    const char* hex;
    const char* v_type;
  };
  const Row rows[] = {
      {"unregistered identifier, universal element", "30 07 06 02 2A 03 02 01 05", "INTEGER"},
      {"unregistered identifier, SEQUENCE element", "30 09 06 02 2A 03 30 03 02 01 05", "BER-String"},
      {"context-tagged element", "30 07 06 02 2A 03 80 01 05", "BER-String"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TUL_Object* v = decode_hex(md, "A", row.hex);
    ASSERT_EQ(v->error, 0) << text_of(v);
    EXPECT_STREQ(TUL_object_type(TUL_assoc(v, "v")), row.v_type);
    EXPECT_EQ(tul::test::encode_hex(v), std::string(row.hex));
    TUL_free(v);
  }
  // An ANY member keeps the whole element, whatever its tag.
  TUL_Object* v = decode_hex(md, "A", "30 0A 06 02 2A 03 02 01 05 81 01 09");
  ASSERT_EQ(v->error, 0) << text_of(v);
  EXPECT_EQ(tul::test::hex_of(TUL_assoc(v, "w")), "81 01 09");
  TUL_free(v);
}

TEST_F(StructTest, AnyDefinedByARegisteredAttributeTakesItsSyntax) {
  define_type(md, "A", "SEQUENCE", {{"id", "OBJECT IDENTIFIER"}, {"v", "ANY DEFINED BY", 0, 0, 0, "id"}});
  TUL_AttributeEntry attr{};
  attr.name = const_cast<char*>("1 2 3");
  attr.entry_type = TUL_ENTRY_ATTRIBUTE;
  attr.label = const_cast<char*>("counterAttr");
  attr.syntax = const_cast<char*>("BOOLEAN");
  _TUL_add_definition(md, reinterpret_cast<TUL_Entry*>(&attr), nullptr);
  // The element is an INTEGER by its tag, but the registration says BOOLEAN.
  TUL_Object* v = decode_hex(md, "A", "30 07 06 02 2A 03 02 01 FF");
  ASSERT_EQ(v->error, 0) << text_of(v);
  EXPECT_STREQ(TUL_object_type(TUL_assoc(v, "v")), "BOOLEAN");
  TUL_free(v);
}

TEST_F(StructTest, EncodesMembersWithTheirTagsAndLeavesOutAbsentOptionalOnes) {
  TUL_Object* t = TUL_new("T", md, integer(1), nullptr, boolean(0xFF));
  ASSERT_EQ(t->error, 0) << text_of(t);
  EXPECT_EQ(encode_hex(t), "30 06 02 01 01 01 01 FF");
  TUL_free(TUL_assign(t, "b", integer(2)));
  EXPECT_EQ(encode_hex(t), "30 09 02 01 01 80 01 02 01 01 FF");
  TUL_free(t);

  // SET members are written in definition order.
  TUL_Object* u = TUL_new("U", md, integer(5), integer(7));
  EXPECT_EQ(encode_hex(u), "31 0A A0 03 02 01 05 A1 03 02 01 07");
  TUL_free(u);
}

TEST_F(StructTest, EncodingAnAbsentMandatoryMemberFails) {
  TUL_Object* t = TUL_new("T", md, integer(1), nullptr, nullptr);
  TUL_Object* result = TUL_encode(t);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->error, 16);
  EXPECT_EQ(text_of(result), "#16 encode error: the member 'c' in an object from type 'T' is mandatory");
  TUL_free(result);
  TUL_free(t);
}

TEST_F(StructTest, InitChecksTypesAndReleasesTheRestAfterAnError) {
  TUL_Object* result = TUL_new("T", md, integer(1), integer(2), integer(3));
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->error, 15);
  EXPECT_THAT(text_of(result), HasSubstr("'BOOLEAN'"));
  TUL_free(result);

  // An error object among the arguments becomes the result; the arguments
  // after it are released (the sanitizer reports them otherwise).
  TUL_Object* failure = TUL_new("NoSuchType", md);
  result = TUL_new("T", md, failure, integer(2), boolean(1));
  EXPECT_EQ(result, failure);
  TUL_free(result);
}

TEST_F(StructTest, ParsesMembersInAnyOrderAndRepeatedOnesReplace) {
  TUL_Object* v = TUL_parse_str(md, "T { c FALSE, a 4, b 9, a 5 }");
  ASSERT_EQ(v->error, 0) << text_of(v);
  EXPECT_EQ(member_int(v, "a"), 5);
  EXPECT_EQ(member_int(v, "b"), 9);
  TUL_free(v);

  v = TUL_parse_str(md, "T {}");
  ASSERT_EQ(v->error, 0);
  EXPECT_EQ(TUL_assoc(v, "a"), nullptr);
  TUL_free(v);
}

TEST_F(StructTest, ParseErrors) {
  struct Row {
    const char* text;
    const char* message;
  };
  const Row rows[] = {
      {"T a 1", "#11 parse error: '{' expected, line: 1, last token: a"},
      {"T { a 1 c TRUE }", "#11 parse error: ',' expected, line: 1, last token: c"},
      {"T { d 1 }", "#11 parse error: invalid member name in SET/SEQUENCE, line: 1, last token: d"},
      {"T { a TRUE }", "#11 parse error: INTEGER/ENUMERATED value expected, line: 1, last token: TRUE"},
      {"T {\n a 1,\n 7 }", "#11 parse error: local name (in SEQUENCE/SET or CHOICE) expected, line: 3, last token: 7"},
      {"T { a 1,", "#20 EOF detected while parsing"},
      {"T { a 1", "#20 EOF detected while parsing"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(parse_error_text(md, row.text), row.message);
  }
}

TEST_F(StructTest, PrintsPresentAndMandatoryMembersOnly) {
  TUL_Object* t = TUL_new("T", md, integer(1), nullptr, boolean(1));
  EXPECT_EQ(printed(t), "T {\n    a 1,\n    c TRUE\n}");
  TUL_free(TUL_assign(t, "c", nullptr));
  // An absent mandatory member prints as the placeholder.
  EXPECT_EQ(printed(t), "T {\n    a 1,\n    c \"!!! object is not initialized yet !!!\"\n}");
  TUL_free(t);

  // Nothing to print: two line breaks between the braces.
  define_type(md, "O", "SEQUENCE", {{"o", "INTEGER", 0, 0, TUL_OPTIONAL}});
  TUL_Object* o = TUL_new("O", md, nullptr);
  EXPECT_EQ(printed(o), "O {\n\n}");
  TUL_free(o);
}

// The layout every printer must reproduce exactly: four blanks per level,
// a tab for two levels.
TEST_F(StructTest, PrintsTheReportLayoutByteForByte) {
  define_type(md, "Tags", "SEQUENCE OF", {{nullptr, "IA5String"}});
  define_type(md, "Pick2", "CHOICE", {{"n", "INTEGER"}});
  define_type(md, "Report", "SEQUENCE",
              {{"ok", "BOOLEAN"}, {"count", "INTEGER"}, {"tags", "Tags"}, {"pick", "Pick2"}});
  TUL_Object* report = TUL_new("Report", md, boolean(1), integer(5),
                               TUL_new("Tags", md, 2, TUL_new("IA5String", md, -1, "a"),
                                       TUL_new("IA5String", md, -1, "b")),
                               TUL_new("Pick2", md, "n", integer(3)));
  ASSERT_EQ(report->error, 0) << text_of(report);
  const std::string expected =
      "Report {\n"
      "    ok TRUE,\n"
      "    count 5,\n"
      "    tags {\n"
      "\t\"a\",\n"
      "\t\"b\"\n"
      "    },\n"
      "    pick n : 3\n"
      "}";
  EXPECT_EQ(printed(report), expected);

  TUL_Object* parsed = TUL_parse_str(md, expected.c_str());
  ASSERT_EQ(parsed->error, 0) << text_of(parsed);
  EXPECT_TRUE(TUL_equal(parsed, report));
  TUL_free(parsed);
  parsed = TUL_parse_str(md, "Report{ok TRUE,count 5,tags{\"a\",\"b\"},pick n:3}");
  ASSERT_EQ(parsed->error, 0) << text_of(parsed);
  EXPECT_TRUE(TUL_equal(parsed, report));
  TUL_free(parsed);
  TUL_free(report);
}

class NestedValueTest : public StructTest {
 protected:
  void SetUp() override {
    StructTest::SetUp();
    define_type(md, "Inner", "SET", {{"flag", "BOOLEAN"}, implicit_member("name", "IA5String", 3, TUL_OPTIONAL)});
    define_type(md, "Inners", "SEQUENCE OF", {{nullptr, "Inner"}});
    define_type(md, "Outer", "SEQUENCE",
                {{"t", "T"}, explicit_member("pick", "Pick", 5), {"inners", "Inners"}, {"any", "ANY", 0, 0, TUL_OPTIONAL}});
  }
  TUL_Object* sample() {
    TUL_Object* inner1 = TUL_new("Inner", md, boolean(1), TUL_new("IA5String", md, -1, "one"));
    TUL_Object* inner2 = TUL_new("Inner", md, boolean(0), nullptr);
    return TUL_new("Outer", md, TUL_new("T", md, integer(-129), integer(0), boolean(1)),
                   TUL_new("Pick", md, "b", boolean(1)), TUL_new("Inners", md, 2, inner1, inner2),
                   TUL_new("ANY", md, 3, "\x02\x01\x07"));
  }
};

TEST_F(NestedValueTest, RoundTripsThroughBerAndValueNotation) {
  TUL_Object* v = sample();
  ASSERT_EQ(v->error, 0) << text_of(v);

  TUL_Object* encoded = TUL_encode(v);
  ASSERT_EQ(encoded->error, 0) << text_of(encoded);
  TUL_Object* decoded = TUL_decode("Outer", encoded, md);
  ASSERT_EQ(decoded->error, 0) << text_of(decoded);
  EXPECT_TRUE(TUL_equal(decoded, v));
  EXPECT_EQ(TUL_hash(decoded), TUL_hash(v));
  TUL_free(decoded);
  TUL_free(encoded);

  std::string text = printed(v);
  TUL_Object* parsed = TUL_parse_str(md, text.c_str());
  ASSERT_EQ(parsed->error, 0) << text_of(parsed) << "\n" << text;
  EXPECT_TRUE(TUL_equal(parsed, v)) << text;
  EXPECT_EQ(printed(parsed), text);
  TUL_free(parsed);
  TUL_free(v);
}

TEST_F(NestedValueTest, CopyIsDeepEqualAndHashesAlike) {
  TUL_Object* v = sample();
  TUL_Object* copy = TUL_copy(v);
  ASSERT_EQ(copy->error, 0);
  EXPECT_NE(copy, v);
  EXPECT_NE(TUL_assoc(copy, "t"), TUL_assoc(v, "t"));
  EXPECT_TRUE(TUL_equal(copy, v));
  EXPECT_EQ(TUL_hash(copy), TUL_hash(v));
  EXPECT_EQ(TUL_size(copy), 4);

  // A change deep inside makes them differ.
  TUL_free(TUL_assign(TUL_assoc(copy, "t"), "a", integer(1)));
  EXPECT_FALSE(TUL_equal(copy, v));
  EXPECT_NE(TUL_hash(copy), TUL_hash(v));
  TUL_free(copy);
  TUL_free(v);
}

TEST_F(NestedValueTest, EqualityRejectsValuesOfOtherTypes) {
  TUL_Object* t = TUL_new("T", md, integer(1), nullptr, boolean(1));
  TUL_Object* u = TUL_new("U", md, integer(1), nullptr);
  TUL_Object* t2 = TUL_new("T", md, integer(1), integer(3), boolean(1));
  EXPECT_FALSE(TUL_equal(t, u));
  EXPECT_FALSE(TUL_equal(t, t2));  // absent against present
  EXPECT_FALSE(TUL_equal(t2, t));
  TUL_free(t);
  TUL_free(u);
  TUL_free(t2);
}

TEST_F(NestedValueTest, FailedAllocationsAtEveryStepLeakNothing) {
  TUL_Object* v = sample();
  TUL_Object* encoded = TUL_encode(v);
  std::string text = printed(v);
  struct Step {
    const char* name;
    TUL_Object* (*run)(TUL_Metadata*, TUL_Object*, TUL_Object*, const std::string&);
  };
  const Step steps[] = {
      {"copy", [](TUL_Metadata*, TUL_Object* value, TUL_Object*, const std::string&) { return TUL_copy(value); }},
      {"decode", [](TUL_Metadata* md, TUL_Object*, TUL_Object* octets,
                    const std::string&) { return TUL_decode("Outer", octets, md); }},
      {"encode", [](TUL_Metadata*, TUL_Object* value, TUL_Object*, const std::string&) { return TUL_encode(value); }},
      {"parse", [](TUL_Metadata* md, TUL_Object*, TUL_Object*,
                   const std::string& s) { return TUL_parse_str(md, s.c_str()); }},
  };
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    for (long n = 1;; ++n) {
      TUL_Object* result;
      bool fired;
      {
        FailNthAllocation fail(n);
        result = step.run(md, v, encoded, text);
        fired = fail.fired();
      }
      if (!fired) {
        ASSERT_NE(result, nullptr);
        EXPECT_EQ(result->error, 0);
        TUL_free(result);
        break;
      }
      // Any failure is acceptable as long as it is reported and nothing leaks.
      if (result && !result->error) TUL_free(result);
      else TUL_free(result);
      ASSERT_LT(n, 10000);
    }
  }
  TUL_free(encoded);
  TUL_free(v);
}

TEST_F(StructTest, SharedMemberSurvivesUntilTheLastContainerLetsGo) {
  TUL_Object* shared = integer(7);
  TUL_Object* t1 = TUL_new("T", md, shared, nullptr, boolean(1));
  TUL_Object* t2 = TUL_new("T", md, shared, nullptr, boolean(0));
  EXPECT_EQ(shared->ref_cnt, 2);
  TUL_free(shared);  // held: nothing happens
  TUL_free(t1);
  EXPECT_EQ(shared->ref_cnt, 1);
  EXPECT_EQ(TUL_read_int(shared), 7);
  // Taking it out hands it back to the caller.
  TUL_Object* back = TUL_assign(t2, "a", nullptr);
  EXPECT_EQ(back, shared);
  EXPECT_EQ(shared->ref_cnt, 0);
  TUL_free(t2);
  EXPECT_EQ(TUL_read_int(shared), 7);
  TUL_free(shared);
}

TEST_F(StructTest, BasicBehaviours) {
  TUL_Object* t = TUL_new("T", md, integer(1), nullptr, boolean(1));
  EXPECT_EQ(TUL_size(t), 3);
  EXPECT_EQ(TUL_evaluate(t, nullptr), t);
  EXPECT_EQ(TUL_object_basic_type(t), TUL_SEQUENCE_TYPE);
  TUL_Object* u = TUL_new("U", md, nullptr, nullptr);
  EXPECT_EQ(TUL_object_basic_type(u), TUL_SET_TYPE);
  TUL_Object* u2 = TUL_new("U", md, nullptr, nullptr);
  EXPECT_EQ(TUL_hash(u), TUL_hash(u2));
  TUL_free(t);
  TUL_free(u);
  TUL_free(u2);
}

/* ------------------------------------------------------------------------
 * Hostile input
 * ---------------------------------------------------------------------- */

class DeepNestingTest : public StructTest {
 protected:
  void SetUp() override {
    StructTest::SetUp();
    // Node ::= SEQUENCE { v INTEGER, next Node OPTIONAL }
    define_type(md, "Node", "SEQUENCE", {{"v", "INTEGER"}, {"next", "Node", 0, 0, TUL_OPTIONAL}});
  }
  // A chain of `depth` nodes built through the API.
  TUL_Object* chain(int depth) {
    TUL_Object* node = nullptr;
    for (int i = 0; i < depth; ++i) node = TUL_new("Node", md, integer(i), node);
    return node;
  }
};

TEST_F(DeepNestingTest, BerNestedThousandsOfLevelsIsRejected) {
  const int depth = 5000;
  std::string hex;
  for (int i = 0; i < depth; ++i) hex += "30 80 02 01 01 ";
  for (int i = 0; i < depth; ++i) hex += "00 00 ";
  TUL_Object* result = decode_hex(md, "Node", hex);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->error, 17);
  TUL_free(result);
}

TEST_F(DeepNestingTest, ValueNotationNestedThousandsOfLevelsIsRejected) {
  const int depth = 5000;
  std::string text = "Node ";
  for (int i = 0; i < depth; ++i) text += "{ v 1, next ";
  text += "{ v 1 }";
  for (int i = 0; i < depth; ++i) text += " }";
  TUL_Object* result = TUL_parse_str(md, text.c_str());
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->error, 11);
  TUL_free(result);
}

TEST_F(DeepNestingTest, ModeratelyNestedValuesRoundTrip) {
  TUL_Object* v = chain(100);
  std::string text = printed(v);
  TUL_Object* parsed = TUL_parse_str(md, text.c_str());
  ASSERT_EQ(parsed->error, 0) << text_of(parsed);
  EXPECT_TRUE(TUL_equal(parsed, v));
  TUL_Object* encoded = TUL_encode(v);
  ASSERT_EQ(encoded->error, 0);
  TUL_Object* decoded = TUL_decode("Node", encoded, md);
  ASSERT_EQ(decoded->error, 0) << text_of(decoded);
  EXPECT_TRUE(TUL_equal(decoded, v));
  TUL_free(decoded);
  TUL_free(encoded);
  TUL_free(parsed);
  TUL_free(v);
}

TEST_F(DeepNestingTest, EncodingAValueBuiltTooDeepFailsCleanly) {
  // Deeper than the codec follows: only the API can build such a value.
  TUL_Object* v = chain(600);
  StderrCapture capture;
  TUL_Object* result = TUL_encode(v);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->error, 5);
  EXPECT_EQ(capture.take(),
            "#05 an internal memory limitation is reached, topic: 'nesting of constructed values'\n");
  TUL_free(result);
  TUL_free(v);
}

}  // namespace
