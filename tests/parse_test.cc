// Value notation: the tokenizer, the shared parse and print functions, the
// print buffer and the parse and print drivers.
#include "parse.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "dtd.h"
#include "support/dictionary_test.h"
#include "support/type_builder.h"

namespace {

using tul::test::DictionaryTest;
using tul::test::FailNthAllocation;
using tul::test::StderrCapture;

constexpr const char* kEof = "#20 EOF detected while parsing";
constexpr const char* kExpectedEnum = "INTEGER/ENUMERATED value expected";

std::string parse_error(const std::string& message, int line, const std::string& last) {
  return "#11 parse error: " + message + ", line: " + std::to_string(line) + ", last token: " + last;
}
std::string unexpected(int line, const std::string& last) {
  return parse_error("unexpected character in input stream", line, last);
}
std::string unterminated(int line) {
  return parse_error("string too long, string termination character missing?", line, "TOKEN too large");
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

// Named numbers as the dictionary takes them (it copies and interns them).
std::vector<TUL_EnumList> named(std::initializer_list<std::pair<const char*, int32_t>> list) {
  std::vector<TUL_EnumList> out;
  for (auto [name, val] : list) out.push_back({const_cast<char*>(name), val});
  return out;
}

TUL_Asn1Type member(const char* name, const char* type, std::vector<TUL_EnumList>* enums = nullptr,
                    int32_t opt_def = TUL_MANDATORY) {
  return {const_cast<char*>(name), 0, 0, const_cast<char*>(type), enums ? static_cast<int32_t>(enums->size()) : 0,
          enums ? enums->data() : nullptr, opt_def, nullptr};
}

class ParseTest : public DictionaryTest {
 protected:
  void SetUp() override {
    DictionaryTest::SetUp();
    TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
    define("Colour", "ENUMERATED", named({{"red", 1}, {"green", 2}, {"scarlet", 3}, {"red", 3}}));
    define("Tags", "SEQUENCE OF", {}, {member(nullptr, "IA5String")});
    define("Pick", "CHOICE", {}, {member("n", "INTEGER"), member("p", "Pick"), member("list", "Anys")});
    define("Anys", "SET OF", {}, {member(nullptr, "ANY")});
    define("Report", "SEQUENCE", {},
           {member("ok", "BOOLEAN"), member("tags", "Tags"), member("pick", "Pick"),
            member("any", "ANY", nullptr, TUL_OPTIONAL)});
    // Member-local names: "low" twice, value 7 twice.
    std::vector<TUL_EnumList> levels = named({{"low", 1}, {"high", 9}, {"mid", 7}, {"low", 7}});
    std::vector<TUL_EnumList> modes = named({{"one", 1}});
    define("Options", "SET", {},
           {member("level", "INTEGER", &levels, TUL_OPTIONAL), member("mode", "Colour", &modes, TUL_OPTIONAL),
            member("any", "ANY", nullptr, TUL_OPTIONAL)});
  }

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

  // The tokens of `text` ("kind(text)", blank-separated) up to the first
  // recorded error, which every input ends with: at least end of input.
  std::string lex(const std::string& text, std::string* error, int* line) {
    static const char* const kKinds[] = {"{",     "}",      ",",       ":",       "lower",
                                         "upper", "string", "hstring", "bstring", "number"};
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
    std::string out = !obj ? "(null)" : obj->error ? text_of(obj) : tul::test::printed(obj);
    TUL_free(obj);
    return out;
  }
  std::string round(const std::string& text) { return describe(TUL_parse_str(md, text.c_str())); }

  static std::string repeat(const std::string& text, int times) {
    std::string out;
    while (times-- > 0) out += text;
    return out;
  }
  static std::string pick_chain(int depth) { return "Pick " + repeat("p : ", depth) + "n : 1"; }

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
      {"bit and hex strings, contents unchecked", "'0101'B '0aF3'H '12'B ''H",
       "bstring(0101) hstring(0aF3) bstring(12) hstring()", kEof, 1},
      {"single and double quotes", "'abc' \"abc\"", "string(abc) string(abc)", kEof, 1},
      {"lower-case suffix is a name", "'01'b", "string(01) lower(b)", kEof, 1},
      {"escaped quote and backslash", "\"a\\\"b\\\\c\"", "string(a\"b\\c)", kEof, 1},
      {"hex escapes make any byte, non-hex digits count 0", "\"\\x41\\xff\\x00\\xzz\"",
       std::string("string(A\xff\0\0)", 12), kEof, 1},
      {"newlines inside strings count", "\"a\nb\" 'c\nd' e", "string(a\nb) string(c\nd) lower(e)", kEof, 3},
      {"punctuation", "{x,y:}", "{ lower(x) , lower(y) : }", kEof, 1},
      {"empty input", "", "", kEof, 1},
      {"dash then letter", "-x", "", unexpected(1, "x"), 1},
      {"dash then blank", "- 5", "", unexpected(1, " "), 1},
      {"carriage return", "a\r\nb", "lower(a)", unexpected(1, "\r"), 1},
      {"parenthesis on line 3", "a\n\n(", "lower(a)", unexpected(3, "("), 3},
      {"character above 125", "~", "", unexpected(1, "~"), 1},
      {"NUL byte", std::string("a \0", 3), "lower(a)", unexpected(1, ""), 1},
      {"byte 0xFF is no end of input", "a \xff", "lower(a)", unexpected(1, "\xff"), 1},
      {"unclosed double quote", "x \"abc", "lower(x)", unterminated(1), 1},
      {"unclosed single quote", "'ab\n", "", unterminated(2), 2},
      {"input ends after backslash", "\"a\\", "", unterminated(1), 1},
      {"input ends inside a hex escape", "\"\\x4", "", unterminated(1), 1},
      {"bad escape reports the text so far", "x\n\"ab\\q\"", "lower(x)",
       parse_error("after backslash only backslash or quote accepted", 2, "ab"), 2},
      {"longest name", longest, "lower(" + longest + ")", kEof, 1},
      {"name too long", longest + "a", "", parse_error("name too long", 1, "TOKEN too large"), 1},
      {"longest number", digits, "number(" + digits + ")", kEof, 1},
      {"number too long", digits + "7", "", parse_error("number too long", 1, "TOKEN too large"), 1},
      {"longest strings", "\"" + longest + "\" '" + longest + "'", "string(" + longest + ") string(" + longest + ")",
       kEof, 1},
      {"double-quoted string too long", "\"" + longest + "a\"", "", unterminated(1), 1},
      {"single-quoted string too long", "'" + longest + "a'", "", unterminated(1), 1},
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
  EXPECT_NE(ctx.error, nullptr);
  EXPECT_EQ(ctx.id, TULP_STRING);
  EXPECT_EQ(std::string(ctx.buffer, ctx.len), "aqb");
  TUL_free(ctx.error);

  load(&ctx, "abc {");
  TULP_get_token(&ctx);
  EXPECT_EQ(ctx.id, TULP_OPEN_BRACE);
  EXPECT_STREQ(ctx.buffer, "{");
  EXPECT_EQ(ctx.len, 3);
  EXPECT_EQ(ctx.error, nullptr);

  ByteSource source{"a ( b c d e f"};
  tul::parse::start_run(&ctx, md, &source, ByteSource::next, 1);
  TULP_get_token(&ctx);
  TUL_Object* first = ctx.error;
  ASSERT_NE(first, nullptr);
  int reads = source.reads;
  for (int i = 0; i < 5; ++i) TULP_get_token(&ctx);
  EXPECT_EQ(source.reads, reads);
  EXPECT_EQ(ctx.error, first);
  EXPECT_EQ(ctx.ch, '\0');
  TUL_free(ctx.error);

  EXPECT_EQ(_hex2char('f', 'F'), 0xff);
  EXPECT_EQ(_hex2char(0xff, -1), 0x00);  // no table read outside for out-of-range arguments
}

/* ------------------------------------------------------------------------
 * Shared parse functions
 * ---------------------------------------------------------------------- */

std::string boolean(TULP_ParseContext* c) { return std::to_string(TULP_parse_boolean(c)); }
std::string integer(TULP_ParseContext* c) { return std::to_string(TULP_parse_integer(c)); }
std::string real(TULP_ParseContext* c) { return std::to_string(TULP_parse_real(c)); }
std::string null(TULP_ParseContext* c) { return TULP_parse_null(c), ""; }
std::string octets(TULP_ParseContext* c) {
  int len = -1;
  bool hex = c->id == TULP_HSTRING;  // then the result is a heap block of ours
  char* s = TULP_parse_octet(c, &len);
  std::string out = (s ? std::string(s, len) : "(null)") + "/" + std::to_string(len);
  if (hex) std::free(s);
  return out;
}
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
  TULP_parse_boolean(c);
  TULP_parse_null(c);
  return integer(c);
}

TEST_F(ParseTest, SharedParseFunctions) {
  const struct {
    const char* name;
    const char* input;
    std::string (*call)(TULP_ParseContext*);
    std::string result;
    std::string error;
  } rows[] = {
      {"lower-case true", "true", boolean, "0", parse_error("TRUE or FALSE expected", 1, "true")},
      {"integer saturates above", "99999999999", integer, "2147483647", ""},
      {"integer saturates below", "-99999999999", integer, "-2147483648", ""},
      {"integer takes the longest prefix", "12-3e4", integer, "12", ""},
      {"integer from a name", "x", integer, "0", parse_error("INTEGER value expected", 1, "x")},
      {"real takes the longest prefix", "1e+", real, "1.000000", ""},
      {"no bare infinity", "INFINITY", real, "0.000000", parse_error("REAL value expected", 1, "INFINITY")},
      {"lower-case null", "null", null, "", parse_error("NULL value expected", 1, "null")},
      {"hex octets, either case", "'4a6B'H", octets, "Jk/2", ""},
      {"odd hex digit fills the high nibble", "'ABC'H", octets, "\xab\xc0/2", ""},
      {"empty hex string", "''H", octets, "/0", ""},
      {"bad hex gives nothing, silently", "'0g'H", octets, "(null)/0", ""},
      {"number is no octet string", "5", octets, "(null)/0", parse_error("STRING or HSTRING expected", 1, "5")},
      {"upper-case local name", "Abc", local_name, "(null)",
       parse_error("local name (in SEQUENCE/SET or CHOICE) expected", 1, "Abc")},
      {"OCTET STRING", "OCTET STRING", type_name, "OCTET STRING", ""},
      {"BIT STRING across lines", "BIT\nSTRING", type_name, "BIT STRING", ""},
      {"SEQUENCE OF", "SEQUENCE OF", type_name, "SEQUENCE OF", ""},
      {"SET OF around a comment", "SET -- c -- OF", type_name, "SET OF", ""},
      {"OBJECT IDENTIFIER", "OBJECT IDENTIFIER", type_name, "OBJECT IDENTIFIER", ""},
      {"OCTET alone", "OCTET 'FF'H", type_name, "(null)", parse_error("OCTET STRING expected", 1, "FF")},
      {"BIT then OF", "BIT OF", type_name, "(null)", parse_error("BIT STRING expected", 1, "OF")},
      {"SEQUENCE then a brace", "SEQUENCE {", type_name, "(null)", parse_error("SEQUENCE OF expected", 1, "{")},
      {"SET then STRING", "SET STRING", type_name, "(null)", parse_error("SET OF expected", 1, "STRING")},
      {"OBJECT on its own line", "OBJECT\nID", type_name, "(null)", parse_error("OBJECT IDENTIFIER expected", 2, "ID")},
      {"first word at end of input", "OCTET", type_name, "(null)", kEof},
      {"enum: the last matching name wins", "red", colour, "3", ""},
      {"enum: unknown name", "blue", colour, "(null)", parse_error("invalid INTEGER/ENUMERATED identifier", 1, "blue")},
      {"enum: upper-case name", "Red", colour, "(null)", parse_error(kExpectedEnum, 1, "Red")},
      {"only the first of several errors is kept", "x", three_failures, "0",
       parse_error("TRUE or FALSE expected", 1, "x")},
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
    std::string output;  // the print of the value, or the error text
  } rows[] = {
      {"text after the value is not read", "BOOLEAN TRUE FALSE ((", "BOOLEAN TRUE"},
      {"octet string from hex", "OCTET STRING 'FF'H", "OCTET STRING 'FF'H"},
      {"character string", "IA5String 'it''s'", "IA5String \"it\""},
      {"empty text", "", kEof},
      {"type name only", "BOOLEAN", kEof},
      {"lower-case type name", "true", parse_error("ASN.1 definition name expected", 1, "true")},
      {"name never seen", "Qzzyx 1", parse_error("ASN.1 definition name expected", 1, "Qzzyx")},
      {"known string that is no type", "TRUE 1", "#04 no ASN.1 definition with name 'TRUE' found"},
      {"bad value", "BOOLEAN\n\nMAYBE", parse_error("TRUE or FALSE expected", 3, "MAYBE")},
      {"lexical error in the value", "INTEGER (", unexpected(1, "(")},
      // Members
      {"the member's first matching name wins", "Options { level low }", "Options {\n    level low\n}"},
      {"a number prints as the first name carrying it", "Options { level 7 }", "Options {\n    level mid\n}"},
      {"a number no name carries", "Options { level 4 }", "Options {\n    level 4\n}"},
      {"ENUMERATED member outside its names", "Options { mode 5 }", "Options {\n    mode 5 -- invalid value --\n}"},
      {"the type's names do not count for the member", "Options { mode red }",
       parse_error("invalid INTEGER/ENUMERATED identifier", 1, "red")},
      {"member-local value that is no name", "Options { level {", parse_error(kExpectedEnum, 1, "{")},
      {"ANY member carries its type", "Options { any BOOLEAN FALSE }", "Options {\n    any BOOLEAN FALSE\n}"},
      {"ANY elements", "Anys { NULL NULL }", "Anys {\n    NULL NULL\n}"},
      {"bad element after good ones", "Report { ok TRUE, tags { \"a\",\n 5 } }",
       parse_error("STRING or HSTRING expected", 2, "5")},
      {"ANY member of no type", "Report { ok TRUE, any TRUE 1 }", "#04 no ASN.1 definition with name 'TRUE' found"},
      {"ANY member with a lower-case name", "Report { any x }", parse_error("ASN.1 definition name expected", 1, "x")},
      {"end of input inside", "Report { ok TRUE, pick p : ", kEof},
      // Nesting
      {"nesting within the bound", pick_chain(200), pick_chain(200)},
      {"CHOICE nested too deeply", pick_chain(100000), parse_error("value nested too deeply", 1, "p")},
      {"SET OF nested too deeply", repeat("Anys { ", 100000), parse_error("value nested too deeply", 1, "Anys")},
      {"braces without type names", "Anys {" + std::string(100000, '{'),
       parse_error("ASN.1 definition name expected", 1, "{")},
  };
  TUL_unique_string("TRUE");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(round(row.input), row.output);
    EXPECT_EQ(tul::parse::nesting_depth(), 0);
  }
}

