// Value notation: the tokenizer, the shared parse and print functions, the
// print buffer and the parse and print drivers.
#include "parse.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dtd.h"
#include "support/dictionary_test.h"
#include "support/files.h"
#include "support/type_builder.h"

namespace {

using namespace tul::test;

constexpr const char* kEof = "#20 EOF detected while parsing";
constexpr const char* kExpectedEnum = "INTEGER/ENUMERATED value expected";

std::string error_at(const std::string& message, int line, const std::string& last) {
  return parse_error_message(message, last, line);
}
std::string unexpected(int line, const std::string& last) {
  return error_at("unexpected character in input stream", line, last);
}
std::string unterminated(int line) {
  return error_at("string too long, string termination character missing?", line, "TOKEN too large");
}

// A character source over any bytes (NULs included) that counts its reads.
struct ByteSource {
  std::string bytes;
  size_t pos = 0;
  int reads = 0;
  static int next(void* p) {
    auto* s = static_cast<ByteSource*>(p);
    ++s->reads;
    return s->pos < s->bytes.size() ? static_cast<unsigned char>(s->bytes[s->pos++]) : -1;
  }
};

class ParseTest : public DictionaryTest {
 protected:
  void SetUp() override {
    DictionaryTest::SetUp();
    TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
    // Colour names "red" twice; Options' member-local names: "low" twice, value 7 twice.
    const char* definitions[] = {
        "TUL.Asn1 { name 'Colour', type 'ENUMERATED', enums { { label 'red', value 1 }, { label 'green', value 2 },"
        " { label 'scarlet', value 3 }, { label 'red', value 3 } } }",
        "TUL.Asn1 { name 'Tags', type 'SEQUENCE OF', fields { { type 'IA5String' } } }",
        "TUL.Asn1 { name 'Pick', type 'CHOICE', fields { { name 'n', type 'INTEGER' }, { name 'p', type 'Pick' },"
        " { name 'list', type 'Anys' } } }",
        "TUL.Asn1 { name 'Anys', type 'SET OF', fields { { type 'ANY' } } }",
        "TUL.Asn1 { name 'Report', type 'SEQUENCE', fields { { name 'ok', type 'BOOLEAN' }, { name 'tags', type 'Tags' },"
        " { name 'pick', type 'Pick' }, { name 'any', type 'ANY', existence optional } } }",
        "TUL.Asn1 { name 'Options', type 'SET', fields { { name 'level', type 'INTEGER', existence optional, enums {"
        " { label 'low', value 1 }, { label 'high', value 9 }, { label 'mid', value 7 }, { label 'low', value 7 } } },"
        " { name 'mode', type 'Colour', existence optional, enums { { label 'one', value 1 } } },"
        " { name 'any', type 'ANY', existence optional } } }",
        nullptr};
    ASSERT_EQ(TUL_load_Metadata_string(md, const_cast<char**>(definitions)), 0);
  }

  // The tokens of `text` ("kind(text)", blank-separated) up to the first
  // recorded error, which every input ends with: at least end of input.
  std::string lex(const std::string& text, std::string* error, int* line) {
    static const char* const kKinds[] = {"{", "}", ",", ":", "lower", "upper", "string", "hstring", "bstring", "number"};
    ByteSource source{text};
    TULP_ParseContext ctx;
    tul::parse::start_run(&ctx, md, &source, ByteSource::next, 1);
    std::string tokens;
    for (int i = 0; i < 50 && !ctx.error; ++i, TULP_get_token(&ctx)) {
      tokens += tokens.empty() ? "" : " ";
      tokens += kKinds[ctx.id];
      if (ctx.id >= TULP_LOWER_NAME) tokens += "(" + std::string(ctx.buffer, ctx.len) + ")";
    }
    *error = text_of(ctx.error);
    *line = ctx.line_nbr;
    TUL_free(ctx.error);
    return tokens;
  }

  // A context over `text` with its first token loaded. The caller releases
  // ctx.error.
  void load(TULP_ParseContext* ctx, const char* text) {
    cursor_ = text;
    tul::parse::start_run(ctx, md, &cursor_, tul::parse::_get_next_char, 1);
  }

  // The printed typed value of a parse result, or its error text; the
  // result is released.
  std::string describe(TUL_Object* obj) {
    std::string out = !obj ? "(null)" : obj->error ? text_of(obj) : printed(obj);
    TUL_free(obj);
    return out;
  }

