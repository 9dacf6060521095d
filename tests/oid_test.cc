// OBJECT IDENTIFIER: the arc limits of value notation, text and BER, the
// text conversions, template labels under the print options, and the octets
// shared with the dictionary's registration index.
#include <gtest/gtest.h>

#include <string>

#include "dtd.h"
#include "support/dictionary_test.h"
#include "support/type_builder.h"
#include "support/value.h"
#include "tul.h"

namespace {

using namespace tul::test;

constexpr const char* kOid = "OBJECT IDENTIFIER";

TUL_Oid* as_oid(const Value& v) { return reinterpret_cast<TUL_Oid*>(v.get()); }

// `count` arcs as text: 1 1 2 3 ... 99 0 1 ...
std::string arcs_text(int count) {
  std::string text = "1";
  for (int i = 1; i < count; ++i) text += " " + std::to_string(i % 100);
  return text;
}

class OidTest : public DictionaryTest {
 protected:
  void TearDown() override {
    TUL_set_option(TUL_OPTION_OID_AS_LABEL, 0);
    TUL_set_option(TUL_OPTION_OID_ANNOTATED, 1);
    DictionaryTest::TearDown();
  }

  Value from_text(const std::string& arcs) { return Value(TUL_new(kOid, md, -1, arcs.c_str())); }
  Value parse(const std::string& text) { return Value(TUL_parse_str(md, (kOid + (" " + text)).c_str())); }

  // An attribute registered under 2 9 3 2 7 13, and a behaviour, which has
  // no registration.
  void add_templates() {
    define_attribute(md, "2 9 3 2 7 13", "eventTime", "GeneralizedTime");
    TUL_BehaviorEntry behaviour{};
    behaviour.entry_type = TUL_ENTRY_BEHAVIOR;
    behaviour.label = const_cast<char*>("quietBehaviour");
    _TUL_add_definition(md, reinterpret_cast<TUL_Entry*>(&behaviour), nullptr);
  }
};

TEST_F(OidTest, HundredTwentyEightArcsAreTheLimitEverywhere) {
  std::string braced = "{" + arcs_text(128) + "}";
  Value v = parse(braced);
  ASSERT_TRUE(ok(v)) << text_of(v.get());
  EXPECT_EQ(TUL_oid2string(v.get()), arcs_text(128));
  EXPECT_EQ(value_text(v), braced);
  std::string ones;  // 127 subidentifiers after the first make 128 arcs
  for (int i = 0; i < 127; ++i) ones += " 01";
  Value decoded(decode_hex(md, kOid, "06 7F 2B" + ones.substr(3)));
  EXPECT_TRUE(ok(decoded) && TUL_size(decoded.get()) == 128);

  // One arc more fails in value notation and in BER.
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  std::string error = text_of(parse("{" + arcs_text(129) + "}").get());
  EXPECT_NE(error.find("internal limitation reached, too many OID elements"), std::string::npos) << error;
  EXPECT_EQ(decode_error_text(md, kOid, "06 81 80 2B" + ones),
            "#17 decode error: 'wrong encoding or data overflow' in an object from type 'OBJECT IDENTIFIER'");
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 1);

  // More arcs, which only init makes, have neither text nor encoding; the
  // encode says why.
  int32_t arcs[200] = {1};
  Value big(TUL_new(kOid, md, 200, arcs));
  ASSERT_TRUE(ok(big));
  StderrCapture err;
  EXPECT_STREQ(TUL_oid2string(big.get()), "");
  EXPECT_EQ(err.take(), "#05 an internal memory limitation is reached, topic: 'OID too large'\n");
  EXPECT_EQ(as_oid(big)->string, nullptr);  // not cached
  StderrCapture encode_err;
  EXPECT_EQ(encode_hex(big.get()),
            "<error: #14 OID string format error, 200 arcs of type OBJECT IDENTIFIER, more than 128, cannot be "
            "encoded in BER>");
  encode_err.take();
}

