// SEQUENCE and SET: member matching when decoding (in order, greedy, by tag), OPTIONAL, EXPLICIT, ANY and ANY
// DEFINED BY members, encoding, the value notation, copy/equal/hash, and hostile input.
#include <gtest/gtest.h>

#include <functional>
#include <cstdlib>
#include <string>

#include "support/dictionary_test.h"
#include "dtd.h"
#include "support/type_builder.h"
#include "support/value.h"

namespace {

using namespace tul::test;

constexpr int kOptional = TUL_OPTIONAL;

class StructTest : public DictionaryTest {
 protected:
  void SetUp() override {
    DictionaryTest::SetUp();
    // T ::= SEQUENCE { a INTEGER, b [0] IMPLICIT INTEGER OPTIONAL, c BOOLEAN }
    define_type(md, "T", "SEQUENCE",
                {{"a", "INTEGER"}, implicit_member("b", "INTEGER", 0, kOptional), {"c", "BOOLEAN"}});
    // U ::= SET { x [0] EXPLICIT INTEGER, y [1] EXPLICIT INTEGER }
    define_type(md, "U", "SET", {explicit_member("x", "INTEGER", 0), explicit_member("y", "INTEGER", 1)});
    define_type(md, "E", "SEQUENCE", {explicit_member("x", "INTEGER", 1)});
    define_type(md, "G", "SEQUENCE", {{"a", "INTEGER", 0, 0, kOptional}, {"b", "INTEGER"}});
    define_type(md, "O", "SEQUENCE", {{"o", "INTEGER", 0, 0, kOptional}});
    define_type(md, "Pick", "CHOICE", {{"i", "INTEGER"}, implicit_member("b", "BOOLEAN", 0)});
    define_type(md, "N", "SEQUENCE", {{"p", "Pick", 0, 0, kOptional}, {"z", "BOOLEAN"}, {"q", "Pick"}});
    // A ::= SEQUENCE { id OBJECT IDENTIFIER, v ANY DEFINED BY id, w ANY OPTIONAL }, with the identifier 1.2.4
    // registered for an attribute of syntax BOOLEAN.
    define_type(md, "A", "SEQUENCE",
                {{"id", "OBJECT IDENTIFIER"}, {"v", "ANY DEFINED BY", 0, 0, 0, "id"}, {"w", "ANY", 0, 0, kOptional}});
    define_attribute(md, "1 2 4", "flagAttr", "BOOLEAN");
    define_type(md, "Node", "SEQUENCE", {{"v", "INTEGER"}, {"next", "Node", 0, 0, kOptional}});
    define_type(md, "Inner", "SET", {{"flag", "BOOLEAN"}, implicit_member("name", "IA5String", 3, kOptional)});
    define_type(md, "Inners", "SEQUENCE OF", {{nullptr, "Inner"}});
    define_type(md, "Outer", "SEQUENCE",
                {{"t", "T"}, explicit_member("pick", "Pick", 5), {"sets", "Inners"}, {"any", "ANY", 0, 0, kOptional}});
    TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  }

