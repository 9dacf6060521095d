// BOOLEAN, INTEGER, ENUMERATED, NULL, REAL, OCTET STRING and the character
// strings, BIT STRING: print forms, encodings, round trips through value
// notation and BER, equality and hash rules, error messages, tagged types.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dtd.h"
#include "support/dictionary_test.h"
#include "tul.h"

namespace {

using tul::test::DictionaryTest;
using tul::test::FailNthAllocation;
using tul::test::StderrCapture;

struct ValueFree {
  void operator()(TUL_Object* obj) const { TUL_free(obj); }
};
using Value = std::unique_ptr<TUL_Object, ValueFree>;

std::string take_text(char* text) {
  std::string s = text ? text : "<null>";
  std::free(text);
  return s;
}

std::string to_hex(const char* bytes, long len) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s;
  for (long i = 0; i < len; ++i) {
    auto b = static_cast<unsigned char>(bytes[i]);
    s += kDigits[b >> 4];
    s += kDigits[b & 0xF];
  }
  return s;
}

std::string from_hex(const std::string& hex) {
  std::string bytes;
  std::string digits;
  for (char c : hex)
    if (c != ' ') digits += c;
  for (size_t i = 0; i + 1 < digits.size(); i += 2)
    bytes += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
  return bytes;
}

// `hex` without its blanks.
std::string to_hex_of(const char* hex) {
  std::string bytes = from_hex(hex);
  return to_hex(bytes.data(), static_cast<long>(bytes.size()));
}

class PrimitiveTest : public DictionaryTest {
 protected:
  // A value of `type` parsed from value notation without type name; null
  // (with the message in `error`) when the parse fails.
  Value parse(const char* type, const char* text, std::string* error = nullptr) {
    Value obj(TUL_alloc(type, md));
    EXPECT_NE(obj, nullptr);
    if (!obj) return nullptr;
    EXPECT_EQ(obj->error, 0) << text_of(obj.get());
    TUL_Object* result = TUL_parse_value(obj.get(), text);
    if (result != obj.get()) {
      if (error) *error = text_of(result);
      TUL_free(result);
      return nullptr;
    }
    return obj;
  }

  static std::string printed(TUL_Object* obj) { return take_text(TUL_print_value(obj, 0)); }

  // The whole BER encoding as upper-case hex; "<failed>" when encoding fails.
  static std::string encoded(TUL_Object* obj) {
    Value ber(TUL_encode(obj));
    if (!ber || ber->error) return "<failed>";
    return to_hex(TUL_read_str(ber.get()), TUL_size(ber.get()));
  }

  Value decode(const char* type, const std::string& hex) {
    std::string bytes = from_hex(hex);
    Value ber(TUL_new("BER-String", md, static_cast<int>(bytes.size()), bytes.data()));
    EXPECT_TRUE(ber && !ber->error);
    return Value(TUL_decode(type, ber.get(), md));
  }

  void define(const char* name, const char* base, int tag_flag = 0, int tag_val = 0,
              std::vector<TUL_EnumList> enums = {}) {
    TUL_Asn1TypeEntry def{};
    def.name = TUL_unique_string(name);
    def.type = TUL_unique_string(base);
    def.tag_flag = tag_flag;
    def.tag_val = tag_val;
    for (TUL_EnumList& e : enums) e.name = TUL_unique_string(e.name);
    def.enums = static_cast<int32_t>(enums.size());
    def.enum_list = enums.empty() ? nullptr : enums.data();
    _TUL_add_definition(md, reinterpret_cast<TUL_Entry*>(&def), nullptr);
  }
};

// One value of each kind in value notation, with its exact print form and
// BER encoding; every row makes a full round trip both ways.
struct RoundTrip {
  const char* name;
  const char* type;
  const char* text;
  const char* print;
  const char* ber;
};