TEST_F(OidTest, StringToOid) {
  const char* kTooFew = "#14 OID string format error, provide at least 2 integers\n";
  struct Row {
    const char* name;
    std::string text;
    std::string arcs;  // as TUL_oid2string gives them; "" when refused
    const char* trace;
  } rows[] = {
      {"dots stop after one number", "1.3.6.1", "", kTooFew},
      {"trailing junk ignored", "2 5 junk", "2 5", ""},
      {"signs and any white space", " +1\t\n-3", "1 -3", ""},
      {"above 32 bits", "1 2147483648", "", "#14 OID string format error, \n"},
      {"largest 32-bit arc", "1 2147483647", "1 2147483647", ""},
      {"127 numbers pass", arcs_text(127), arcs_text(127), ""},
      {"128 numbers do not", arcs_text(128), "",
       "#05 an internal memory limitation is reached, topic: 'OID literal too large'\n"},
      {"empty", "", "", kTooFew},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Value v(TUL_alloc(kOid, md));
    StderrCapture err;
    TUL_Object* result = TUL_string2oid(v.get(), row.text.c_str());
    EXPECT_EQ(err.take(), row.trace);
    EXPECT_EQ(result, row.arcs.empty() ? nullptr : v.get());
    EXPECT_EQ(TUL_oid2string(v.get()), row.arcs);
  }

  // TUL_init releases the value it refuses and answers an error object.
  StderrCapture err;
  Value error(TUL_string2oid(TUL_alloc(kOid, md), "7 1"));
  EXPECT_EQ(text_of(error.get()), "#14 OID string format error, first integer must be in range (0-2)");
}

TEST_F(OidTest, EncodingLimits) {
  // Under arcs 0 and 1 the second arc must stay below 40; the encode names
  // the arcs and the type.
  StderrCapture err;
  EXPECT_EQ(encode_hex(from_text("1 40").get()),
            "<error: #14 OID string format error, {1 40} of type OBJECT IDENTIFIER cannot be encoded in BER>");
  EXPECT_NE(encode_hex(from_text("0 80").get()).find("{0 80}"), std::string::npos);
  err.take();

  // Arcs above 2^31 - 1 come only from BER; they keep their bits through
  // print, parse and encode.
  Value v(decode_hex(md, kOid, "06 06 2B 8F FF FF FF 7F"));
  ASSERT_TRUE(ok(v));
  EXPECT_EQ(TUL_read_oid(v.get())[2], -1);
  EXPECT_EQ(encode_hex(parse(value_text(v)).get()), "06 06 2B 8F FF FF FF 7F");
}

TEST_F(OidTest, TemplateLabelsParseAndPrintUnderTheOptions) {
  add_templates();
  Value v = parse("eventTime");
  ASSERT_TRUE(ok(v)) << text_of(v.get());
  EXPECT_STREQ(TUL_oid2string(v.get()), "2 9 3 2 7 13");
  // Indexed by the two options, as label and annotated.
  const char* prints[2][2] = {{"{2 9 3 2 7 13}", "{2 9 3 2 7 13} -- eventTime --"},
                              {"eventTime", "eventTime -- {2 9 3 2 7 13} --"}};
  for (int as_label : {0, 1}) {
    for (int annotated : {0, 1}) {
      SCOPED_TRACE(prints[as_label][annotated]);
      TUL_set_option(TUL_OPTION_OID_AS_LABEL, as_label);
      TUL_set_option(TUL_OPTION_OID_ANNOTATED, annotated);
      EXPECT_EQ(value_text(v), prints[as_label][annotated]);
      Value back = parse(prints[as_label][annotated]);
      EXPECT_TRUE(ok(back) && TUL_equal(back.get(), v.get()));
    }
  }
  EXPECT_EQ(value_text(from_text("1 3 6 1")), "{1 3 6 1}");  // no template, no label

  // The label of a template without registration gives a value without arcs.
  Value quiet = parse("quietBehaviour");
  ASSERT_TRUE(ok(quiet)) << text_of(quiet.get());
  EXPECT_TRUE(TUL_size(quiet.get()) == 0 && TUL_hash(quiet.get()) == 0u);
  EXPECT_TRUE(TUL_equal(quiet.get(), Value(TUL_alloc(kOid, md)).get()));
}

// A registered identifier shares the index's encoding until new arcs drop it.
TEST_F(OidTest, RegisteredIdentifiersShareThePreEncodedOctets) {
  add_templates();
  ASSERT_EQ(value_text(from_text("1 1")), "{1 1}");  // the first lookup builds the index
  Value v = from_text("2 9 3 2 7 13");
  EXPECT_EQ(as_oid(v)->in_line, 1);
  EXPECT_EQ(encode_hex(Value(TUL_copy(v.get())).get()), "06 05 59 03 02 07 0D");
  TUL_string2oid(v.get(), "1 3");
  EXPECT_EQ(as_oid(v)->in_line, 0);
  EXPECT_EQ(encode_hex(v.get()), "06 01 2B");
  EXPECT_STREQ(TUL_oid2string(v.get()), "1 3");
}

}  // namespace
