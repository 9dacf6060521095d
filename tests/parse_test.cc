// Value notation: the tokenizer, the shared parse and print functions, the
// print buffer and the parse and print drivers.
#include "parse.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dtd.h"
#include "support/dictionary_test.h"

namespace {

using tul::test::DictionaryTest;
using tul::test::FailNthAllocation;
using tul::test::StderrCapture;

constexpr const char* kEof = "#20 EOF detected while parsing";

std::string parse_error(const std::string& message, int line, const std::string& last) {
  return "#11 parse error: " + message + ", line: " + std::to_string(line) + ", last token: " + last;
}

// A character source over any bytes (NULs included) that counts its reads.
struct ByteSource {
  std::string bytes;
  size_t pos = 0;
  int reads = 0;
  static int next(void* p) {
    auto* s = static_cast<ByteSource*>(p);
    ++s->reads;
    if (s->pos >= s->bytes.size()) return -1;
    return static_cast<unsigned char>(s->bytes[s->pos++]);
  }
};

std::string describe_token(const TULP_ParseContext& ctx) {
  static const char* const kKinds[] = {"{", "}", ",", ":", "lower", "upper", "string", "hstring", "bstring", "number"};
  if (ctx.id < TULP_LOWER_NAME) return kKinds[ctx.id];
  if (ctx.id > TULP_NUMBER) return "none";
  return std::string(kKinds[ctx.id]) + "(" + std::string(ctx.buffer, ctx.len) + ")";
}

class ParseTest : public DictionaryTest {
 protected:
  void SetUp() override {
    DictionaryTest::SetUp();
    TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  }

  struct Lexed {
    std::string tokens;  // blank-separated descriptions
    std::string error;   // text of the recorded error, "" for none
    int line = 0;
  };

  // Tokenizes `text` until the first recorded error (every input ends with
  // one: end of input) or `limit` tokens.
  Lexed lex(const std::string& text, int limit = 50) {
    ByteSource source{text};
    TULP_ParseContext ctx;
    tul::parse::start_run(&ctx, md, &source, ByteSource::next, 1);
    Lexed out;
    for (int i = 0; i < limit && !ctx.error; ++i) {
      if (!out.tokens.empty()) out.tokens += ' ';
      out.tokens += describe_token(ctx);
      TULP_get_token(&ctx);
    }
    out.error = text_of(ctx.error);
    out.line = ctx.line_nbr;
    TUL_free(ctx.error);
    return out;
  }

  // A context over `text` with its first token loaded. The caller releases
  // ctx.error.
  void load(TULP_ParseContext* ctx, const char* text) {
    cursor_ = text;
    tul::parse::start_run(ctx, md, &cursor_, tul::parse::_get_next_char, 1);
  }

  // Enters "name ::= base" with optional named numbers or members.
  void define(const char* name, const char* base, std::vector<TUL_EnumList> enums = {},
              std::vector<TUL_Asn1Type> members = {}) {
    TUL_Asn1TypeEntry e{};
    e.name = const_cast<char*>(name);
    e.type = const_cast<char*>(base);
    e.enums = static_cast<int32_t>(enums.size());
    e.enum_list = enums.empty() ? nullptr : enums.data();
    e.size = static_cast<int32_t>(members.size());
    e.members = members.empty() ? nullptr : members.data();
    _TUL_add_definition(md, reinterpret_cast<TUL_Entry*>(&e), nullptr);
  }

  static TUL_Asn1Type member(const char* name, const char* type, std::vector<TUL_EnumList>* enums = nullptr,
                             int32_t opt_def = TUL_MANDATORY) {
    TUL_Asn1Type m{};
    m.name = const_cast<char*>(name);
    m.type = const_cast<char*>(type);
    m.opt_def = opt_def;
    if (enums) {
      m.enums = static_cast<int32_t>(enums->size());
      m.enum_list = enums->data();
    }
    return m;
  }

  // The printed typed value, or the error text when the parse failed.
  std::string round(const char* text) { return describe(TUL_parse_str(md, text)); }

  // The printed typed value of a parse result, or its error text; the
  // result is released.
  std::string describe(TUL_Object* obj) {
    std::string out;
    if (!obj) return "(null)";
    if (obj->error) {
      out = text_of(obj);
    } else {
      char* printed = TUL_print2str(obj);
      out = printed ? printed : "(null)";
      free(printed);
    }
    TUL_free(obj);
    return out;
  }