  TUL_Object* integer(int v) { return TUL_new("INTEGER", md, v); }
  TUL_Object* chain(int depth) {
    TUL_Object* node = nullptr;
    for (int i = 0; i < depth; ++i) node = TUL_new("Node", md, integer(i), node);
    return node;
  }
};

int accept_all(TUL_Object*, void*) { return 1; }

std::string decode_error(const char* detail, const char* type = "T") { return decode_error_message(detail, type); }

const std::string kUnset = "\"!!! object is not initialized yet !!!\"";

TEST_F(StructTest, DecodeAndParse) {
  EXPECT_EQ(mismatches(md, {
      {"OPTIONAL member present", "T", "30 09 02 01 01 80 01 02 01 01 FF", "T { a 1, b 2, c TRUE }"},
      {"indefinite length, OPTIONAL member absent", "T", "30 80 02 01 07 01 01 00 00 00",
       "T { a 7, c FALSE } => 30 06 02 01 07 01 01 00"},
      {"primitive element", "T", "02 01 01", decode_error("constructed tag (SEQUENCE) expected")},
      {"mandatory member past the last element", "T", "30 03 02 01 01", decode_error("missing SEQUENCE element")},
      {"mandatory member meets a foreign tag", "T", "30 03 04 01 00", decode_error("unexpected member tag found")},
      {"EXPLICIT member, primitive element", "E", "30 03 81 01 05",
       decode_error("constructed tag for EXPLICIT member tag expected", "E")},
      {"greedy: an OPTIONAL member takes the only element", "G", "30 03 02 01 07",
       decode_error("missing SEQUENCE element", "G")},
      {"CHOICE members match their alternatives' tags", "N", "30 09 02 01 03 01 01 00 80 01 FF",
       "N { p i : 3, z FALSE, q b : TRUE }"},
      {"no alternative of p matches: p stays absent", "N", "30 06 01 01 FF 80 01 00", "N { z TRUE, q b : FALSE }"},
      {"a recursive type", "Node", "30 0D 02 01 00 30 08 02 01 01 30 03 02 01 02",
       "Node { v 0, next { v 1, next { v 2 } } }"},
      {"SET members in any order", "U", "31 0A A1 03 02 01 07 A0 03 02 01 05",
       "U { x 5, y 7 } => 31 0A A0 03 02 01 05 A1 03 02 01 07"},
      {"SET: the last of a repeated member wins, a missing one goes unreported", "U",
       "31 0A A0 03 02 01 05 A0 03 02 01 06",
       "U { x 6, y " + kUnset +
           " } => <error: #16 encode error: the member 'y' in an object from type 'U' is mandatory>"},
      {"SET element of no member", "U", "31 05 A2 03 02 01 05",
       decode_error("unable to associate tag value with set member", "U")},
      {"SET EXPLICIT member, primitive element", "U", "31 03 80 01 05",
       decode_error("constructed tag for EXPLICIT tag expected", "U")},
      {"ANY DEFINED BY, unregistered: typed by its universal tag", "A", "30 07 06 02 2A 03 02 01 05",
       "A { id {1 2 3}, v INTEGER 5 }"},
      {"ANY DEFINED BY, unregistered, not universal: the octets", "A", "30 07 06 02 2A 03 80 01 05",
       "A { id {1 2 3}, v BER-String '800105'H }"},
      {"ANY DEFINED BY a registered attribute takes its syntax", "A", "30 07 06 02 2A 04 02 01 FF",
       "A { id {1 2 4} -- flagAttr --, v BOOLEAN TRUE } => 30 07 06 02 2A 04 01 01 FF"},
      {"ANY keeps the whole element", "A", "30 0A 06 02 2A 03 02 01 05 81 01 09",
       "A { id {1 2 3}, v INTEGER 5, w ANY '810109'H }"},
      {"nested thousands of levels", "Node", repeated("30 80 02 01 01 ", 5000) + repeated("00 00 ", 5000),
       decode_error("octets are not BER (X.209) encoded", "BER-String")},
      {"members in any order, the last of a repeated one wins", nullptr, "T { c FALSE, a 4, b 9, a 5 }",
       "T { a 5, b 9, c FALSE }"},
      {"empty braces: absent mandatory members print the placeholder", nullptr, "T {}",
       "T { a " + kUnset + ", c " + kUnset + " }"},
      {"nothing to print", nullptr, "O {}", "O { }"},
      {"brace missing", nullptr, "T a 1", parse_error_message("'{' expected", "a")},
      {"comma missing", nullptr, "T { a 1 c TRUE }", parse_error_message("',' expected", "c")},
      {"unknown member", nullptr, "T { d 1 }", parse_error_message("invalid member name in SET/SEQUENCE", "d")},
      {"value of another type", nullptr, "T { a TRUE }",
       parse_error_message("INTEGER/ENUMERATED value expected", "TRUE")},
      {"name missing on line 3", nullptr, "T {\n a 1,\n 7 }",
       parse_error_message("local name (in SEQUENCE/SET or CHOICE) expected", "7", 3)},
      {"input ends after a comma", nullptr, "T { a 1,", "#20 EOF detected while parsing"},
      {"nested thousands of levels", nullptr,
       "Node " + repeated("{ v 1, next ", 5000) + "{ v 1 }" + repeated(" }", 5000),
       parse_error_message("value nested too deeply", "{")},
  }), "");
  // Neither of these returns an error object: the trace is all the caller gets.
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 1);
  StderrCapture capture;
  EXPECT_EQ(mismatches(md, {
      {"surplus element ignored", "T", "30 09 02 01 01 01 01 FF 02 01 09",
       "T { a 1, c TRUE } => 30 06 02 01 01 01 01 FF"},
      {"SET on a primitive element", "U", "02 01 05", "<null>"},
  }), "");
  EXPECT_EQ(capture.take(), decode_error("extra element(s) in BER string for SEQUENCE ignored") + "\n" +
                                decode_error("constructed tag (SET) expected", "U") + "\n");
}

