// BOOLEAN, INTEGER, ENUMERATED, NULL, REAL, OCTET STRING and the character
// strings, BIT STRING, OBJECT IDENTIFIER: print forms, encodings and hashes of
// one value per interesting case, round trips under allocation failures,
// equality, error messages, tagged types.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "support/dictionary_test.h"
#include "support/type_builder.h"
#include "support/value.h"
#include "tul.h"

namespace {

using namespace tul::test;

class PrimitiveTest : public DictionaryTest {
 protected:
  void SetUp() override {
    DictionaryTest::SetUp();
    const char* definitions[] = {
        "TUL.Asn1 { name 'Level', type 'INTEGER', enums { { label 'low', value 1 },"
        " { label 'high', value 9 } } }",
        "TUL.Asn1 { name 'Colour', type 'ENUMERATED', enums { { label 'red', value 0 },"
        " { label 'green', value 1 }, { label 'vert', value 1 } } }",
        nullptr};
    ASSERT_EQ(TUL_load_Metadata_string(md, const_cast<char**>(definitions)), 0);
  }

  // `text` in value notation as a value of `type`, or the error object.
  Value parse(const char* type, const std::string& text) {
    return Value(TUL_parse_str(md, (std::string(type) + " " + text).c_str()));
  }
};

// A case of one type: its name says what makes it interesting; each test
// says what `input` and `expected` hold.
struct Case {
  const char* name;
  const char* type;
  const char* input;
  const char* expected = nullptr;
};

// One value of each kind in value notation, with its exact print form, BER
// encoding and hash; every row makes a full round trip both ways.
struct RoundTrip {
  const char* name;
  const char* type;
  const char* text;
  const char* print;
  const char* ber;
  unsigned int hash;
};

constexpr RoundTrip kRoundTrips[] = {
    {"true", "BOOLEAN", "TRUE", "TRUE", "01 01 FF", 12345},
    {"false", "BOOLEAN", "FALSE", "FALSE", "01 01 00", 67890},
    {"zero", "INTEGER", "0", "0", "02 01 00", 0},
    {"largest one-octet", "INTEGER", "127", "127", "02 01 7F", 127},
    {"needs a sign octet", "INTEGER", "128", "128", "02 02 00 80", 128},
    {"minus one hashes unsigned", "INTEGER", "-1", "-1", "02 01 FF", 4294967295u},
    {"int32 min", "INTEGER", "-2147483648", "-2147483648", "02 04 80 00 00 00", 2147483648u},
    {"enumerated tag, unsigned hash", "ENUMERATED", "-2", "-2", "0A 01 FE", 4294967294u},
    {"named number", "Level", "high", "high", "02 01 09", 9},
    {"number without a name", "Level", "5", "5", "02 01 05", 5},
    {"outside the enumeration: kept, marked in a comment", "Colour", "7",
     "7 -- invalid 'Colour' value --", "0A 01 07", 7},
    {"every NULL hashes alike", "NULL", "NULL", "NULL", "05 00", 16},
    {"real zero has no contents", "REAL", "0", "0", "09 00", 0},
    {"real minus one is not taken for a failure", "REAL", "-1", "-1", "09 03 C0 F9 80", 4294967295u},
    {"real hash toward zero", "REAL", "-3.25", "-3.25", "09 03 C0 FA D0", 4294967293u},
    {"real exponent form", "REAL", "1e3", "1000", "09 03 80 02 FA", 1000},
    {"real hash keeps the low 32 bits", "REAL", "4294967298.5", "4294967298.5",
     "09 07 80 F9 80 00 00 01 40", 2},
    {"plus infinity hash saturates", "REAL", "PLUS-INFINITY", "PLUS-INFINITY", "09 01 40", 4294967295u},
    {"minus infinity hash saturates", "REAL", "MINUS-INFINITY", "MINUS-INFINITY", "09 01 41", 0},
    {"octets with NUL hash by length", "OCTET STRING", "'0041FF'H", "'0041FF'H", "04 03 00 41 FF", 3},
    {"odd hex digit count pads a low nibble", "OCTET STRING", "'ABC'H", "'ABC0'H", "04 02 AB C0", 2},
    {"non-hex digit empties the value", "OCTET STRING", "'XY'H", "''H", "04 00", 0},
    {"double-quoted octets print as hex", "OCTET STRING", "\"ab\"", "'6162'H", "04 02 61 62", 2},
    {"quotes escaped", "IA5String", R"(" \"hi\"")", R"(" \"hi\"")", "16 05 20 22 68 69 22", 5},
    {"backslash escaped", "IA5String", R"("a\\b")", R"("a\\b")", "16 03 61 5C 62", 3},
    {"tab, latin-1, DEL and NUL as hex escapes", "IA5String", R"("\x09\xE9\x7F\x00")",
     R"("\x09\xE9\x7F\x00")", "16 04 09 E9 7F 00", 4},
    {"PrintableString inherits", "PrintableString", "'a b'", "\"a b\"", "13 03 61 20 62", 3},
    {"bits hash by count", "BIT STRING", "'10110'B", "'10110'B", "03 02 03 B0", 5},
    {"empty bits", "BIT STRING", "''B", "''B", "03 01 00", 0},
    {"ten bits spill into a second octet", "BIT STRING", "'1111111111'B", "'1111111111'B",
     "03 03 06 FF C0", 10},
    {"characters other than 1 are 0", "BIT STRING", "'0120'B", "'0100'B", "03 02 04 40", 4},
    {"oid arcs between any white space and comments", "OBJECT IDENTIFIER",
     "{1\n3 -- a comment --\t6 1}", "{1 3 6 1}", "06 03 2B 06 01", 36033},
    {"oid largest second arc under 1", "OBJECT IDENTIFIER", "{1 39}", "{1 39}", "06 01 4F", 71},
    {"oid second arc in two octets", "OBJECT IDENTIFIER", "{2 999}", "{2 999}", "06 02 88 37", 1063},
    {"oid hash wraps", "OBJECT IDENTIFIER", "{1 3 6 1 4 1 9 9}", "{1 3 6 1 4 1 9 9}",
     "06 07 2B 06 01 04 01 09 09", 3423733033u},
};

TEST_F(PrimitiveTest, RoundTripsAndCopiesSurviveEveryAllocationFailure) {
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);  // ENUMERATED traces its failed copies
  for (const RoundTrip& row : kRoundTrips) {
    SCOPED_TRACE(row.name);
    Value octets(ber(md, row.ber)), v, decoded, copy;
    // Fail the 1st, 2nd, ... allocation until memory suffices: each run gives
    // values or error objects and leaks nothing; a failed copy gives the
    // allocation error object (ENUMERATED: null).
    for (long n = 1; n < 100; ++n) {
      FailNthAllocation fail(n);
      v = parse(row.type, row.text);
      decoded.reset(TUL_decode(row.type, octets.get(), md));
      bool copy_meets_it = !fail.fired();
      copy.reset(ok(v) && ok(decoded) ? TUL_copy(v.get()) : nullptr);
      if (!fail.fired()) break;
      bool enumerated = TUL_object_basic_type(v.get()) == TUL_ENUMERATED_TYPE;
      EXPECT_TRUE(!copy_meets_it || copy.release() == (enumerated ? nullptr : md->alloc_error));
    }
    ASSERT_TRUE(ok(v) && ok(decoded) && ok(copy)) << text_of(v.get()) << text_of(decoded.get());
    EXPECT_EQ(value_text(v), row.print);
    EXPECT_EQ(encode_hex(v.get()), row.ber);
    EXPECT_EQ(TUL_hash(v.get()), row.hash);
    EXPECT_TRUE(TUL_equal(v.get(), decoded.get()));
    EXPECT_TRUE(copy.get() != v.get() && copy->type_ref == v->type_ref && TUL_equal(copy.get(), v.get()));
    EXPECT_EQ(TUL_hash(copy.get()), row.hash);
    Value reparsed = parse(row.type, row.print);
    EXPECT_TRUE(ok(reparsed) && TUL_equal(v.get(), reparsed.get()));
    // Printing to memory gives the whole text or none, wherever memory runs out.
    for (long n = 1;; ++n) {
      FailNthAllocation fail(n);
      char* text = TUL_print_value(v.get(), 0);
      bool fired = fail.fired();
      EXPECT_TRUE(!text || std::string(text) == row.print) << n;
      bool whole = text != nullptr;
      std::free(text);
      if (!fired) {
        EXPECT_TRUE(whole);
        break;
      }
    }
  }
}

