// OBJECT IDENTIFIER: value notation with arcs and template labels, the text
// conversions and their limits, hashing, BER, and the octets shared with the
// dictionary's registration index.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "dtd.h"
#include "support/dictionary_test.h"
#include "tul.h"

namespace {

using tul::test::DictionaryTest;
using tul::test::StderrCapture;

struct ValueFree {
  void operator()(TUL_Object* obj) const { TUL_free(obj); }
};
using Value = std::unique_ptr<TUL_Object, ValueFree>;

TUL_Oid* as_oid(const Value& v) { return reinterpret_cast<TUL_Oid*>(v.get()); }

// Restores the two OBJECT IDENTIFIER print options on exit.
class OptionsGuard {
 public:
  OptionsGuard(int as_label, int annotated) {
    TUL_set_option(TUL_OPTION_OID_AS_LABEL, as_label);
    TUL_set_option(TUL_OPTION_OID_ANNOTATED, annotated);
  }
  ~OptionsGuard() {
    TUL_set_option(TUL_OPTION_OID_AS_LABEL, 0);
    TUL_set_option(TUL_OPTION_OID_ANNOTATED, 1);
  }
};

std::string arcs_text(int count, int first = 1) {
  std::string text = std::to_string(first);
  for (int i = 1; i < count; ++i) text += " " + std::to_string(i % 100);
  return text;
}

class OidTest : public DictionaryTest {
 protected:
  Value parse(const char* text, std::string* error = nullptr) {
    Value obj(TUL_alloc("OBJECT IDENTIFIER", md));
    TUL_Object* result = TUL_parse_value(obj.get(), text);
    if (result != obj.get()) {
      if (error) *error = text_of(result);
      TUL_free(result);
      return nullptr;
    }
    return obj;
  }

  Value from_text(const char* text) { return Value(TUL_new("OBJECT IDENTIFIER", md, -1, text)); }

  static std::string printed(TUL_Object* obj) {
    char* text = TUL_print_value(obj, 0);
    std::string s = text ? text : "<null>";
    std::free(text);
    return s;
  }

  static std::string encoded(TUL_Object* obj) {
    Value ber(TUL_encode(obj));
    if (!ber || ber->error) return "<failed>";
    std::string hex;
    const char* bytes = TUL_read_str(ber.get());
    for (long i = 0; i < TUL_size(ber.get()); ++i) {
      char pair[3];
      std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned char>(bytes[i]));
      hex += pair;
    }
    return hex;
  }

  Value decode(const std::string& bytes) {
    Value ber(TUL_new("BER-String", md, static_cast<int>(bytes.size()), bytes.data()));
    return Value(TUL_decode("OBJECT IDENTIFIER", ber.get(), md));
  }

  // An attribute registered under "2 9 3 2 7 13" and a behaviour, which
  // has no registration.
  void add_templates() {
    TUL_AttributeEntry attribute{};
    attribute.entry_type = TUL_ENTRY_ATTRIBUTE;
    attribute.name = const_cast<char*>("2 9 3 2 7 13");
    attribute.label = const_cast<char*>("eventTime");
    attribute.syntax = const_cast<char*>("GeneralizedTime");
    _TUL_add_definition(md, reinterpret_cast<TUL_Entry*>(&attribute), nullptr);
    TUL_BehaviorEntry behaviour{};
    behaviour.entry_type = TUL_ENTRY_BEHAVIOR;
    behaviour.label = const_cast<char*>("quietBehaviour");
    _TUL_add_definition(md, reinterpret_cast<TUL_Entry*>(&behaviour), nullptr);
  }
};

TEST_F(OidTest, ParsesArcsAndPrintsThemInBraces) {
  Value v = parse("{ 1 3 6 1 }");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(TUL_size(v.get()), 4);
  EXPECT_STREQ(TUL_oid2string(v.get()), "1 3 6 1");
  EXPECT_EQ(printed(v.get()), "{1 3 6 1}");
  Value spaced = parse("{1\n3 -- a comment --\t6 1}");
  ASSERT_NE(spaced, nullptr);
  EXPECT_TRUE(TUL_equal(v.get(), spaced.get()));
}