  static std::string pick_chain(int depth) { return "Pick " + repeated("p : ", depth) + "n : 1"; }

 private:
  const char* cursor_ = nullptr;
};

/* ------------------------------------------------------------------------
 * Tokenizer
 * ---------------------------------------------------------------------- */

TEST_F(ParseTest, Tokens) {
  const std::string longest(TULP_MAX_TOKEN - 1, 'a'), digits(TULP_MAX_TOKEN - 1, '7');
  const struct {
    const char* name;
    std::string input, tokens, error;
    int line;
  } rows[] = {
      {"white space counts newlines", "  \t\n\n TRUE", "upper(TRUE)", kEof, 3},
      {"comments: closed, lone dash inside, empty", "-- a - b --x ----y", "lower(x) lower(y)", kEof, 1},
      {"comments to the end of the line and of input", "-- c\nFALSE -- no end", "upper(FALSE)", kEof, 2},
      {"number forms unchecked", "-12.5e+3 1-2 1e+", "number(-12.5e+3) number(1-2) number(1e+)", kEof, 1},
      {"dash before a brace is dropped", "-{", "{", kEof, 1},
      {"hyphens, double dashes and dots in names", "a-b.c A--B x1", "lower(a-b.c) upper(A--B) lower(x1)", kEof, 1},
      {"quoted strings, contents unchecked", "'0101'B '0aF3'H '12'B ''H 'abc' \"abc\" '01'b",
       "bstring(0101) hstring(0aF3) bstring(12) hstring() string(abc) string(abc) string(01) lower(b)", kEof, 1},
      {"escapes; non-hex digits count 0", "\"a\\\"b\\\\c\\x41\\xff\\x00\\xzz\"",
       std::string("string(a\"b\\cA\xff\0\0)", 17), kEof, 1},
      {"newlines inside strings count", "\"a\nb\" 'c\nd' e", "string(a\nb) string(c\nd) lower(e)", kEof, 3},
      {"punctuation", "{x,y:}", "{ lower(x) , lower(y) : }", kEof, 1},
      {"empty input", "", "", kEof, 1},
      {"dash then letter", "-x", "", unexpected(1, "x"), 1},
      {"carriage return", "a\r\nb", "lower(a)", unexpected(1, "\r"), 1},
      {"character above 125", "~", "", unexpected(1, "~"), 1},
      {"NUL byte", std::string("a \0", 3), "lower(a)", unexpected(1, ""), 1},
      {"byte 0xFF is no end of input", "a \xff", "lower(a)", unexpected(1, "\xff"), 1},
      {"unclosed single quote", "'ab\n", "", unterminated(2), 2},
      {"input ends after backslash", "\"a\\", "", unterminated(1), 1},
      {"input ends inside a hex escape", "\"\\x4", "", unterminated(1), 1},
      {"bad escape reports the text so far", "x\n\"ab\\q\"", "lower(x)",
       error_at("after backslash only backslash or quote accepted", 2, "ab"), 2},
      {"longest tokens", longest + " " + digits + " '" + longest + "'",
       "lower(" + longest + ") number(" + digits + ") string(" + longest + ")", kEof, 1},
      {"name too long", longest + "a", "", error_at("name too long", 1, "TOKEN too large"), 1},
      {"number too long", digits + "7", "", error_at("number too long", 1, "TOKEN too large"), 1},
      {"string too long", "\"" + longest + "a\"", "", unterminated(1), 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::string error;
    int line = 0;
    EXPECT_EQ(lex(row.input, &error, &line), row.tokens);
    EXPECT_EQ(error, row.error);
    EXPECT_EQ(line, row.line);
  }
}

// What the token table cannot show: a bad escape still stores its character,
// punctuation leaves the previous length, and after a lexical error nothing
// more is read and the first error stays.
TEST_F(ParseTest, ContextBeyondTheTokenText) {
  TULP_ParseContext ctx;
  load(&ctx, "\"a\\qb\"");
  EXPECT_TRUE(ctx.error && ctx.id == TULP_STRING);
  EXPECT_EQ(std::string(ctx.buffer, ctx.len), "aqb");
  TUL_free(ctx.error);

  load(&ctx, "abc {");
  TULP_get_token(&ctx);
  EXPECT_TRUE(ctx.id == TULP_OPEN_BRACE && ctx.len == 3 && !ctx.error);
  EXPECT_STREQ(ctx.buffer, "{");

  ByteSource source{"a ( b c d e f"};
  tul::parse::start_run(&ctx, md, &source, ByteSource::next, 1);
  TULP_get_token(&ctx);
  TUL_Object* first = ctx.error;
  ASSERT_NE(first, nullptr);
  int reads = source.reads;
  for (int i = 0; i < 5; ++i) TULP_get_token(&ctx);
  EXPECT_TRUE(source.reads == reads && ctx.error == first && ctx.ch == '\0');
  TUL_free(ctx.error);

  EXPECT_EQ(_hex2char('f', 'F'), 0xff);
  EXPECT_EQ(_hex2char(0xff, -1), 0x00);  // no table read outside for out-of-range arguments
}

/* ------------------------------------------------------------------------
 * Shared parse functions
 * ---------------------------------------------------------------------- */

std::string integer(TULP_ParseContext* c) { return std::to_string(TULP_parse_integer(c)); }
std::string interned(char* s) { return !s ? "(null)" : s == TUL_unique_string(s) ? s : "(not interned)"; }
std::string local_name(TULP_ParseContext* c) { return interned(TULP_parse_local_name(c)); }
std::string type_name(TULP_ParseContext* c) { return interned(TULP_parse_type_name(c)); }
std::string colour(TULP_ParseContext* c) {
  TUL_Object* obj = TUL_alloc("Colour", c->dtd);
  bool ok = TULP_parse_enum(obj, c) == obj;
  std::string out = ok ? std::to_string(reinterpret_cast<TUL_Integer*>(obj)->integer) : "(null)";
  TUL_free(obj);
  return out;
}
std::string three_failures(TULP_ParseContext* c) {
  return TULP_parse_boolean(c), TULP_parse_null(c), integer(c);
}

TEST_F(ParseTest, SharedParseFunctions) {
  const struct {
    const char* name;
    const char* input;
    std::string (*call)(TULP_ParseContext*);
    std::string result, error;
  } rows[] = {
      {"integer saturates above", "99999999999", integer, "2147483647", ""},
      {"integer saturates below", "-99999999999", integer, "-2147483648", ""},
      {"integer takes the longest prefix", "12-3e4", integer, "12", ""},
      {"integer from a name", "x", integer, "0", error_at("INTEGER value expected", 1, "x")},
      {"upper-case local name", "Abc", local_name, "(null)",
       error_at("local name (in SEQUENCE/SET or CHOICE) expected", 1, "Abc")},
      {"BIT STRING across lines", "BIT\nSTRING", type_name, "BIT STRING", ""},
      {"SEQUENCE OF", "SEQUENCE OF", type_name, "SEQUENCE OF", ""},
      {"SET OF around a comment", "SET -- c -- OF", type_name, "SET OF", ""},
      {"OCTET alone", "OCTET 'FF'H", type_name, "(null)", error_at("OCTET STRING expected", 1, "FF")},
      {"BIT then OF", "BIT OF", type_name, "(null)", error_at("BIT STRING expected", 1, "OF")},
      {"SEQUENCE then a brace", "SEQUENCE {", type_name, "(null)", error_at("SEQUENCE OF expected", 1, "{")},
      {"SET then STRING", "SET STRING", type_name, "(null)", error_at("SET OF expected", 1, "STRING")},
      {"OBJECT on its own line", "OBJECT\nID", type_name, "(null)", error_at("OBJECT IDENTIFIER expected", 2, "ID")},
      {"first word at end of input", "OCTET", type_name, "(null)", kEof},
      {"enum: the last matching name wins", "red", colour, "3", ""},
      {"enum: unknown name", "blue", colour, "(null)", error_at("invalid INTEGER/ENUMERATED identifier", 1, "blue")},
      {"enum: upper-case name", "Red", colour, "(null)", error_at(kExpectedEnum, 1, "Red")},
      {"only the first of several errors is kept", "x", three_failures, "0",
       error_at("TRUE or FALSE expected", 1, "x")},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TULP_ParseContext ctx;
    load(&ctx, row.input);
    EXPECT_EQ(row.call(&ctx), row.result);
    EXPECT_EQ(text_of(ctx.error), row.error);
    TUL_free(ctx.error);
  }
  // A hex block that cannot be allocated gives nothing, as bad hex does.
  FailNthAllocation fail(1);
  int len = -1;
  EXPECT_EQ(TULP_hex2string("abcd", &len), nullptr);
  EXPECT_EQ(len, 0);
}

/* ------------------------------------------------------------------------
 * Drivers
 * ---------------------------------------------------------------------- */

TEST_F(ParseTest, TypedValues) {
  const struct {
    const char* name;
    std::string input;
    std::string output;  // the print of the value on one line, or the error text
  } rows[] = {
      {"text after the value is not read", "BOOLEAN TRUE FALSE ((", "BOOLEAN TRUE"},
      {"a doubled quote ends the string", "IA5String 'it''s'", "IA5String \"it\""},
      {"lower-case true", "BOOLEAN true", error_at("TRUE or FALSE expected", 1, "true")},
      {"real takes the longest prefix", "REAL 1e+", "REAL 1"},
      {"no bare infinity", "REAL INFINITY", error_at("REAL value expected", 1, "INFINITY")},
      {"lower-case null", "NULL null", error_at("NULL value expected", 1, "null")},
      {"hex octets, either case", "OCTET STRING '4a6B'H", "OCTET STRING '4A6B'H"},
      {"number is no octet string", "OCTET STRING 5", error_at("STRING or HSTRING expected", 1, "5")},
      {"empty text", "", kEof},
      {"type name only", "BOOLEAN", kEof},
      {"lower-case type name", "true", error_at("ASN.1 definition name expected", 1, "true")},
      {"name never seen", "Qzzyx 1", error_at("ASN.1 definition name expected", 1, "Qzzyx")},
      {"known string that is no type", "TRUE 1", "#04 no ASN.1 definition with name 'TRUE' found"},
      {"bad value", "BOOLEAN\n\nMAYBE", error_at("TRUE or FALSE expected", 3, "MAYBE")},
      {"lexical error in the value", "INTEGER (", unexpected(1, "(")},
      {"the member's first matching name wins", "Options { level low }", "Options { level low }"},
      {"a number prints as the first name carrying it", "Options { level 7 }", "Options { level mid }"},
      {"a number no name carries", "Options { level 4 }", "Options { level 4 }"},
      {"ENUMERATED member outside its names", "Options { mode 5 }", "Options { mode 5 -- invalid value -- }"},
      {"the type's names do not count for the member", "Options { mode red }",
       error_at("invalid INTEGER/ENUMERATED identifier", 1, "red")},
      {"member-local value that is no name", "Options { level {", error_at(kExpectedEnum, 1, "{")},
      {"ANY member carries its type", "Options { any BOOLEAN FALSE }", "Options { any BOOLEAN FALSE }"},
      {"ANY elements", "Anys { NULL NULL }", "Anys { NULL NULL }"},
      {"bad element after good ones", "Report { ok TRUE, tags { \"a\",\n 5 } }",
       error_at("STRING or HSTRING expected", 2, "5")},
      {"ANY member of no type", "Report { ok TRUE, any TRUE 1 }", "#04 no ASN.1 definition with name 'TRUE' found"},
      {"ANY member with a lower-case name", "Report { any x }", error_at("ASN.1 definition name expected", 1, "x")},
      {"end of input inside", "Report { ok TRUE, pick p : ", kEof},
      {"nesting within the bound", pick_chain(200), pick_chain(200)},
      {"CHOICE nested too deeply", pick_chain(100000), error_at("value nested too deeply", 1, "p")},
      {"SET OF nested too deeply", repeated("Anys { ", 100000), error_at("value nested too deeply", 1, "{")},
      {"braces without type names", "Anys {" + std::string(100000, '{'),
       error_at("ASN.1 definition name expected", 1, "{")},
  };
  TUL_unique_string("TRUE");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(decode_or_parse(md, nullptr, row.input), row.output);
    EXPECT_EQ(tul::parse::parse_depth, 0);
  }
}

TEST_F(ParseTest, NullArgumentsAndAFailedParseValue) {
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
  for (char* text : {TUL_print2str(nullptr), TUL_print_value(nullptr, 3)}) {
    EXPECT_STREQ(text, "");
    std::free(text);
  }
  TUL_print(nullptr, stdout);
  TUL_print2ctx("x", nullptr, 1);

  // A failed TUL_parse_value leaves the object alone.
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  TUL_Object* obj = TUL_new("INTEGER", md, 1);
  EXPECT_EQ(TUL_parse_value(obj, " 42 "), obj);
  EXPECT_EQ(describe(TUL_parse_value(obj, "TRUE")), error_at(kExpectedEnum, 1, "TRUE"));
  EXPECT_EQ(describe(TUL_parse_value(obj, "")), kEof);
  EXPECT_EQ(TUL_read_int(obj), 42);
  TUL_free(obj);
}

// Each result is "printed value or error text @ line handed back".
TEST_F(ParseTest, StreamsHoldSuccessiveValues) {
  const std::string eof = std::string(kEof) + " @";
  const struct {
    const char* name;
    std::string text;
    int first_line, values;
    std::string results;
  } rows[] = {
      {"values on their own lines", "BOOLEAN TRUE\nINTEGER\n  7\n-- end\n", 1, 4,
       "BOOLEAN TRUE @2|INTEGER 7 @4|" + eof + "5|" + eof + "5|"},
      {"errors count from the first line", "\nBOOLEAN YES\n", 10, 1,
       error_at("TRUE or FALSE expected", 11, "YES") + " @12|"},
      {"values on one line", "NULL NULL INTEGER 3,BOOLEAN FALSE", 1, 4,
       "NULL NULL @1|INTEGER 3 @1|BOOLEAN FALSE @1|" + eof + "1|"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::string text = row.text, results;
    FILE* f = fmemopen(text.data(), text.size(), "r");
    int line = row.first_line;
    for (int i = 0; i < row.values; ++i) {
      results += describe(TUL_parse(md, f, &line));
      results += " @" + std::to_string(line) + "|";
    }
    EXPECT_EQ(results, row.results);
    fclose(f);
  }
}

TEST_F(ParseTest, PrintForms) {
  TUL_Object* obj = TUL_parse_str(md, "BOOLEAN TRUE");
  MemoryFile f;
  TUL_print(obj, f.get());
  TUL_print(obj, nullptr);
  EXPECT_EQ(f.take(), "BOOLEAN TRUE\n");
  TUL_free(obj);

  // The level shifts the inner lines and the closing brace only.
  const struct {
    const char* typed;
    int level;
    const char* value;
  } rows[] = {{"INTEGER 5", 3, "5"}, {"INTEGER 5", -1, "5"}, {"Tags { \"a\" }", 3, "{\n\t\t\"a\"\n\t    }"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.typed);
    obj = TUL_parse_str(md, row.typed);
    char* text = TUL_print_value(obj, row.level);
    EXPECT_STREQ(text, row.value);
    std::free(text);
    TUL_free(obj);
  }

  // An application's print behaviour writes through the context.
  std::string out;
  TULP_PrintContext ctx{&out, [](int c, void* s) { static_cast<std::string*>(s)->push_back(char(c)); },
                        [](const char* t, void* s) { static_cast<std::string*>(s)->append(t); }, 3};
  TUL_print2ctx("x", &ctx, 1);
  TUL_print2ctx("y", &ctx, 0);
  EXPECT_EQ(out, "\t    xy");
}

TEST_F(ParseTest, DeepValuesPrintWithAMarker) {
  TUL_Object* chain = TUL_new("Pick", md, "n", TUL_new("INTEGER", md, 1));
  ASSERT_EQ(chain->error, 0) << text_of(chain);
  for (int i = 0; i < 2 * tul::kMaxValueNesting; ++i) chain = TUL_new("Pick", md, "p", chain);
  EXPECT_NE(printed(chain).find("p : -- nested too deeply --"), std::string::npos);
  TUL_free(chain);
}

// A text that outgrows the first print block: whichever allocation fails,
// the caller gets the whole text or none.
TEST_F(ParseTest, PrintUnderMemoryShortage) {
  const std::string typed = "OCTET STRING '" + std::string(1400, 'B') + "'H";
  TUL_Object* obj = TUL_parse_str(md, typed.c_str());
  for (long n = 1, fired = 1; fired; ++n) {
    FailNthAllocation fail(n);
    char* text = TUL_print2str(obj);
    fired = fail.fired();
    EXPECT_EQ(text ? text : "(null)", fired ? "(null)" : typed) << "allocation " << n;
    std::free(text);
  }
  TUL_free(obj);
}

}  // namespace