TEST_F(ParseTest, NullArguments) {
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
  char* empty[] = {TUL_print2str(nullptr), TUL_print_value(nullptr, 3)};
  for (char* text : empty) {
    EXPECT_STREQ(text, "");
    std::free(text);
  }
  TUL_print(nullptr, stdout);
  TUL_print2ctx("x", nullptr, 1);
}

TEST_F(ParseTest, FailedParseValueLeavesTheObjectAlone) {
  TUL_Object* obj = TUL_new("INTEGER", md, 1);
  EXPECT_EQ(TUL_parse_value(obj, " 42 "), obj);
  EXPECT_EQ(describe(TUL_parse_value(obj, "TRUE")), parse_error(kExpectedEnum, 1, "TRUE"));
  EXPECT_EQ(describe(TUL_parse_value(obj, "")), kEof);
  EXPECT_EQ(TUL_read_int(obj), 42);
  TUL_free(obj);
}

TEST_F(ParseTest, StreamsHoldSuccessiveValues) {
  const struct {
    const char* name;
    std::string text;
    int first_line;
    std::vector<std::pair<std::string, int>> steps;  // printed value or error text, line handed back
  } rows[] = {
      {"values on their own lines", "BOOLEAN TRUE\nINTEGER\n  7\n-- end\n", 1,
       {{"BOOLEAN TRUE", 2}, {"INTEGER 7", 4}, {kEof, 5}, {kEof, 5}}},
      {"errors count from the first line", "\nBOOLEAN YES\n", 10,
       {{parse_error("TRUE or FALSE expected", 11, "YES"), 12}}},
      {"values on one line", "NULL NULL INTEGER 3,BOOLEAN FALSE", 1,
       {{"NULL NULL", 1}, {"INTEGER 3", 1}, {"BOOLEAN FALSE", 1}, {kEof, 1}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::string text = row.text;
    FILE* f = fmemopen(text.data(), text.size(), "r");
    int line = row.first_line;
    for (const auto& [result, next_line] : row.steps) {
      EXPECT_EQ(describe(TUL_parse(md, f, &line)), result);
      EXPECT_EQ(line, next_line);
    }
    fclose(f);
  }
}

TEST_F(ParseTest, PrintForms) {
  TUL_Object* obj = TUL_parse_str(md, "BOOLEAN TRUE");
  char* data = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&data, &size);
  TUL_print(obj, f);
  TUL_print(obj, nullptr);
  fclose(f);
  EXPECT_EQ(std::string(data, size), "BOOLEAN TRUE\n");
  std::free(data);
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
  for (int i = 0; i < 2 * tul::parse::kMaxPrintNesting; ++i) chain = TUL_new("Pick", md, "p", chain);
  char* text = TUL_print2str(chain);
  ASSERT_NE(text, nullptr);
  EXPECT_NE(std::strstr(text, "p : -- nested too deeply --"), nullptr);
  std::free(text);
  TUL_free(chain);
}

/* ------------------------------------------------------------------------
 * Memory shortage
 * ---------------------------------------------------------------------- */

// A text of 1417 bytes grows the block twice: 512, 1024, 1536 bytes. Each
// of the three allocations may fail; the whole text comes once none does.
TEST_F(ParseTest, PrintUnderMemoryShortage) {
  const std::string typed = "OCTET STRING '" + std::string(1400, 'B') + "'H";
  TUL_Object* obj = TUL_parse_str(md, typed.c_str());
  ASSERT_EQ(obj->error, 0);
  long n = 1;
  for (;; ++n) {
    FailNthAllocation fail(n);
    char* text = TUL_print2str(obj);
    if (!fail.fired()) {
      EXPECT_STREQ(text, typed.c_str());
      std::free(text);
      break;
    }
    EXPECT_EQ(text, nullptr) << "allocation " << n;
  }
  EXPECT_EQ(n - 1, 3);
  TUL_free(obj);
}

TEST_F(ParseTest, ParseUnderMemoryShortage) {
  for (const char* text : {"BOOLEAN TRUE", "OCTET STRING '0102'H", "Report { ok TRUE, tags { \"a\" }, pick n : 1 }"}) {
    SCOPED_TRACE(text);
    for (long n = 1;; ++n) {
      FailNthAllocation fail(n);
      TUL_Object* obj = TUL_parse_str(md, text);
      bool fired = fail.fired();
      ASSERT_NE(obj, nullptr);
      // A shortage that mattered to this value is reported as such.
      EXPECT_TRUE(obj->error == 0 || (fired && obj->error == 2)) << "allocation " << n << ": " << text_of(obj);
      TUL_free(obj);
      if (!fired) break;
    }
  }
}

}  // namespace