constexpr RoundTrip kRoundTrips[] = {
    {"true", "BOOLEAN", "TRUE", "TRUE", "0101FF"},
    {"false", "BOOLEAN", "FALSE", "FALSE", "010100"},
    {"zero", "INTEGER", "0", "0", "020100"},
    {"largest one-octet", "INTEGER", "127", "127", "02017F"},
    {"needs a sign octet", "INTEGER", "128", "128", "02020080"},
    {"minus one", "INTEGER", "-1", "-1", "0201FF"},
    {"minus 129", "INTEGER", "-129", "-129", "0202FF7F"},
    {"int32 max", "INTEGER", "2147483647", "2147483647", "02047FFFFFFF"},
    {"int32 min", "INTEGER", "-2147483648", "-2147483648", "020480000000"},
    {"enumerated tag", "ENUMERATED", "3", "3", "0A0103"},
    {"null", "NULL", "NULL", "NULL", "0500"},
    {"real zero has no contents", "REAL", "0", "0", "0900"},
    {"real one", "REAL", "1", "1", "090380F980"},
    {"real half", "REAL", "0.5", "0.5", "090380F880"},
    {"real minus two", "REAL", "-2", "-2", "0903C0FA80"},
    {"real fraction", "REAL", "3.25", "3.25", "090380FAD0"},
    {"real exponent form", "REAL", "1e3", "1000", "09038002FA"},
    {"plus infinity", "REAL", "PLUS-INFINITY", "PLUS-INFINITY", "090140"},
    {"minus infinity", "REAL", "MINUS-INFINITY", "MINUS-INFINITY", "090141"},
    {"octets with NUL", "OCTET STRING", "'0041FF'H", "'0041FF'H", "04030041FF"},
    {"empty octets", "OCTET STRING", "''H", "''H", "0400"},
    {"quoted octets print as hex", "OCTET STRING", "\"ab\"", "'6162'H", "04026162"},
    {"IA5String", "IA5String", "\"hi\"", "\"hi\"", "16026869"},
    {"PrintableString inherits", "PrintableString", "'a b'", "\"a b\"", "1303612062"},
    {"GeneralizedTime", "GeneralizedTime", "\"1998\"", "\"1998\"", "180431393938"},
    {"five bits", "BIT STRING", "'10110'B", "'10110'B", "030203B0"},
    {"empty bits", "BIT STRING", "''B", "''B", "030100"},
    {"ten bits", "BIT STRING", "'1111111111'B", "'1111111111'B", "030306FFC0"},
    {"oid", "OBJECT IDENTIFIER", "{ 1 3 6 1 }", "{1 3 6 1}", "06032B0601"},
    {"oid large second arc", "OBJECT IDENTIFIER", "{2 100 3}", "{2 100 3}", "0603813403"},
};

TEST_F(PrimitiveTest, RoundTripsThroughValueNotationAndBer) {
  for (const RoundTrip& row : kRoundTrips) {
    SCOPED_TRACE(row.name);
    std::string error;
    Value v = parse(row.type, row.text, &error);
    ASSERT_NE(v, nullptr) << error;
    EXPECT_EQ(printed(v.get()), row.print);
    EXPECT_EQ(encoded(v.get()), row.ber);

    Value reparsed = parse(row.type, row.print);
    ASSERT_NE(reparsed, nullptr);
    EXPECT_TRUE(TUL_equal(v.get(), reparsed.get()));

    Value decoded = decode(row.type, row.ber);
    ASSERT_NE(decoded, nullptr);
    ASSERT_EQ(decoded->error, 0) << text_of(decoded.get());
    EXPECT_TRUE(TUL_equal(v.get(), decoded.get()));
    EXPECT_EQ(printed(decoded.get()), row.print);
  }
}

TEST_F(PrimitiveTest, CopiesAreEqualDistinctAndHashAlike) {
  for (const RoundTrip& row : kRoundTrips) {
    SCOPED_TRACE(row.name);
    Value v = parse(row.type, row.text);
    ASSERT_NE(v, nullptr);
    v->ref_cnt = 1;  // the copy starts unowned whatever the source's count
    Value copy(TUL_copy(v.get()));
    v->ref_cnt = 0;
    ASSERT_NE(copy, nullptr);
    ASSERT_EQ(copy->error, 0);
    EXPECT_NE(copy.get(), v.get());
    EXPECT_EQ(copy->ref_cnt, 0);
    EXPECT_EQ(copy->type_ref, v->type_ref);
    EXPECT_TRUE(TUL_equal(copy.get(), v.get()));
    EXPECT_EQ(TUL_hash(copy.get()), TUL_hash(v.get()));
    EXPECT_EQ(TUL_size(copy.get()), TUL_size(v.get()));
    EXPECT_EQ(TUL_evaluate(v.get(), nullptr), v.get());
  }
}