TEST_F(PrimitiveTest, UnequalValues) {
  const Case cases[] = {
      {"octet prefix", "OCTET STRING", "'0102'H", "'010203'H"},
      {"bit counts differ", "BIT STRING", "'101'B", "'1010'B"},
      {"integers", "INTEGER", "5", "6"},
      {"reals compare exactly", "REAL", "0.30000000000000004", "0.3"},
      {"oid last arc differs", "OBJECT IDENTIFIER", "{1 3 6 1}", "{1 3 6 2}"},
      {"oid one arc longer", "OBJECT IDENTIFIER", "{1 3 6 1}", "{1 3 6 1 0}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Value a = parse(c.type, c.input), b = parse(c.type, c.expected);
    ASSERT_TRUE(ok(a) && ok(b));
    EXPECT_FALSE(TUL_equal(a.get(), b.get()));
  }
}

// Values that init arguments can make but value notation cannot write.
TEST_F(PrimitiveTest, InitValuesOutsideTheNotation) {
  Value two(TUL_new("BOOLEAN", md, 2)), one(TUL_new("BOOLEAN", md, 1));
  EXPECT_EQ(value_text(two), "TRUE");
  EXPECT_EQ(TUL_hash(two.get()), 12345u);
  EXPECT_FALSE(TUL_equal(two.get(), one.get()));
  EXPECT_EQ(encode_hex(two.get()), "01 01 FF");
  EXPECT_EQ(value_text(Value(TUL_new("Colour", md, 1))), "greenvert");  // every matching name
  Value nan(TUL_new("REAL", md, std::nan("")));
  EXPECT_EQ(TUL_hash(nan.get()), 0u);

  // Whole octets are compared, unused bits included.
  const unsigned char a[] = {0xA0}, b[] = {0xA1};
  Value x(TUL_new("BIT STRING", md, 3, a)), y(TUL_new("BIT STRING", md, 3, b));
  EXPECT_FALSE(TUL_equal(x.get(), y.get()));
  EXPECT_STREQ(TUL_bit2string(x.get()), TUL_bit2string(y.get()));
}

TEST_F(PrimitiveTest, ParseErrorMessages) {
  const Case cases[] = {
      {"name as integer", "INTEGER", "TRUE", "INTEGER/ENUMERATED value expected"},
      {"unknown named number", "Level", "medium", "invalid INTEGER/ENUMERATED identifier"},
      {"hex string as bits", "BIT STRING", "'FF'H", "BSTRING expected"},
      {"oid first arc above 2", "OBJECT IDENTIFIER", "{ 3 1 }",
       "in OID value, first integer must be in range (0-2)"},
      {"oid comma between arcs", "OBJECT IDENTIFIER", "{1,3}", "INTEGER value expected"},
      {"oid of a single arc", "OBJECT IDENTIFIER", "{ 1 }", "INTEGER value expected"},
      {"oid upper-case name", "OBJECT IDENTIFIER", "TRUE", "'{' or template label exepected"},
      {"oid unknown label", "OBJECT IDENTIFIER", "noSuchLabel", "unknown template label as OID value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StderrCapture err;
    std::string error = text_of(parse(c.type, c.input).get());
    EXPECT_EQ(error.rfind("#11 parse error: ", 0), 0u) << error;
    EXPECT_NE(error.find(c.expected), std::string::npos) << error;
  }
}

TEST_F(PrimitiveTest, DecodeErrorsNameTheType) {
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  auto wrong = [](const char* type) { return decode_error_message("wrong encoding or data overflow", type); };
  EXPECT_EQ(mismatches(md, {
      {"boolean without contents", "BOOLEAN", "01 00", wrong("BOOLEAN")},
      {"boolean in constructed form", "BOOLEAN", "21 03 01 01 00", wrong("BOOLEAN")},
      {"integer of five octets", "INTEGER", "02 05 01 02 03 04 05", wrong("INTEGER")},
      {"real special value 42", "REAL", "09 01 42", wrong("REAL")},
      {"more unused bits than present", "BIT STRING", "03 01 07", wrong("BIT STRING")},
      {"oid subidentifier starting 80", "OBJECT IDENTIFIER", "06 02 80 01", wrong("OBJECT IDENTIFIER")},
      {"oid ending inside a subidentifier", "OBJECT IDENTIFIER", "06 02 2B 86", wrong("OBJECT IDENTIFIER")},
      {"oid without contents", "OBJECT IDENTIFIER", "06 00", wrong("OBJECT IDENTIFIER")},
      {"NULL contents are not examined", "NULL", "05 01 01", "NULL NULL => 05 00"},
  }), "");
}

TEST_F(PrimitiveTest, CopyOfEmptyOrConsumedTextHoldsOnlyTheTerminator) {
  Value empty(TUL_new("OCTET STRING", md, 0, ""));
  Value consumed(TUL_new("IA5String", md, -1, "abc"));
  std::free(TUL_consume_str(consumed.get()));
  for (const Value* v : {&empty, &consumed}) {
    Value copy(TUL_copy(v->get()));
    EXPECT_TRUE(ok(copy) && TUL_size(copy.get()) == 0);
    EXPECT_STREQ(TUL_read_str(copy.get()), "");
  }
}

TEST_F(PrimitiveTest, BitStringText) {
  Value v(TUL_new("BIT STRING", md, -1, "1"));
  EXPECT_STREQ(TUL_bit2string(v.get()), "1");
  const unsigned char bits[] = {0x60};
  ASSERT_EQ(TUL_init(v.get(), 3, bits), v.get());
  EXPECT_STREQ(TUL_bit2string(v.get()), "011");  // not the cached text

  std::string longest(40959, '1');
  ASSERT_EQ(TUL_string2bit(v.get(), longest.c_str()), v.get());
  EXPECT_EQ(TUL_bit2string(v.get()), longest);
  Value decoded(TUL_decode("BIT STRING", Value(TUL_encode(v.get())).get(), md));
  EXPECT_TRUE(ok(decoded) && TUL_equal(decoded.get(), v.get()));
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
  EXPECT_EQ(TUL_oid2string(n.get()), nullptr);
  EXPECT_EQ(TUL_string2oid(n.get(), "1 2"), nullptr);
  std::string expected;
  for (const char* function : {"TUL_bit2string", "TUL_string2bit", "TUL_oid2string", "TUL_string2oid"})
    expected += std::string("#07 an object from type 'INTEGER' is incompatibel with function '") + function + "'\n";
  EXPECT_EQ(err.take(), expected);
  EXPECT_TRUE(!TUL_bit2string(nullptr) && !TUL_string2bit(nullptr, "1") && !TUL_string2bit(n.get(), nullptr) &&
              !TUL_oid2string(nullptr) && !TUL_string2oid(nullptr, "1 2"));
}

// Whichever allocation fails, TUL_new gives the allocation error object and
// leaks nothing; with memory enough, the init arguments decide.
TEST_F(PrimitiveTest, NewUnderEveryAllocationFailure) {
  const int32_t arcs[] = {3, 1};
  struct Row {
    const char* name;
    const char* type;
    int len;
    const void* data;
    int error;
    long size;
  } rows[] = {
      {"text", "IA5String", -1, "some text", 0, 9},
      {"text without data is empty", "IA5String", -1, nullptr, 0, 0},
      {"negative octet count", "OCTET STRING", -5, "x", 21, 0},
      {"bits without data", "BIT STRING", 8, nullptr, 21, 0},
      {"first arc above 2", "OBJECT IDENTIFIER", 2, arcs, 14, 0},
      {"first arc above 2 in text", "OBJECT IDENTIFIER", -1, "9 9", 14, 0},
      {"oid text without numbers is kept, empty", "OBJECT IDENTIFIER", -1, "junk", 0, 0},
  };
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    for (long n = 1;; ++n) {
      FailNthAllocation fail(n);
      Value v(TUL_new(row.type, md, row.len, row.data));
      if (!fail.fired()) {
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->error, row.error) << text_of(v.get());
        EXPECT_EQ(row.error ? 0 : TUL_size(v.get()), row.size);
        break;
      }
      EXPECT_EQ(v.release(), md->alloc_error);
    }
  }
}

}  // namespace