TEST_F(StructTest, PrintsTheReportLayoutByteForByte) {
  define_type(md, "Tags", "SEQUENCE OF", {{nullptr, "IA5String"}});
  define_type(md, "Report", "SEQUENCE", {{"ok", "BOOLEAN"}, {"count", "INTEGER"}, {"tags", "Tags"}, {"pick", "Pick"}});
  TUL_Object* report = TUL_parse_str(md, "Report{ok TRUE,count 5,tags{\"a\",\"b\"},pick i:3}");
  EXPECT_EQ(printed(report),
            "Report {\n    ok TRUE,\n    count 5,\n    tags {\n\t\"a\",\n\t\"b\"\n    },\n    pick i : 3\n}");
  TUL_free(report);
}

TEST_F(StructTest, InitChecksTypesAndReleasesTheRestAfterAnError) {
  TUL_Object* result = TUL_new("T", md, integer(1), integer(2), integer(3));
  EXPECT_EQ(text_of(result), "#15 this member is supposed to be from type 'BOOLEAN'");
  TUL_free(result);
  // An error object among the arguments becomes the result; the arguments
  // after it are released (the sanitizer reports them otherwise).
  TUL_Object* failure = TUL_new("NoSuchType", md);
  EXPECT_EQ(TUL_new("T", md, failure, integer(2), TUL_new("BOOLEAN", md, 1)), failure);
  TUL_free(failure);
}

TEST_F(StructTest, EqualityLooksAtEveryMember) {
  TUL_Object* v = chain(3);
  TUL_Object* copy = TUL_copy(v);
  // A change two levels down shows: the copy is deep.
  TUL_free(TUL_assign(TUL_assoc(TUL_assoc(copy, "next"), "next"), "v", integer(-1)));
  EXPECT_NE(TUL_hash(v), TUL_hash(copy));
  TUL_Object* t[] = {TUL_parse_str(md, "T { a 1, c TRUE }"), TUL_parse_str(md, "T { a 1, b 3, c TRUE }"),
                     TUL_parse_str(md, "U { x 1 }")};
  // Then an absent against a present member, both ways, and another type.
  for (auto [x, y] : {std::pair{v, copy}, {t[0], t[1]}, {t[1], t[0]}, {t[0], t[2]}})
    EXPECT_FALSE(TUL_equal(x, y)) << printed(x) << printed(y);
  EXPECT_EQ(TUL_size(t[0]), 3);  // its type's members, present or not
  EXPECT_EQ(TUL_evaluate(t[0], nullptr), t[0]);
  for (TUL_Object* o : {v, copy, t[0], t[1], t[2]}) TUL_free(o);
}