 private:
  const char* cursor_ = nullptr;
};

/* ------------------------------------------------------------------------
 * Tokenizer
 * ---------------------------------------------------------------------- */

struct TokenRow {
  const char* name;
  std::string input;
  const char* tokens;
  std::string error;
  int line;
};

TEST_F(ParseTest, Tokens) {
  const TokenRow rows[] = {
      {"white space counts newlines", "  \t\n\n TRUE", "upper(TRUE)", kEof, 3},
      {"comment closed inside the line", "-- a comment --TRUE", "upper(TRUE)", kEof, 1},
      {"comment to the end of the line", "-- comment\nFALSE", "upper(FALSE)", kEof, 2},
      {"comment to the end of input", "x -- no end", "lower(x)", kEof, 1},
      {"empty comment", "----y", "lower(y)", kEof, 1},
      {"lone dash inside a comment", "-- a - b -- z", "lower(z)", kEof, 1},
      {"negative number with exponent", "-12.5e+3", "number(-12.5e+3)", kEof, 1},
      {"number form unchecked", "1-2 1e+ 7", "number(1-2) number(1e+) number(7)", kEof, 1},
      {"dash before a brace is dropped", "-{", "{", kEof, 1},
      {"hyphens and dots in names", "a-b.c Abc x1 TUL.Asn1", "lower(a-b.c) upper(Abc) lower(x1) upper(TUL.Asn1)",
       kEof, 1},
      {"double dash after a name is part of it", "A--B", "upper(A--B)", kEof, 1},
      {"bit string", "'0101'B", "bstring(0101)", kEof, 1},
      {"hex string", "'0aF3'H", "hstring(0aF3)", kEof, 1},
      {"contents not checked", "'12'B ''H", "bstring(12) hstring()", kEof, 1},
      {"single and double quotes", "'abc' \"abc\"", "string(abc) string(abc)", kEof, 1},
      {"lower-case suffix is a name", "'01'b", "string(01) lower(b)", kEof, 1},
      {"escaped quote and backslash", "\"a\\\"b\\\\c\"", "string(a\"b\\c)", kEof, 1},
      {"hex escape", "\"\\x41\\x6a\"", "string(Aj)", kEof, 1},
      {"newlines inside strings count", "\"a\nb\" 'c\nd' e", "string(a\nb) string(c\nd) lower(e)", kEof, 3},
      {"punctuation", "{x,y:}", "{ lower(x) , lower(y) : }", kEof, 1},
      {"empty input", "", "", kEof, 1},
      {"dash then letter", "-x", "", parse_error("unexpected character in input stream", 1, "x"), 1},
      {"dash then blank", "- 5", "", parse_error("unexpected character in input stream", 1, " "), 1},
      {"carriage return", "a\r\nb", "lower(a)", parse_error("unexpected character in input stream", 1, "\r"), 1},
      {"parenthesis on line 3", "a\n\n(", "lower(a)", parse_error("unexpected character in input stream", 3, "("),
       3},
      {"character above 125", "~", "", parse_error("unexpected character in input stream", 1, "~"), 1},
      {"form feed", "\f", "", parse_error("unexpected character in input stream", 1, "\f"), 1},
      {"unclosed double quote", "x \"abc", "lower(x)",
       parse_error("string too long, string termination character missing?", 1, "TOKEN too large"), 1},
      {"unclosed single quote", "'ab\n", "",
       parse_error("string too long, string termination character missing?", 2, "TOKEN too large"), 2},
      {"input ends after backslash", "\"a\\", "",
       parse_error("string too long, string termination character missing?", 1, "TOKEN too large"), 1},
      {"input ends inside a hex escape", "\"\\x4", "",
       parse_error("string too long, string termination character missing?", 1, "TOKEN too large"), 1},
      {"bad escape reports the text so far", "x\n\"ab\\q\"",
       "lower(x)", parse_error("after backslash only backslash or quote accepted", 2, "ab"), 2},
  };
  for (const TokenRow& row : rows) {
    SCOPED_TRACE(row.name);
    Lexed got = lex(row.input);
    EXPECT_EQ(got.tokens, row.tokens);
    EXPECT_EQ(got.error, row.error);
    EXPECT_EQ(got.line, row.line);
  }
}

TEST_F(ParseTest, BinaryBytesAreUnexpected) {
  for (int c : {0, 1, 0x7f, 0x80, 0xff}) {
    SCOPED_TRACE(c);
    Lexed got = lex(std::string("a ") + static_cast<char>(c));
    EXPECT_EQ(got.tokens, "lower(a)");
    EXPECT_EQ(got.error, parse_error("unexpected character in input stream", 1, std::string(1, static_cast<char>(c)).c_str()));
  }
}

TEST_F(ParseTest, BadEscapeKeepsTheCharacter) {
  TULP_ParseContext ctx;
  load(&ctx, "\"a\\qb\"");
  ASSERT_NE(ctx.error, nullptr);
  EXPECT_EQ(ctx.id, TULP_STRING);
  EXPECT_STREQ(ctx.buffer, "aqb");
  EXPECT_EQ(ctx.len, 3);
  TUL_free(ctx.error);
}

TEST_F(ParseTest, HexEscapeMakesAnyByte) {
  TULP_ParseContext ctx;
  load(&ctx, "\"\\xff\\x00\\xzz\"");
  EXPECT_EQ(ctx.error, nullptr);
  ASSERT_EQ(ctx.len, 3);
  EXPECT_EQ(static_cast<unsigned char>(ctx.buffer[0]), 0xff);
  EXPECT_EQ(ctx.buffer[1], '\0');
  EXPECT_EQ(ctx.buffer[2], '\0');  // non-hex digits count as 0
}

TEST_F(ParseTest, TokenLengthLimits) {
  struct Row {
    const char* name;
    std::string prefix, suffix;
    char fill;
    const char* kind;
    const char* message;
  };
  const Row rows[] = {
      {"name", "", " ", 'a', "lower", "name too long"},
      {"number", "", " ", '7', "number", "number too long"},
      {"double-quoted string", "\"", "\" ", 's', "string", "string too long, string termination character missing?"},
      {"single-quoted string", "'", "' ", 's', "string", "string too long, string termination character missing?"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string longest(TULP_MAX_TOKEN - 1, row.fill);
    Lexed fits = lex(row.prefix + longest + row.suffix);
    EXPECT_EQ(fits.tokens, std::string(row.kind) + "(" + longest + ")");
    EXPECT_EQ(fits.error, kEof);

    Lexed too_long = lex(row.prefix + longest + row.fill + row.suffix);
    EXPECT_EQ(too_long.tokens, "");
    EXPECT_EQ(too_long.error, parse_error(row.message, 1, "TOKEN too large"));
  }
}

TEST_F(ParseTest, NothingIsReadAfterALexicalError) {
  ByteSource source{"a ( b c d e f"};
  TULP_ParseContext ctx;
  tul::parse::start_run(&ctx, md, &source, ByteSource::next, 1);
  TULP_get_token(&ctx);
  ASSERT_NE(ctx.error, nullptr);
  TUL_Object* first = ctx.error;
  int reads = source.reads;
  for (int i = 0; i < 5; ++i) TULP_get_token(&ctx);
  EXPECT_EQ(source.reads, reads);
  EXPECT_EQ(ctx.error, first);  // the first error stays
  EXPECT_EQ(ctx.ch, '\0');
  TUL_free(ctx.error);
}

TEST_F(ParseTest, PunctuationLeavesLengthAlone) {
  TULP_ParseContext ctx;
  load(&ctx, "abc {");
  EXPECT_EQ(ctx.len, 3);
  TULP_get_token(&ctx);
  EXPECT_EQ(ctx.id, TULP_OPEN_BRACE);
  EXPECT_STREQ(ctx.buffer, "{");
  EXPECT_EQ(ctx.len, 3);
  EXPECT_EQ(ctx.error, nullptr);
}

TEST_F(ParseTest, HexToChar) {
  EXPECT_EQ(_hex2char('4', '1'), 'A');
  EXPECT_EQ(_hex2char('f', 'F'), 0xff);
  EXPECT_EQ(_hex2char('z', '1'), 0x01);
  EXPECT_EQ(_hex2char(0xff, -1), 0x00);
}

/* ------------------------------------------------------------------------
 * Shared parse functions
 * ---------------------------------------------------------------------- */

struct FunctionRow {
  const char* name;
  const char* input;
  std::string (*call)(TULP_ParseContext*);
  std::string result;
  std::string error;
};

std::string boolean(TULP_ParseContext* c) { return std::to_string(TULP_parse_boolean(c)); }
std::string integer(TULP_ParseContext* c) { return std::to_string(TULP_parse_integer(c)); }
std::string real(TULP_ParseContext* c) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", TULP_parse_real(c));
  return text;
}
std::string null(TULP_ParseContext* c) {
  TULP_parse_null(c);
  return "";
}
std::string bits(TULP_ParseContext* c) {
  int len = -1;
  char* s = TULP_parse_bitstring(c, &len);
  return (s ? std::string(s) : "(null)") + "/" + std::to_string(len);
}
std::string octets(TULP_ParseContext* c) {
  int len = -1;
  bool hex = c->id == TULP_HSTRING;
  char* s = TULP_parse_octet(c, &len);
  std::string out = s ? std::string(s, len) : "(null)";
  if (hex) free(s);
  return out + "/" + std::to_string(len);
}
std::string local_name(TULP_ParseContext* c) {
  char* s = TULP_parse_local_name(c);
  if (!s) return "(null)";
  return s == TUL_unique_string(s) ? s : "(not interned)";
}
std::string type_name(TULP_ParseContext* c) {
  char* s = TULP_parse_type_name(c);
  if (!s) return "(null)";
  return s == TUL_unique_string(s) ? s : "(not interned)";
}

TEST_F(ParseTest, SharedParseFunctions) {
  const std::string expected_name = "ASN.1 definition name expected";
  const FunctionRow rows[] = {
      {"TRUE", "TRUE", boolean, "1", ""},
      {"FALSE", "FALSE", boolean, "0", ""},
      {"lower-case true", "true", boolean, "0", parse_error("TRUE or FALSE expected", 1, "true")},
      {"integer", "42", integer, "42", ""},
      {"negative integer", "-7", integer, "-7", ""},
      {"integer saturates above", "99999999999", integer, "2147483647", ""},
      {"integer saturates below", "-99999999999", integer, "-2147483648", ""},
      {"integer takes the longest prefix", "12-3e4", integer, "12", ""},
      {"integer from a name", "x", integer, "0", parse_error("INTEGER value expected", 1, "x")},
      {"real", "-12.5e+3", real, "-12500", ""},
      {"real takes the longest prefix", "1e+", real, "1", ""},
      {"plus infinity", "PLUS-INFINITY", real, "inf", ""},
      {"minus infinity", "MINUS-INFINITY", real, "-inf", ""},
      {"no bare infinity", "INFINITY", real, "0", parse_error("REAL value expected", 1, "INFINITY")},
      {"NULL", "NULL", null, "", ""},
      {"lower-case null", "null", null, "", parse_error("NULL value expected", 1, "null")},
      {"bit string", "'0101'B", bits, "0101/4", ""},
      {"hex is no bit string", "'01'H", bits, "(null)/0", parse_error("BSTRING expected", 1, "01")},
      {"quoted octets", "'ab'", octets, "ab/2", ""},
      {"hex octets", "'4142'H", octets, "AB/2", ""},
      {"bad hex gives nothing, silently", "'zz'H", octets, "(null)/0", ""},
      {"number is no octet string", "5", octets, "(null)/0", parse_error("STRING or HSTRING expected", 1, "5")},
      {"local name", "abc", local_name, "abc", ""},
      {"upper-case local name", "Abc", local_name, "(null)",
       parse_error("local name (in SEQUENCE/SET or CHOICE) expected", 1, "Abc")},
      {"one-word type name", "BOOLEAN", type_name, "BOOLEAN", ""},
      {"OCTET STRING", "OCTET STRING", type_name, "OCTET STRING", ""},
      {"BIT STRING", "BIT\nSTRING", type_name, "BIT STRING", ""},
      {"SEQUENCE OF", "SEQUENCE OF", type_name, "SEQUENCE OF", ""},
      {"SET OF", "SET -- c -- OF", type_name, "SET OF", ""},
      {"OBJECT IDENTIFIER", "OBJECT IDENTIFIER", type_name, "OBJECT IDENTIFIER", ""},
      {"OCTET alone", "OCTET 'FF'H", type_name, "(null)", parse_error("OCTET STRING expected", 1, "FF")},
      {"BIT then OF", "BIT OF", type_name, "(null)", parse_error("BIT STRING expected", 1, "OF")},
      {"SEQUENCE then a brace", "SEQUENCE {", type_name, "(null)", parse_error("SEQUENCE OF expected", 1, "{")},
      {"SET then STRING", "SET STRING", type_name, "(null)", parse_error("SET OF expected", 1, "STRING")},
      {"OBJECT on its own line", "OBJECT\nID", type_name, "(null)", parse_error("OBJECT IDENTIFIER expected", 2, "ID")},
      {"first word at end of input", "OCTET", type_name, "(null)", kEof},
      {"lower-case type name", "true", type_name, "(null)", parse_error(expected_name, 1, "true")},
      {"name never seen", "Zqxv", type_name, "(null)", parse_error(expected_name, 1, "Zqxv")},
  };
  for (const FunctionRow& row : rows) {
    SCOPED_TRACE(row.name);
    TULP_ParseContext ctx;
    load(&ctx, row.input);
    EXPECT_EQ(row.call(&ctx), row.result);
    EXPECT_EQ(text_of(ctx.error), row.error);
    TUL_free(ctx.error);
  }
}

TEST_F(ParseTest, ParseFunctionsKeepTheFirstError) {
  TULP_ParseContext ctx;
  load(&ctx, "x");
  TULP_parse_boolean(&ctx);
  TUL_Object* first = ctx.error;
  TULP_parse_null(&ctx);
  TULP_parse_integer(&ctx);
  EXPECT_EQ(ctx.error, first);
  EXPECT_EQ(text_of(ctx.error), parse_error("TRUE or FALSE expected", 1, "x"));
  TUL_free(ctx.error);
}

TEST_F(ParseTest, HexToString) {
  struct Row {
    const char* name;
    const char* input;
    std::vector<unsigned char> bytes;
    bool ok;
  };
  const Row rows[] = {
      {"odd digit fills the high nibble", "ABC", {0xab, 0xc0}, true},
      {"lower and upper case", "ff0a", {0xff, 0x0a}, true},
      {"one digit", "7", {0x70}, true},
      {"empty text", "", {}, true},
      {"non-hex digit", "0g", {}, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    int len = -1;
    char* block = TULP_hex2string(row.input, &len);
    EXPECT_EQ(block != nullptr, row.ok);
    ASSERT_EQ(len, static_cast<int>(row.bytes.size()));
    if (block) {
      EXPECT_EQ(std::vector<unsigned char>(block, block + len), row.bytes);
    }
    free(block);
  }
}

TEST_F(ParseTest, HexToStringUnderMemoryShortage) {
  FailNthAllocation fail(1);
  int len = -1;
  EXPECT_EQ(TULP_hex2string("abcd", &len), nullptr);
  EXPECT_EQ(len, 0);
}

TEST_F(ParseTest, NamedNumbers) {
  std::vector<TUL_EnumList> colours = {{const_cast<char*>("red"), 1}, {const_cast<char*>("green"), 2},
                                       {const_cast<char*>("red"), 3}};
  define("Colour", "ENUMERATED", colours);
  std::vector<TUL_EnumList> local = {{TUL_unique_string("low"), 10}, {TUL_unique_string("low"), 11}};
  TUL_Asn1Type with_local = member("level", "INTEGER", &local);

  struct Row {
    const char* name;
    const char* input;
    bool local;
    long value;
    std::string error;
  };
  const Row rows[] = {
      {"number", "7", false, 7, ""},
      {"the last matching name wins", "red", false, 3, ""},
      {"name", "green", false, 2, ""},
      {"unknown name", "blue", false, 0, parse_error("invalid INTEGER/ENUMERATED identifier", 1, "blue")},
      {"upper-case name", "Red", false, 0, parse_error("INTEGER/ENUMERATED value expected", 1, "Red")},
      {"local: the first matching name wins", "low", true, 10, ""},
      {"local: number", "-4", true, -4, ""},
      {"local: the type's names do not count", "red", true, 0,
       parse_error("invalid INTEGER/ENUMERATED identifier", 1, "red")},
      {"local: brace", "{", true, 0, parse_error("INTEGER/ENUMERATED value expected", 1, "{")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TUL_Object* obj = TUL_alloc(row.local ? "INTEGER" : "Colour", md);
    ASSERT_NE(obj, nullptr);
    ASSERT_EQ(obj->error, 0);
    TULP_ParseContext ctx;
    load(&ctx, row.input);
    if (row.local) {
      TULP_parse_local(&with_local, &ctx, obj);
    } else {
      TUL_Object* result = TULP_parse_enum(obj, &ctx);
      EXPECT_EQ(result, row.error.empty() ? obj : nullptr);
    }
    EXPECT_EQ(text_of(ctx.error), row.error);
    if (row.error.empty()) {
      EXPECT_EQ(reinterpret_cast<TUL_Integer*>(obj)->integer, row.value);
    }
    TUL_free(ctx.error);
    TUL_free(obj);
  }
}

TEST_F(ParseTest, PrintLocal) {
  std::vector<TUL_EnumList> local = {{TUL_unique_string("one"), 1}, {TUL_unique_string("uno"), 1}};
  TUL_Asn1Type t = member("m", "INTEGER", &local);
  define("Mode", "ENUMERATED");
  struct Row {
    const char* type;
    int value;
    const char* text;
  };
  const Row rows[] = {
      {"INTEGER", 1, "one"},  // the first entry carrying the value
      {"INTEGER", -2, "-2"},
      {"Mode", 1, "one"},
      {"Mode", 5, "5 -- invalid value --"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.type) + " " + std::to_string(row.value));
    TUL_Object* obj = TUL_alloc(row.type, md);
    ASSERT_NE(obj, nullptr);
    reinterpret_cast<TUL_Integer*>(obj)->integer = row.value;
    TULP_PrintBuffer buf{malloc(512), 512, 512, nullptr};
    buf.pos = static_cast<char*>(buf.ptr);
    TULP_PrintContext ctx{&buf, _printc, _prints, 0};
    TULP_print_local(&ctx, &t, obj);
    _printc('\0', &buf);
    EXPECT_STREQ(static_cast<char*>(buf.ptr), row.text);
    free(buf.ptr);
    TUL_free(obj);
  }
}

/* ------------------------------------------------------------------------
 * Nesting bound
 * ---------------------------------------------------------------------- */

TEST_F(ParseTest, NestingGuardStopsAtTheBound) {
  TULP_ParseContext ctx;
  load(&ctx, "x");
  std::vector<tul::parse::NestingGuard*> guards;
  for (int i = 0; i < tul::parse::kMaxParseNesting; ++i) {
    guards.push_back(new tul::parse::NestingGuard(&ctx));
    ASSERT_TRUE(*guards.back());
  }
  EXPECT_EQ(ctx.error, nullptr);
  {
    tul::parse::NestingGuard too_deep(&ctx);
    EXPECT_FALSE(too_deep);
  }
  EXPECT_EQ(tul::parse::nesting_depth(), tul::parse::kMaxParseNesting);
  EXPECT_EQ(text_of(ctx.error), parse_error("value nested too deeply", 1, "x"));
  for (auto* g : guards) delete g;
  EXPECT_EQ(tul::parse::nesting_depth(), 0);
  TUL_free(ctx.error);
}

/* ------------------------------------------------------------------------
 * Print buffer and indentation
 * ---------------------------------------------------------------------- */

TEST_F(ParseTest, PrintBufferGrowsInSteps) {
  TULP_PrintBuffer buf{malloc(512), 512, 512, nullptr};
  buf.pos = static_cast<char*>(buf.ptr);
  std::string expected;
  for (int i = 0; i < 1500; ++i) {
    char c = static_cast<char>('a' + i % 26);
    expected += c;
    if (i % 3)
      _printc(c, &buf);
    else
      _prints(std::string(1, c).c_str(), &buf);
    // One byte is always left for the terminating NUL.
    ASSERT_LT(buf.pos - static_cast<char*>(buf.ptr), buf.size);
  }
  _printc('\0', &buf);
  EXPECT_EQ(buf.size % 512, 0);
  EXPECT_EQ(buf.size, 1536);
  EXPECT_EQ(std::string(static_cast<char*>(buf.ptr)), expected);
  free(buf.ptr);
}

TEST_F(ParseTest, PrintBufferThatCannotGrowGivesNoText) {
  TULP_PrintBuffer buf{malloc(512), 512, 512, nullptr};
  buf.pos = static_cast<char*>(buf.ptr);
  std::string text(600, 'x');
  {
    FailNthAllocation fail(1);
    _prints(text.c_str(), &buf);
    EXPECT_TRUE(fail.fired());
  }
  EXPECT_EQ(buf.ptr, nullptr);
  _prints("more", &buf);  // dropped, no crash
  EXPECT_EQ(buf.ptr, nullptr);
}

TEST_F(ParseTest, PrintToContextIndents) {
  struct Row {
    int level;
    int indent;
    const char* text;
  };
  const Row rows[] = {{0, 1, "x"}, {1, 1, "    x"}, {2, 1, "\tx"}, {3, 1, "\t    x"}, {5, 1, "\t\t    x"},
                      {3, 0, "x"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.level);
    TULP_PrintBuffer buf{malloc(512), 512, 512, nullptr};
    buf.pos = static_cast<char*>(buf.ptr);
    TULP_PrintContext ctx{&buf, _printc, _prints, row.level};
    TUL_print2ctx("x", &ctx, row.indent);
    _printc('\0', &buf);
    EXPECT_STREQ(static_cast<char*>(buf.ptr), row.text);
    free(buf.ptr);
  }
  TUL_print2ctx("x", nullptr, 1);  // nothing
}

TEST_F(ParseTest, NullObjectsPrintEmptyTexts) {
  char* a = TUL_print2str(nullptr);
  char* b = TUL_print_value(nullptr, 3);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_STREQ(a, "");
  EXPECT_STREQ(b, "");
  free(a);
  free(b);
  TUL_print(nullptr, stdout);
}

/* ------------------------------------------------------------------------
 * Drivers
 * ---------------------------------------------------------------------- */

TEST_F(ParseTest, NullArgumentsTraceAndGiveNull) {
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 1);
  StderrCapture err;
  EXPECT_EQ(TUL_parse_str(nullptr, "BOOLEAN TRUE"), nullptr);
  EXPECT_EQ(TUL_parse_str(md, nullptr), nullptr);
  EXPECT_EQ(TUL_parse(md, nullptr, nullptr), nullptr);
  EXPECT_EQ(TUL_parse_value(nullptr, "TRUE"), nullptr);
  EXPECT_EQ(err.take(),
            "#21 invalid argument(s) in function 'TUL_parse_str'\n"
            "#21 invalid argument(s) in function 'TUL_parse_str'\n"
            "#21 invalid argument(s) in function 'TUL_parse'\n");
}

TEST_F(ParseTest, TypedValues) {
  struct Row {
    const char* name;
    const char* input;
    std::string output;  // the print of the value, or the error text
  };
  const Row rows[] = {
      {"boolean", "BOOLEAN TRUE", "BOOLEAN TRUE"},
      {"white space and comments anywhere", "\n -- c\n BOOLEAN\t--x--FALSE", "BOOLEAN FALSE"},
      {"text after the value is not read", "BOOLEAN TRUE FALSE ((", "BOOLEAN TRUE"},
      {"integer", "INTEGER -5", "INTEGER -5"},
      {"null", "NULL NULL", "NULL NULL"},
      {"octet string from hex", "OCTET STRING 'FF'H", "OCTET STRING 'FF'H"},
      {"character string", "IA5String 'it''s'", "IA5String \"it\""},
      {"empty text", "", kEof},
      {"type name only", "BOOLEAN", kEof},
      {"lower-case type name", "true", parse_error("ASN.1 definition name expected", 1, "true")},
      {"OCTET without STRING", "OCTET \"ab\"", parse_error("OCTET STRING expected", 1, "ab")},
      {"name never seen", "Qzzyx 1", parse_error("ASN.1 definition name expected", 1, "Qzzyx")},
      {"known string that is no type", "TRUE 1", "#04 no ASN.1 definition with name 'TRUE' found"},
      {"bad value", "BOOLEAN\n\nMAYBE", parse_error("TRUE or FALSE expected", 3, "MAYBE")},
      {"lexical error in the value", "INTEGER (", parse_error("unexpected character in input stream", 1, "(")},
  };
  TUL_unique_string("TRUE");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(round(row.input), row.output);
  }
}