TEST_F(OidTest, ParseErrors) {
  std::string too_many = "{ " + arcs_text(129) + " }";
  struct Row {
    const char* name;
    std::string text;
    const char* message;
  } rows[] = {
      {"first arc above 2", "{ 3 1 }", "in OID value, first integer must be in range (0-2)"},
      {"comma between arcs", "{1,3}", "INTEGER value expected"},
      {"a single arc", "{ 1 }", "INTEGER value expected"},
      {"name and number form", "{ iso(1) 3 }", "INTEGER value expected"},
      {"upper-case name", "TRUE", "'{' or template label exepected"},
      {"unknown label", "noSuchLabel", "unknown template label as OID value"},
      {"129 arcs", too_many, "internal limitation reached, too many OID elements"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string error;
    StderrCapture err;
    EXPECT_EQ(parse(row.text.c_str(), &error), nullptr);
    EXPECT_EQ(error.rfind("#11 parse error: ", 0), 0u) << error;
    EXPECT_NE(error.find(row.message), std::string::npos) << error;
  }
}

TEST_F(OidTest, HundredTwentyEightArcsAreTheLimitEverywhere) {
  std::string text = "{ " + arcs_text(128) + " }";
  Value v = parse(text.c_str());
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(TUL_size(v.get()), 128);
  EXPECT_EQ(TUL_oid2string(v.get()), arcs_text(128));
  Value back = parse(printed(v.get()).c_str());
  ASSERT_NE(back, nullptr);
  EXPECT_TRUE(TUL_equal(v.get(), back.get()));

  // 127 subidentifiers make 128 arcs; one more is an overflow.
  std::string ber = "\x06\x7F\x2B" + std::string(126, '\x01');
  Value decoded = decode(ber);
  ASSERT_TRUE(decoded && !decoded->error);
  EXPECT_EQ(TUL_size(decoded.get()), 128);
  StderrCapture err;
  Value overflow = decode("\x06\x81\x80\x2B" + std::string(127, '\x01'));
  ASSERT_NE(overflow, nullptr);
  EXPECT_EQ(overflow->error, 17);
  EXPECT_EQ(text_of(overflow.get()),
            "#17 decode error: 'wrong encoding or data overflow' in an object from type "
            "'OBJECT IDENTIFIER'");
}

TEST_F(OidTest, ValuesBeyondTheTextLimitPrintNoArcs) {
  int32_t arcs[200];
  for (int i = 0; i < 200; ++i) arcs[i] = i % 3;
  Value v(TUL_new("OBJECT IDENTIFIER", md, 200, arcs));
  ASSERT_TRUE(v && !v->error);
  StderrCapture err;
  EXPECT_STREQ(TUL_oid2string(v.get()), "");
  EXPECT_EQ(err.take(), "#05 an internal memory limitation is reached, topic: 'OID too large'\n");
  EXPECT_EQ(as_oid(v)->string, nullptr);  // not cached
  EXPECT_EQ(encoded(v.get()), "<failed>");
}

TEST_F(OidTest, StringToOid) {
  std::string max_arcs = arcs_text(127);
  std::string over = arcs_text(128);
  struct Row {
    const char* name;
    std::string text;
    int arcs;  // -1: refused
    const char* trace;
  } rows[] = {
      {"blank separated", "1 3 6 1", 4, ""},
      {"dots stop after one number", "1.3.6.1", -1,
       "#14 OID string format error, provide at least 2 integers\n"},
      {"trailing junk ignored", "2 5 junk", 2, ""},
      {"signs and any white space", " +1\t\n-3", 2, ""},
      {"above 32 bits", "1 2147483648", -1, "#14 OID string format error, \n"},
      {"largest 32-bit arc", "1 2147483647", 2, ""},
      {"127 numbers pass", max_arcs, 127, ""},
      {"128 numbers do not", over, -1,
       "#05 an internal memory limitation is reached, topic: 'OID literal too large'\n"},
      {"empty", "", -1, "#14 OID string format error, provide at least 2 integers\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Value v(TUL_alloc("OBJECT IDENTIFIER", md));
    StderrCapture err;
    TUL_Object* result = TUL_string2oid(v.get(), row.text.c_str());
    EXPECT_EQ(err.take(), row.trace);
    if (row.arcs < 0) {
      EXPECT_EQ(result, nullptr);
      EXPECT_EQ(TUL_size(v.get()), 0);
    } else {
      EXPECT_EQ(result, v.get());
      EXPECT_EQ(TUL_size(v.get()), row.arcs);
    }
  }
  Value v(TUL_alloc("OBJECT IDENTIFIER", md));
  TUL_string2oid(v.get(), " +1\t-3");
  EXPECT_EQ(TUL_read_oid(v.get())[1], -3);
}

TEST_F(OidTest, FirstArcOutOfRangeIsAnErrorObject) {
  StderrCapture err;
  TUL_Object* obj = TUL_alloc("OBJECT IDENTIFIER", md);
  Value error(TUL_string2oid(obj, "7 1"));  // TUL_init has released obj
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->error, 14);
  EXPECT_EQ(text_of(error.get()), "#14 OID string format error, first integer must be in range (0-2)");

  int32_t arcs[] = {3, 1};
  Value from_arcs(TUL_new("OBJECT IDENTIFIER", md, 2, arcs));
  ASSERT_NE(from_arcs, nullptr);
  EXPECT_EQ(from_arcs->error, 14);
  Value from_text_value = from_text("9 9");
  ASSERT_NE(from_text_value, nullptr);
  EXPECT_EQ(from_text_value->error, 14);
}

TEST_F(OidTest, UnreadableTextLeavesAnEmptyValue) {
  StderrCapture err;
  Value v = from_text("junk");
  ASSERT_TRUE(v && !v->error);
  EXPECT_EQ(TUL_size(v.get()), 0);
  EXPECT_STREQ(TUL_oid2string(v.get()), "");
  EXPECT_EQ(err.take(), "#14 OID string format error, provide at least 2 integers\n");
}

TEST_F(OidTest, TextConversionsCheckTheType) {
  Value n(TUL_new("INTEGER", md, 1));
  StderrCapture err;
  EXPECT_EQ(TUL_oid2string(n.get()), nullptr);
  EXPECT_EQ(TUL_string2oid(n.get(), "1 2"), nullptr);
  EXPECT_EQ(err.take(),
            "#07 an object from type 'INTEGER' is incompatibel with function 'TUL_oid2string'\n"
            "#07 an object from type 'INTEGER' is incompatibel with function 'TUL_string2oid'\n");
  EXPECT_EQ(TUL_oid2string(nullptr), nullptr);
  EXPECT_EQ(TUL_string2oid(nullptr, "1 2"), nullptr);
}

TEST_F(OidTest, CachedTextFollowsNewArcs) {
  Value v = from_text("1 3 6 1");
  const char* first = TUL_oid2string(v.get());
  EXPECT_EQ(TUL_oid2string(v.get()), first);
  TUL_string2oid(v.get(), "2 5 4");
  EXPECT_STREQ(TUL_oid2string(v.get()), "2 5 4");
}

TEST_F(OidTest, HashAndEquality) {
  EXPECT_EQ(TUL_hash(from_text("1 2").get()), 34u);
  EXPECT_EQ(TUL_hash(from_text("1 3 6 1").get()), ((1u * 32 + 3) * 32 + 6) * 32 + 1);
  Value a = from_text("1 3 6 1");
  EXPECT_TRUE(TUL_equal(a.get(), from_text("1 3 6 1").get()));
  EXPECT_FALSE(TUL_equal(a.get(), from_text("1 3 6 2").get()));
  EXPECT_FALSE(TUL_equal(a.get(), from_text("2 3 6 1").get()));
  EXPECT_FALSE(TUL_equal(a.get(), from_text("1 3 6 1 0").get()));
  Value empty1(TUL_alloc("OBJECT IDENTIFIER", md));
  Value empty2(TUL_alloc("OBJECT IDENTIFIER", md));
  EXPECT_TRUE(TUL_equal(empty1.get(), empty2.get()));
  EXPECT_EQ(TUL_hash(empty1.get()), 0u);
}

TEST_F(OidTest, EncodingRules) {
  EXPECT_EQ(encoded(from_text("2 999").get()), "06028837");
  EXPECT_EQ(encoded(from_text("1 39").get()), "06014F");
  EXPECT_EQ(encoded(from_text("1 40").get()), "<failed>");
  EXPECT_EQ(encoded(from_text("0 40").get()), "<failed>");
}

// Arcs above 2^31 - 1 come only from BER; they keep their bits and survive
// print, parse and encode.
TEST_F(OidTest, LargestArcsRoundTrip) {
  Value v = decode(std::string("\x06\x06\x2B\x8F\xFF\xFF\xFF\x7F", 8));
  ASSERT_TRUE(v && !v->error);
  EXPECT_EQ(TUL_read_oid(v.get())[2], -1);
  Value back = parse(printed(v.get()).c_str());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(encoded(back.get()), "06062B8FFFFFFF7F");
}

TEST_F(OidTest, TemplateLabelsParseAndPrintUnderTheOptions) {
  add_templates();
  Value v = parse("eventTime");
  ASSERT_NE(v, nullptr);
  EXPECT_STREQ(TUL_oid2string(v.get()), "2 9 3 2 7 13");
  struct Row {
    const char* name;
    int as_label;
    int annotated;
    const char* print;
  } rows[] = {
      {"default: arcs, label as comment", 0, 1, "{2 9 3 2 7 13} -- eventTime --"},
      {"arcs only", 0, 0, "{2 9 3 2 7 13}"},
      {"label, arcs as comment", 1, 1, "eventTime -- {2 9 3 2 7 13} --"},
      {"bare label", 1, 0, "eventTime"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    OptionsGuard options(row.as_label, row.annotated);
    std::string text = printed(v.get());
    EXPECT_EQ(text, row.print);
    Value back = parse(text.c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(TUL_equal(back.get(), v.get()));
  }
  OptionsGuard options(1, 1);
  EXPECT_EQ(printed(from_text("1 3 6 1").get()), "{1 3 6 1}");
}

TEST_F(OidTest, LabelOfATemplateWithoutRegistrationGivesNoArcs) {
  add_templates();
  std::string error;
  Value v = parse("quietBehaviour", &error);
  ASSERT_NE(v, nullptr) << error;
  EXPECT_EQ(TUL_size(v.get()), 0);
}

TEST_F(OidTest, RegisteredIdentifiersShareThePreEncodedOctets) {
  add_templates();
  Value lookup = from_text("1 1");
  ASSERT_EQ(printed(lookup.get()), "{1 1}");  // the first lookup builds the index

  Value v = from_text("2 9 3 2 7 13");
  TUL_Oid* o = as_oid(v);
  ASSERT_EQ(o->in_line, 1);
  ASSERT_NE(o->octets, nullptr);
  EXPECT_EQ(o->len_octets, 5);
  std::string shared = encoded(v.get());

  Value copy(TUL_copy(v.get()));
  EXPECT_EQ(reinterpret_cast<TUL_Oid*>(copy.get())->octets, o->octets);
  EXPECT_EQ(reinterpret_cast<TUL_Oid*>(copy.get())->in_line, 1);

  // Computed afresh, the same identifier gives the same octets.
  TUL_string2oid(v.get(), "1 3");
  EXPECT_EQ(o->in_line, 0);
  EXPECT_EQ(o->octets, nullptr);
  TUL_string2oid(v.get(), "2 9 3 2 7 14");
  EXPECT_EQ(encoded(v.get()), "0605590302070E");
  EXPECT_EQ(shared, "0605590302070D");
}

}  // namespace