// Each step gives back an equal value with memory enough, and fails cleanly (reported, nothing leaked) when any
// one allocation fails. The value has every kind of member: tagged, CHOICE, a list of SETs, ANY.
TEST_F(StructTest, EveryStepRoundTripsAndSurvivesAFailedAllocation) {
  TUL_Object* v = TUL_new("Outer", md, TUL_parse_str(md, "T { a -129, b 0, c TRUE }"),
                          TUL_parse_str(md, "Pick b : TRUE"),
                          TUL_parse_str(md, "Inners { { flag TRUE, name \"one\" }, { flag FALSE } }"),
                          TUL_new("ANY", md, 3, "\x02\x01\x07"));
  ASSERT_EQ(v->error, 0) << text_of(v);
  TUL_Object* encoded = TUL_encode(v);
  TUL_Object* sets = TUL_assoc(v, "sets");
  const std::string text = printed(v);
  const struct { const char* name; TUL_Object* expected; std::function<TUL_Object*()> run; } steps[] = {
      {"copy", v, [&] { return TUL_copy(v); }},
      {"decode", v, [&] { return TUL_decode("Outer", encoded, md); }},
      {"encode", encoded, [&] { return TUL_encode(v); }},
      {"filter", sets, [&] { return TUL_filter(sets, accept_all, nullptr); }},
      {"parse", v, [&] { return TUL_parse_str(md, text.c_str()); }},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    for (long n = 1;; ++n) {
      FailNthAllocation fail(n);
      TUL_Object* result = step.run();
      if (!fail.fired()) {
        ASSERT_EQ(result->error, 0) << text_of(result);
        EXPECT_TRUE(TUL_equal(step.expected, result)) << printed(result);
        EXPECT_EQ(TUL_hash(step.expected), TUL_hash(result));
        TUL_free(result);
        break;
      }
      EXPECT_TRUE(!result || result->error) << n;  // every injected failure shows
      TUL_free(result);
    }
  }
  TUL_free(encoded);
  TUL_free(v);
}

// Decode, print, parse and encode count the same levels (a CHOICE is one)
// against one bound: what decodes also prints, parses back and encodes, and
// one level more fails in decode and parse alike.
TEST_F(StructTest, EveryWalkStopsAtTheSameDepth) {
  define_type(md, "Level", "SEQUENCE", {{"u", "Alt", 0, 0, kOptional}});
  define_type(md, "Alt", "CHOICE", {{"s", "Level"}});
  for (int depth : {tul::kMaxValueNesting / 2, tul::kMaxValueNesting / 2 + 1}) {
    SCOPED_TRACE(depth);  // `depth` SEQUENCEs, each but the innermost holding its CHOICE: 2 * depth - 1 levels
    Value decoded(decode_hex(md, "Level", repeated("30 80 ", depth) + repeated("00 00 ", depth)));
    const std::string text = "Level " + repeated("{ u s : ", depth - 1) + "{ }" + repeated(" }", depth - 1);
    Value parsed(TUL_parse_str(md, text.c_str()));
    if (2 * depth - 1 > tul::kMaxValueNesting) {
      EXPECT_NE(text_of(decoded.get()).find("value nested too deeply"), std::string::npos);
      EXPECT_NE(text_of(parsed.get()).find("value nested too deeply"), std::string::npos);
      continue;
    }
    ASSERT_TRUE(ok(decoded)) << text_of(decoded.get());
    Value reparsed(TUL_parse_str(md, printed(decoded.get()).c_str()));
    ASSERT_TRUE(ok(reparsed));
    EXPECT_TRUE(TUL_equal(reparsed.get(), parsed.get()));
    Value again(TUL_decode("Level", Value(TUL_encode(reparsed.get())).get(), md));
    EXPECT_TRUE(ok(again) && TUL_equal(again.get(), decoded.get()));
  }
}

TEST_F(StructTest, EncodingAValueBuiltTooDeepFailsCleanly) {
  // Deeper than the codec follows: only the API can build such a value.
  TUL_Object* v = chain(600);
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 1);
  StderrCapture capture;
  TUL_Object* result = TUL_encode(v);
  EXPECT_EQ(text_of(result), "#05 an internal memory limitation is reached, topic: 'nesting of constructed values'");
  EXPECT_EQ(capture.take(), text_of(result) + "\n");
  TUL_free(result);
  TUL_free(v);
}

}  // namespace