TEST_F(PrimitiveTest, AllocationFailuresGiveTheAllocationErrorAndLeakNothing) {
  for (const RoundTrip& row : kRoundTrips) {
    SCOPED_TRACE(row.name);
    Value v = parse(row.type, row.text);
    ASSERT_NE(v, nullptr);
    TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
    bool enumerated = std::strcmp(row.type, "ENUMERATED") == 0;
    for (long n = 1;; ++n) {
      FailNthAllocation fail(n);
      TUL_Object* copy = TUL_copy(v.get());
      if (!fail.fired()) {
        ASSERT_TRUE(copy && !copy->error);
        TUL_free(copy);
        break;
      }
      if (enumerated)
        EXPECT_EQ(copy, nullptr);
      else
        EXPECT_EQ(copy, md->alloc_error);
    }
    TUL_set_option(TUL_OPTION_TRACE_ERROR, 1);
  }
}

// Whatever allocation fails, parsing and decoding give a value or an error
// object, never a crash or a leak, and succeed once memory suffices.
TEST_F(PrimitiveTest, ParseAndDecodeSurviveEveryAllocationFailure) {
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  for (const RoundTrip& row : kRoundTrips) {
    SCOPED_TRACE(row.name);
    std::string typed = std::string(row.type) + " " + row.text;
    std::string bytes = from_hex(row.ber);
    Value ber(TUL_new("BER-String", md, static_cast<int>(bytes.size()), bytes.data()));
    for (long n = 1;; ++n) {
      FailNthAllocation fail(n);
      Value parsed(TUL_parse_str(md, typed.c_str()));
      Value decoded(TUL_decode(row.type, ber.get(), md));
      if (!fail.fired()) {
        ASSERT_TRUE(parsed && !parsed->error);
        ASSERT_TRUE(decoded && !decoded->error);
        EXPECT_TRUE(TUL_equal(parsed.get(), decoded.get()));
        break;
      }
      ASSERT_LT(n, 100);
    }
  }
}

TEST_F(PrimitiveTest, NewFailsCleanlyUnderMemoryShortage) {
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  for (long n = 1;; ++n) {
    FailNthAllocation fail(n);
    TUL_Object* v = TUL_new("IA5String", md, -1, "some text");
    if (!fail.fired()) {
      ASSERT_TRUE(v && !v->error);
      EXPECT_STREQ(TUL_read_str(v), "some text");
      TUL_free(v);
      break;
    }
    EXPECT_EQ(v, md->alloc_error);
  }
}