// ---- wide integers ----

// Turns wide integers on for a scope; every other test runs with them off.
struct WideIntegers {
  WideIntegers() { TUL_set_wide_integers(1); }
  ~WideIntegers() { TUL_set_wide_integers(0); }
};

TEST_F(PrimitiveTest, WideIntegersDecodeEightOctetsAndRoundTrip) {
  const struct {
    const char* name;
    const char* type;
    const char* ber;
    const char* print;
    int64_t value;
  } rows[] = {
      {"TimeTicks beyond 2^31", "INTEGER", "02 05 00 80 00 00 00", "2147483648", 2147483648LL},
      {"counter of 2^32", "INTEGER", "02 05 01 00 00 00 00", "4294967296", 4294967296LL},
      {"int64 max", "INTEGER", "02 08 7F FF FF FF FF FF FF FF", "9223372036854775807", INT64_MAX},
      {"int64 min", "INTEGER", "02 08 80 00 00 00 00 00 00 00", "-9223372036854775808", INT64_MIN},
      {"negative five octets", "INTEGER", "02 05 FF 7F FF FF FF", "-2147483649", -2147483649LL},
      {"enumerated outside the names", "Colour", "0A 05 01 00 00 00 00", "4294967296 -- invalid 'Colour' value --",
       4294967296LL},
      {"32-bit values as ever", "Level", "02 01 09", "high", 9},
  };
  WideIntegers wide;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Value octets(ber(md, row.ber));
    Value v(TUL_decode(row.type, octets.get(), md));
    ASSERT_TRUE(ok(v)) << text_of(v.get());
    EXPECT_EQ(value_text(v), row.print);
    EXPECT_EQ(encode_hex(v.get()), row.ber);
    EXPECT_EQ(TUL_read_int64(v.get()), row.value);
    Value parsed = parse(row.type, row.print), made(TUL_new_int64(row.type, md, row.value));
    EXPECT_TRUE(ok(parsed) && TUL_equal(parsed.get(), v.get()));
    EXPECT_TRUE(ok(made) && TUL_equal(made.get(), v.get()) && TUL_hash(made.get()) == TUL_hash(v.get()));
    Value copy(TUL_copy(v.get()));
    EXPECT_TRUE(ok(copy) && TUL_equal(copy.get(), v.get()));
  }
  // Texts beyond the 64-bit range saturate as 32-bit ones do without the switch.
  EXPECT_EQ(value_text(parse("INTEGER", "99999999999999999999")), "9223372036854775807");
  EXPECT_EQ(value_text(parse("INTEGER", "-99999999999999999999")), "-9223372036854775808");
  EXPECT_EQ(TUL_read_int(Value(TUL_new_int64("INTEGER", md, -5000000000LL)).get()), -5000000000L);
}