TEST_F(ParseTest, ParseValueUsesTheObjectsType) {
  TUL_Object* obj = TUL_new("INTEGER", md, 1);
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ(TUL_parse_value(obj, " 42 "), obj);
  EXPECT_EQ(TUL_read_int(obj), 42);

  TUL_Object* error = TUL_parse_value(obj, "TRUE");
  ASSERT_NE(error, nullptr);
  ASSERT_NE(error, obj);
  EXPECT_EQ(text_of(error), parse_error("INTEGER/ENUMERATED value expected", 1, "TRUE"));
  TUL_free(error);

  error = TUL_parse_value(obj, "");
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->error, 20);
  TUL_free(error);
  EXPECT_EQ(TUL_read_int(obj), 42);
  TUL_free(obj);
}

TEST_F(ParseTest, StreamsHoldSuccessiveValues) {
  struct Step {
    std::string result;  // printed value or error text
    int line;            // handed back after the call
  };
  struct Row {
    const char* name;
    std::string text;
    int first_line;
    std::vector<Step> steps;
  };
  const Row rows[] = {
      {"values on their own lines", "BOOLEAN TRUE\nINTEGER\n  7\n-- end\n", 1,
       {{"BOOLEAN TRUE", 2}, {"INTEGER 7", 4}, {kEof, 5}, {kEof, 5}}},
      {"errors count from the first line", "\nBOOLEAN YES\n", 10,
       {{parse_error("TRUE or FALSE expected", 11, "YES"), 12}}},
      {"values on one line", "NULL NULL INTEGER 3,BOOLEAN FALSE", 1,
       {{"NULL NULL", 1}, {"INTEGER 3", 1}, {"BOOLEAN FALSE", 1}, {kEof, 1}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string text = row.text;
    FILE* f = fmemopen(text.data(), text.size(), "r");
    ASSERT_NE(f, nullptr);
    int line = row.first_line;
    for (const Step& step : row.steps) {
      EXPECT_EQ(describe(TUL_parse(md, f, &line)), step.result);
      EXPECT_EQ(line, step.line);
    }
    fclose(f);
  }
}

TEST_F(ParseTest, PrintToStream) {
  TUL_Object* obj = TUL_parse_str(md, "BOOLEAN TRUE");
  ASSERT_NE(obj, nullptr);
  FILE* f = tmpfile();
  ASSERT_NE(f, nullptr);
  TUL_print(obj, f);
  TUL_print(obj, nullptr);
  rewind(f);
  char line[64] = {};
  ASSERT_NE(fgets(line, sizeof line, f), nullptr);
  EXPECT_STREQ(line, "BOOLEAN TRUE\n");
  EXPECT_EQ(fgetc(f), EOF);
  fclose(f);
  TUL_free(obj);
}

TEST_F(ParseTest, PrintValueIgnoresLevelForPrimitives) {
  TUL_Object* obj = TUL_new("INTEGER", md, 5);
  for (int level : {0, 3, -1}) {
    char* text = TUL_print_value(obj, level);
    EXPECT_STREQ(text, "5");
    free(text);
  }
  TUL_free(obj);
}

TEST_F(ParseTest, LongTextsPrintWhole) {
  std::string hex;
  for (int i = 0; i < 700; ++i) hex += "A5";
  std::string typed = "OCTET STRING '" + hex + "'H";
  EXPECT_EQ(round(typed.c_str()), typed);
}

TEST_F(ParseTest, PrintUnderMemoryShortage) {
  std::string hex(1400, 'B');
  TUL_Object* obj = TUL_parse_str(md, ("OCTET STRING '" + hex + "'H").c_str());
  ASSERT_NE(obj, nullptr);
  ASSERT_EQ(obj->error, 0);
  for (long n = 1;; ++n) {
    FailNthAllocation fail(n);
    char* text = TUL_print2str(obj);
    if (!fail.fired()) {
      ASSERT_NE(text, nullptr);
      EXPECT_EQ(std::strlen(text), 13 + 3 + hex.size());
      free(text);
      break;
    }
    EXPECT_EQ(text, nullptr) << "allocation " << n;
  }
  TUL_free(obj);
}

TEST_F(ParseTest, ParseUnderMemoryShortage) {
  for (const char* text : {"BOOLEAN TRUE", "OCTET STRING '0102'H", "IA5String \"abc\""}) {
    SCOPED_TRACE(text);
    for (long n = 1;; ++n) {
      FailNthAllocation fail(n);
      TUL_Object* obj = TUL_parse_str(md, text);
      bool fired = fail.fired();
      ASSERT_NE(obj, nullptr);
      if (!fired) {
        EXPECT_EQ(obj->error, 0);
        TUL_free(obj);
        break;
      }
      // Either the shortage was met and reported, or it hit nothing that
      // mattered to this value.
      if (obj->error) {
        EXPECT_EQ(obj->error, 2) << "allocation " << n;
      }
      TUL_free(obj);
    }
  }
}

/* ------------------------------------------------------------------------
 * Constructed values through the drivers
 * ---------------------------------------------------------------------- */

class ConstructedParseTest : public ParseTest {
 protected:
  void SetUp() override {
    ParseTest::SetUp();
    define("Tags", "SEQUENCE OF", {}, {member(nullptr, "IA5String")});
    define("Pick", "CHOICE", {}, {member("n", "INTEGER"), member("p", "Pick"), member("list", "Anys")});
    define("Anys", "SET OF", {}, {member(nullptr, "ANY")});
    levels_ = {{TUL_unique_string("low"), 1}, {TUL_unique_string("high"), 9}};
    define("Report", "SEQUENCE", {},
           {member("ok", "BOOLEAN"), member("count", "INTEGER"), member("tags", "Tags"), member("pick", "Pick"),
            member("level", "INTEGER", &levels_, TUL_OPTIONAL), member("any", "ANY", nullptr, TUL_OPTIONAL)});
    define("Options", "SET", {},
           {member("level", "INTEGER", &levels_, TUL_OPTIONAL), member("any", "ANY", nullptr, TUL_OPTIONAL)});
  }

  // "Pick p : p : ... n : 1" with `depth` alternatives p.
  static std::string pick_chain(int depth) {
    std::string text = "Pick ";
    for (int i = 0; i < depth; ++i) text += "p : ";
    return text + "n : 1";
  }

  std::vector<TUL_EnumList> levels_;
};

TEST_F(ConstructedParseTest, PrintLayoutAndRoundTrip) {
  const char* printed =
      "Report {\n"
      "    ok TRUE,\n"
      "    count 5,\n"
      "    tags {\n"
      "\t\"a\",\n"
      "\t\"b\"\n"
      "    },\n"
      "    pick n : 3\n"
      "}";
  TUL_Object* compact = TUL_parse_str(md, "Report{pick n:3,tags{\"a\",'b'},count 5,ok TRUE}");
  ASSERT_NE(compact, nullptr);
  ASSERT_EQ(compact->error, 0) << text_of(compact);
  char* text = TUL_print2str(compact);
  EXPECT_STREQ(text, printed);

  TUL_Object* again = TUL_parse_str(md, text);
  ASSERT_NE(again, nullptr);
  ASSERT_EQ(again->error, 0) << text_of(again);
  EXPECT_TRUE(TUL_equal(compact, again));
  free(text);
  TUL_free(again);
  TUL_free(compact);
}

TEST_F(ConstructedParseTest, PrintValueShiftsInnerLines) {
  TUL_Object* obj = TUL_parse_str(md, "Tags { \"a\" }");
  ASSERT_NE(obj, nullptr);
  ASSERT_EQ(obj->error, 0) << text_of(obj);
  char* text = TUL_print_value(obj, 3);
  EXPECT_STREQ(text, "{\n\t\t\"a\"\n\t    }");
  free(text);
  TUL_free(obj);

  obj = TUL_parse_str(md, "Tags {}");
  ASSERT_NE(obj, nullptr);
  text = TUL_print_value(obj, 2);
  EXPECT_STREQ(text, "{}");
  free(text);
  TUL_free(obj);
}

TEST_F(ConstructedParseTest, MemberForms) {
  struct Row {
    const char* name;
    const char* input;
    std::string output;
  };
  const Row rows[] = {
      {"named number of the member", "Options { level high }", "Options {\n    level high\n}"},
      {"number without a name", "Options { level 4 }", "Options {\n    level 4\n}"},
      {"ANY member carries its type", "Options { any BOOLEAN FALSE }", "Options {\n    any BOOLEAN FALSE\n}"},
      {"ANY elements", "Anys { NULL NULL }", "Anys {\n    NULL NULL\n}"},
      {"CHOICE chain", "Pick p : p : n : 2", "Pick p : p : n : 2"},
      {"unknown name of the member", "Options { level medium }",
       parse_error("invalid INTEGER/ENUMERATED identifier", 1, "medium")},
      {"bad element after good ones", "Report { ok TRUE, tags { \"a\",\n 5 } }",
       parse_error("STRING or HSTRING expected", 2, "5")},
      {"ANY member of no type", "Report { count 1, any TRUE 1 }", "#04 no ASN.1 definition with name 'TRUE' found"},
      {"ANY member with a lower-case name", "Report { any x }", parse_error("ASN.1 definition name expected", 1, "x")},
      {"end of input inside", "Report { ok TRUE, pick p : ", kEof},
  };
  TUL_unique_string("TRUE");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(round(row.input), row.output);
  }
}

TEST_F(ConstructedParseTest, DeepNestingIsAParseError) {
  EXPECT_EQ(round(pick_chain(200).c_str()), pick_chain(200));

  for (const std::string& text :
       {pick_chain(100000), "Anys {" + std::string(100000, '{'), "Report { any " + std::string(100000, 'R')}) {
    TUL_Object* obj = TUL_parse_str(md, text.c_str());
    ASSERT_NE(obj, nullptr);
    EXPECT_NE(obj->error, 0);
    TUL_free(obj);
  }
  std::string nested;
  for (int i = 0; i < 100000; ++i) nested += "Anys { ";
  EXPECT_EQ(round(nested.c_str()), parse_error("value nested too deeply", 1, "Anys"));
  EXPECT_EQ(round(pick_chain(100000).c_str()), parse_error("value nested too deeply", 1, "p"));
  EXPECT_EQ(tul::parse::nesting_depth(), 0);
}

TEST_F(ConstructedParseTest, DeepValuesPrintWithAMarker) {
  TUL_Object* chain = TUL_new("Pick", md, "n", TUL_new("INTEGER", md, 1));
  ASSERT_NE(chain, nullptr);
  ASSERT_EQ(chain->error, 0) << text_of(chain);
  for (int i = 0; i < 2 * tul::parse::kMaxPrintNesting; ++i) chain = TUL_new("Pick", md, "p", chain);
  char* text = TUL_print2str(chain);
  ASSERT_NE(text, nullptr);
  EXPECT_NE(std::strstr(text, "p : -- nested too deeply --"), nullptr);
  free(text);
  TUL_free(chain);
}

}  // namespace