TEST_F(PrimitiveTest, HashesFollowEachKindsRule) {
  struct Row {
    const char* name;
    const char* type;
    const char* text;
    unsigned int hash;
  } rows[] = {
      {"TRUE", "BOOLEAN", "TRUE", 12345},
      {"FALSE", "BOOLEAN", "FALSE", 67890},
      {"negative integer as unsigned", "INTEGER", "-1", 4294967295u},
      {"enumerated as unsigned", "ENUMERATED", "-2", 4294967294u},
      {"every NULL", "NULL", "NULL", 16},
      {"real truncated", "REAL", "3.9", 3},
      {"negative real truncated toward zero", "REAL", "-3.9", 4294967293u},
      {"octets by length", "OCTET STRING", "'0102'H", 2},
      {"text by length", "IA5String", "\"abc\"", 3},
      {"bits by count", "BIT STRING", "'101'B", 3},
      {"empty bits", "BIT STRING", "''B", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Value v = parse(row.type, row.text);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(TUL_hash(v.get()), row.hash);
  }
}

TEST_F(PrimitiveTest, InfiniteAndHugeRealsHashWithoutOverflow) {
  for (double d : {HUGE_VAL, -HUGE_VAL, 1e300, -1e300, std::nan("")}) {
    Value v(TUL_new("REAL", md, d));
    (void)TUL_hash(v.get());
  }
  Value big(TUL_new("REAL", md, 4294967298.5));
  EXPECT_EQ(TUL_hash(big.get()), 2u);  // low 32 bits of 2^32 + 2
}

TEST_F(PrimitiveTest, EqualityRules) {
  struct Row {
    const char* name;
    const char* type;
    const char* a;
    const char* b;
    bool equal;
  } rows[] = {
      {"any two NULLs", "NULL", "NULL", "NULL", true},
      {"prefix is not equal", "OCTET STRING", "'0102'H", "'010203'H", false},
      {"hex and quoted forms", "OCTET STRING", "'6162'H", "\"ab\"", true},
      {"bit counts differ", "BIT STRING", "'101'B", "'1010'B", false},
      {"bits equal", "BIT STRING", "'0110'B", "'0110'B", true},
      {"integers", "INTEGER", "5", "6", false},
      {"reals exact", "REAL", "0.5", "0.5", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Value a = parse(row.type, row.a);
    Value b = parse(row.type, row.b);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(TUL_equal(a.get(), b.get()) != 0, row.equal);
  }
}

TEST_F(PrimitiveTest, BooleanKeepsItsIntButPrintsTrue) {
  Value two(TUL_new("BOOLEAN", md, 2));
  Value one(TUL_new("BOOLEAN", md, 1));
  EXPECT_EQ(printed(two.get()), "TRUE");
  EXPECT_EQ(TUL_hash(two.get()), 12345u);
  EXPECT_FALSE(TUL_equal(two.get(), one.get()));
  EXPECT_EQ(encoded(two.get()), "0101FF");
}

TEST_F(PrimitiveTest, RealEqualityIsExact) {
  Value sum(TUL_new("REAL", md, 0.1 + 0.2));
  Value third(TUL_new("REAL", md, 0.3));
  EXPECT_FALSE(TUL_equal(sum.get(), third.get()));
  Value minus_one(TUL_new("REAL", md, -1.0));
  Value decoded = decode("REAL", encoded(minus_one.get()));
  ASSERT_TRUE(decoded && !decoded->error);
  EXPECT_EQ(TUL_read_real(decoded.get()), -1.0);
}

TEST_F(PrimitiveTest, IntegerNamedNumbers) {
  define("Level", "INTEGER", 0, 0, {{const_cast<char*>("low"), 1}, {const_cast<char*>("high"), 9}});
  Value nine(TUL_new("Level", md, 9));
  Value five(TUL_new("Level", md, 5));
  EXPECT_EQ(printed(nine.get()), "high");
  EXPECT_EQ(printed(five.get()), "5");
  Value high = parse("Level", "high");
  ASSERT_NE(high, nullptr);
  EXPECT_EQ(TUL_read_int(high.get()), 9);
  std::string error;
  EXPECT_EQ(parse("Level", "medium", &error), nullptr);
  EXPECT_NE(error.find("invalid INTEGER/ENUMERATED identifier"), std::string::npos) << error;
}

TEST_F(PrimitiveTest, EnumeratedPrintsEveryMatchingNameOrMarksInvalidValues) {
  define("Colour", "ENUMERATED", 0, 0,
         {{const_cast<char*>("red"), 0}, {const_cast<char*>("green"), 1},
          {const_cast<char*>("vert"), 1}});
  Value green(TUL_new("Colour", md, 1));
  EXPECT_EQ(printed(green.get()), "greenvert");
  Value seven(TUL_new("Colour", md, 7));
  EXPECT_EQ(printed(seven.get()), "7 -- invalid 'Colour' value --");
  EXPECT_EQ(encoded(seven.get()), "0A0107");  // kept and encoded as it is
  Value plain(TUL_new("ENUMERATED", md, 7));
  EXPECT_EQ(printed(plain.get()), "7");
  // The annotation is a comment: the printed form reads back.
  Value reread = parse("Colour", printed(seven.get()).c_str());
  ASSERT_NE(reread, nullptr);
  EXPECT_EQ(TUL_read_enum(reread.get()), 7);
}

TEST_F(PrimitiveTest, ParseErrorMessages) {
  struct Row {
    const char* name;
    const char* type;
    const char* text;
    const char* message;
  } rows[] = {
      {"name as integer", "INTEGER", "TRUE", "INTEGER/ENUMERATED value expected"},
      {"number as boolean", "BOOLEAN", "1", "TRUE or FALSE expected"},
      {"lower-case boolean", "BOOLEAN", "true", "TRUE or FALSE expected"},
      {"number as NULL", "NULL", "0", "NULL value expected"},
      {"lower-case infinity", "REAL", "plus-infinity", "REAL value expected"},
      {"bit string as octets", "OCTET STRING", "'01'B", "STRING or HSTRING expected"},
      {"number as text", "IA5String", "12", "STRING or HSTRING expected"},
      {"hex string as bits", "BIT STRING", "'FF'H", "BSTRING expected"},
      {"quoted string as bits", "BIT STRING", "\"01\"", "BSTRING expected"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string error;
    EXPECT_EQ(parse(row.type, row.text, &error), nullptr);
    EXPECT_EQ(error.rfind("#11 parse error: ", 0), 0u) << error;
    EXPECT_NE(error.find(row.message), std::string::npos) << error;
  }
}

TEST_F(PrimitiveTest, DecodeErrorsNameTheType) {
  struct Row {
    const char* name;
    const char* type;
    const char* ber;
  } rows[] = {
      {"boolean without contents", "BOOLEAN", "0100"},
      {"boolean in constructed form", "BOOLEAN", "2103010100"},
      {"integer of five octets", "INTEGER", "02050102030405"},
      {"integer without contents", "INTEGER", "0200"},
      {"enumerated of five octets", "ENUMERATED", "0A050102030405"},
      {"real special value 42", "REAL", "090142"},
      {"real decimal form", "REAL", "090101"},
      {"real binary without exponent", "REAL", "090180"},
      {"bits with 8 unused", "BIT STRING", "030108"},
      {"more unused bits than present", "BIT STRING", "030107"},
      {"oid subidentifier starting 80", "OBJECT IDENTIFIER", "06028001"},
      {"oid ending inside a subidentifier", "OBJECT IDENTIFIER", "0602 2B86"},
      {"oid without contents", "OBJECT IDENTIFIER", "0600"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    StderrCapture err;
    Value v = decode(row.type, row.ber);
    std::string expected = std::string("#17 decode error: 'wrong encoding or data overflow' in an ") +
                           "object from type '" + row.type + "'";
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->error, 17);
    EXPECT_EQ(text_of(v.get()), expected);
    EXPECT_NE(err.take().find(expected), std::string::npos);
  }
}

TEST_F(PrimitiveTest, NullContentsAreNotExamined) {
  Value v = decode("NULL", "050101");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->error, 0);
}

TEST_F(PrimitiveTest, ConstructedOctetStringsAreJoined) {
  Value v = decode("OCTET STRING", "240804026162040263 64");
  ASSERT_TRUE(v && !v->error);
  EXPECT_EQ(TUL_size(v.get()), 4);
  EXPECT_STREQ(TUL_read_str(v.get()), "abcd");
}

TEST_F(PrimitiveTest, OctetStringKeepsEmbeddedNulBytes) {
  Value v(TUL_new("OCTET STRING", md, 3, "\x00\x41\xFF"));
  ASSERT_TRUE(v && !v->error);
  EXPECT_EQ(TUL_size(v.get()), 3);
  EXPECT_EQ(printed(v.get()), "'0041FF'H");
  Value same(TUL_new("OCTET STRING", md, 3, "\x00\x41\xFF"));
  EXPECT_TRUE(TUL_equal(v.get(), same.get()));
}

TEST_F(PrimitiveTest, OctetStringParsing) {
  struct Row {
    const char* name;
    const char* text;
    std::string bytes;
  } rows[] = {
      {"odd hex digit count pads a low nibble", "'ABC'H", std::string("\xAB\xC0", 2)},
      {"non-hex digit empties the value", "'XY'H", ""},
      {"double-quoted", "\"abc\"", "abc"},
      {"single-quoted", "'abc'", "abc"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Value v = parse("OCTET STRING", row.text);
    ASSERT_NE(v, nullptr);
    ASSERT_EQ(TUL_size(v.get()), static_cast<long>(row.bytes.size()));
    EXPECT_EQ(std::memcmp(TUL_read_str(v.get()), row.bytes.data(), row.bytes.size()), 0);
  }
}

TEST_F(PrimitiveTest, TextPrintsEscapedAndReadsBack) {
  struct Row {
    const char* name;
    std::string bytes;
    const char* print;
  } rows[] = {
      {"quotes and blank", " \"hi\"", R"(" \"hi\"")"},
      {"backslash", "a\\b", R"("a\\b")"},
      {"tab and latin-1", "\t\xE9", R"("\x09\xE9")"},
      {"DEL and NUL", std::string("\x7F\0", 2), R"("\x7F\x00")"},
      {"empty", "", R"("")"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Value v(TUL_new("IA5String", md, static_cast<int>(row.bytes.size()), row.bytes.data()));
    ASSERT_TRUE(v && !v->error);
    std::string text = printed(v.get());
    EXPECT_EQ(text, row.print);
    Value back = parse("IA5String", text.c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(TUL_equal(v.get(), back.get()));
  }
}

TEST_F(PrimitiveTest, CopyOfEmptyOrConsumedTextHoldsOnlyTheTerminator) {
  Value empty(TUL_new("OCTET STRING", md, 0, ""));
  Value copy(TUL_copy(empty.get()));
  ASSERT_TRUE(copy && !copy->error);
  EXPECT_EQ(TUL_size(copy.get()), 0);
  ASSERT_NE(TUL_read_str(copy.get()), nullptr);
  EXPECT_EQ(TUL_read_str(copy.get())[0], '\0');

  Value text(TUL_new("IA5String", md, -1, "abc"));
  std::free(TUL_consume_str(text.get()));
  Value after(TUL_copy(text.get()));
  ASSERT_TRUE(after && !after->error);
  EXPECT_EQ(TUL_size(after.get()), 0);
  EXPECT_EQ(printed(after.get()), "\"\"");
}

TEST_F(PrimitiveTest, BitStringPacking) {
  struct Row {
    const char* name;
    const char* text;
    std::string packed;
  } rows[] = {
      {"five bits in one byte", "10110", std::string("\xB0", 1)},
      {"nine bits spill into a second byte", "111111111", std::string("\xFF\x80", 2)},
      {"characters other than 1 are 0", "0120", std::string("\x40", 1)},
      {"empty", "", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Value v(TUL_alloc("BIT STRING", md));
    ASSERT_EQ(TUL_string2bit(v.get(), row.text), v.get());
    ASSERT_EQ(TUL_size(v.get()), static_cast<long>(std::strlen(row.text)));
    auto* b = reinterpret_cast<TUL_Octet*>(v.get());
    EXPECT_EQ(std::memcmp(b->octet, row.packed.data(), row.packed.size()), 0);
  }
  Value v(TUL_alloc("BIT STRING", md));
  TUL_string2bit(v.get(), "10110");
  EXPECT_STREQ(TUL_bit2string(v.get()), "10110");
  EXPECT_EQ(TUL_bit2string(v.get()), TUL_bit2string(v.get()));  // cached
}

TEST_F(PrimitiveTest, BitStringParsingIgnoresWhatTheBitsAre) {
  Value v = parse("BIT STRING", "'0120'B");
  ASSERT_NE(v, nullptr);
  EXPECT_STREQ(TUL_bit2string(v.get()), "0100");
}

TEST_F(PrimitiveTest, BitStringTextFollowsNewBits) {
  Value v(TUL_new("BIT STRING", md, -1, "1"));
  EXPECT_STREQ(TUL_bit2string(v.get()), "1");
  const unsigned char bits[] = {0x60};
  ASSERT_EQ(TUL_init(v.get(), 3, bits), v.get());
  EXPECT_STREQ(TUL_bit2string(v.get()), "011");
}

TEST_F(PrimitiveTest, UnusedBitsTakePartInEquality) {
  const unsigned char a[] = {0xA0};
  const unsigned char b[] = {0xA1};
  Value x(TUL_new("BIT STRING", md, 3, a));
  Value y(TUL_new("BIT STRING", md, 3, b));
  EXPECT_FALSE(TUL_equal(x.get(), y.get()));
  EXPECT_STREQ(TUL_bit2string(x.get()), TUL_bit2string(y.get()));
}

TEST_F(PrimitiveTest, BitStringTextLimit) {
  Value v(TUL_alloc("BIT STRING", md));
  std::string longest(40959, '1');
  ASSERT_EQ(TUL_string2bit(v.get(), longest.c_str()), v.get());
  EXPECT_EQ(TUL_size(v.get()), 40959);
  EXPECT_EQ(std::string(TUL_bit2string(v.get())), longest);
  Value decoded = decode("BIT STRING", encoded(v.get()));
  ASSERT_TRUE(decoded && !decoded->error);
  EXPECT_TRUE(TUL_equal(decoded.get(), v.get()));

  StderrCapture err;
  EXPECT_EQ(TUL_string2bit(v.get(), (longest + "0").c_str()), nullptr);
  EXPECT_EQ(err.take(), "#22 BIT STRING format error, more than 40959 bits\n");
  EXPECT_EQ(TUL_size(v.get()), 40959);  // unchanged
}

TEST_F(PrimitiveTest, TextConversionsRefuseOtherTypes) {
  Value n(TUL_new("INTEGER", md, 1));
  StderrCapture err;
  EXPECT_EQ(TUL_bit2string(n.get()), nullptr);
  EXPECT_EQ(TUL_string2bit(n.get(), "1"), nullptr);
  EXPECT_EQ(err.take(),
            "#07 an object from type 'INTEGER' is incompatibel with function 'TUL_bit2string'\n"
            "#07 an object from type 'INTEGER' is incompatibel with function 'TUL_string2bit'\n");
  EXPECT_EQ(TUL_bit2string(nullptr), nullptr);
  EXPECT_EQ(TUL_string2bit(nullptr, "1"), nullptr);
  EXPECT_EQ(TUL_string2bit(n.get(), nullptr), nullptr);
}

TEST_F(PrimitiveTest, BadInitArgumentsGiveErrorObjects) {
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  Value octets(TUL_new("OCTET STRING", md, -5, "x"));
  ASSERT_NE(octets, nullptr);
  EXPECT_EQ(octets->error, 21);
  Value bits(TUL_new("BIT STRING", md, 8, nullptr));
  ASSERT_NE(bits, nullptr);
  EXPECT_EQ(bits->error, 21);
  Value no_text(TUL_new("IA5String", md, -1, nullptr));
  ASSERT_TRUE(no_text && !no_text->error);
  EXPECT_EQ(TUL_size(no_text.get()), 0);
}

// Tagged user types: the tag goes on the outside, EXPLICIT tags wrap, and
// decoding strips them again.
TEST_F(PrimitiveTest, TaggedTypesEncodeAndDecode) {
  define("AppInt", "INTEGER", TUL_TAG_APPLICATION | TUL_TAG_IMPLICIT, 5);
  define("CtxBool", "BOOLEAN", TUL_TAG_CONTEXT | TUL_TAG_EXPLICIT, 2);
  define("Inner", "INTEGER", TUL_TAG_APPLICATION | TUL_TAG_IMPLICIT, 2);
  define("Outer", "Inner", TUL_TAG_CONTEXT | TUL_TAG_EXPLICIT, 1);
  define("PrivText", "IA5String", TUL_TAG_PRIVATE | TUL_TAG_IMPLICIT, 3);
  define("AppOid", "OBJECT IDENTIFIER", TUL_TAG_APPLICATION | TUL_TAG_EXPLICIT, 7);
  define("CtxBits", "BIT STRING", TUL_TAG_CONTEXT | TUL_TAG_IMPLICIT, 0);
  define("CtxReal", "REAL", TUL_TAG_CONTEXT | TUL_TAG_EXPLICIT, 30);
  define("AppNull", "NULL", TUL_TAG_APPLICATION | TUL_TAG_IMPLICIT, 9);
  define("AppEnum", "ENUMERATED", TUL_TAG_APPLICATION | TUL_TAG_EXPLICIT, 4);
  struct Row {
    const char* name;
    const char* type;
    const char* text;
    const char* ber;
  } rows[] = {
      {"application implicit", "AppInt", "5", "450105"},
      {"context explicit", "CtxBool", "TRUE", "A2030101FF"},
      {"explicit around implicit", "Outer", "7", "A103420107"},
      {"private implicit string", "PrivText", "\"hi\"", "C3026869"},
      {"application explicit oid", "AppOid", "{1 3 6 1}", "670506032B0601"},
      {"context implicit bits", "CtxBits", "'101'B", "8002 05A0"},
      {"context explicit real", "CtxReal", "0.5", "BE05090380F880"},
      {"application implicit null", "AppNull", "NULL", "4900"},
      {"application explicit enumerated", "AppEnum", "2", "64030A0102"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Value v = parse(row.type, row.text);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(to_hex_of(row.ber), encoded(v.get()));
    Value back = decode(row.type, row.ber);
    ASSERT_NE(back, nullptr);
    ASSERT_EQ(back->error, 0) << text_of(back.get());
    EXPECT_EQ(back->type_ref, v->type_ref);
    EXPECT_TRUE(TUL_equal(back.get(), v.get()));
  }
}

TEST_F(PrimitiveTest, ExplicitTagMustWrapAConstructedElement) {
  define("CtxBool", "BOOLEAN", TUL_TAG_CONTEXT | TUL_TAG_EXPLICIT, 2);
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  Value v = decode("CtxBool", "8201FF");
  EXPECT_TRUE(!v || v->error);
}

}  // namespace