TEST_F(PrimitiveTest, WideIntegersLimitsAndTheSwitchOff) {
  StderrCapture err;
  const std::string overflow = "#17 decode error: 'wrong encoding or data overflow' in an object from type 'INTEGER'";
  EXPECT_EQ(decode_error_text(md, "INTEGER", "02 05 00 80 00 00 00"), overflow);  // off: 4 octets at most
  {
    WideIntegers wide;
    EXPECT_EQ(decode_error_text(md, "INTEGER", "02 09 00 80 00 00 00 00 00 00 00"), overflow);
    Value wrong(TUL_new_int64("OCTET STRING", md, 1));
    EXPECT_EQ(wrong ? wrong->error : 0, TUL_ERR_INCOMPATIBLE);
  }
  Value too_wide(TUL_new_int64("INTEGER", md, INT64_C(1) << 40));
  EXPECT_EQ(too_wide ? too_wide->error : 0, TUL_ERR_ARGUMENT);
  // Off again: a value made wide reads, prints and encodes as its low 32 bits.
  Value v;
  {
    WideIntegers wide;
    v.reset(TUL_new_int64("INTEGER", md, (INT64_C(1) << 32) + 7));
  }
  EXPECT_EQ(TUL_read_int64(v.get()), 7);
  EXPECT_EQ(value_text(v), "7");
  EXPECT_EQ(encode_hex(v.get()), "02 01 07");
  EXPECT_EQ(value_text(parse("INTEGER", "4294967296")), "2147483647");
  err.take();
}
