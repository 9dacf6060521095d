// Tests of the definitions-file loader: what loads, what fails and with
// which single line, the warnings after a file, and hostile texts.
#include <cstdio>
#include <string>

#include "dict.h"
#include "support/dictionary_test.h"
#include "support/files.h"

namespace tul::test {
namespace {

class LoadTest : public DictionaryTest {
 protected:
  // Loads `text` as the file "f"; the report lands in `report`.
  int load(const std::string& text) {
    MemoryFile out;
    const int code = dict::load_definitions_text(md, text, "f", out.get());
    report = out.take();
    return code;
  }
  bool defined(const char* type) { return TUL_asn1_basic_type(md, type) != 0; }

  std::string report;
};

constexpr const char* kA = "TUL.Asn1 { name 'A', type 'INTEGER' }\n";

TEST_F(LoadTest, OutcomesAndTheLineOfEachMessage) {
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  const struct {
    const char* name;
    std::string text;
    int code;
    std::string report;  // exactly what is written
  } rows[] = {
      {"empty file", "", 0, ""},
      {"comments and blanks only", "-- nothing --\n\n  -- here\n", 0, ""},
      {"comment right after a value", "TUL.Asn1 { name 'A', type 'INTEGER' }-- x --\n" + std::string(kA), 0,
       "f:2: warning: 'A' is already defined; this definition is ignored\n"},
      {"undefined reference, reported on the definition's line", "\n\nTUL.Asn1 { name 'U', type 'Missing' }", 0,
       "f:3: warning: 'U' refers to 'Missing', which is not defined\n"},
      {"member of an undefined type", "TUL.Asn1 { name 'S', type 'SEQUENCE',\n fields { { name 'x', type 'Nope' } } }",
       0, "f:1: warning: 'S' refers to 'Nope', which is not defined\n"},
      {"syntax error: the offending token's line only", "TUL.Asn1 {\n  name 'A',\n  typ 'B' }", TUL_ERR_PARSE,
       "f:3: parse error: invalid member name in SET/SEQUENCE, last token: typ\n"},
      {"file ends inside a value", "TUL.Asn1 {\n name 'A',", TUL_ERR_EOF, "f:2: the file ends inside a value\n"},
      {"unknown type name", "\nTUL.Asn2 { }", TUL_ERR_PARSE,
       "f:2: parse error: ASN.1 definition name expected, last token: TUL.Asn2\n"},
      {"a value that is no definition", std::string(kA) + "\n INTEGER 3", TUL_ERR_DEFINITION,
       "f:3: a value of type INTEGER is no definition; a definitions file holds meta-schema values such as "
       "TUL.Asn1 { name 'Counter', type 'INTEGER' }\n"},
      {"binary: a NUL byte", std::string(kA) + "\n" + std::string("\x01\x00\x02", 3), TUL_ERR_PARSE,
       "f:3: a NUL byte: this is binary data, not a text of definitions\n"},
      {"bytes that are no UTF-8 outside a string", "\n\xff\xfe", TUL_ERR_PARSE,
       "f:2: parse error: unexpected character in input stream, last token: \xff\n"},
      {"bytes that are no UTF-8 inside a string load", "TUL.Asn1 { name 'caf\xe9', type 'INTEGER' }", 0, ""},
      {"a lone minus", "-", TUL_ERR_EOF, "f:1: the file ends inside a value\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    EXPECT_EQ(load(row.text), row.code);
    EXPECT_EQ(report, row.report);
  }
}

// Definitions before a fault stay; those after it are not read.
TEST_F(LoadTest, DefinitionsBeforeAFaultStay) {
  EXPECT_EQ(load(std::string(kA) + "TUL.Asn1 { name 'B' type 'INTEGER' }\nTUL.Asn1 { name 'C', type 'INTEGER' }"),
            TUL_ERR_PARSE);
  EXPECT_TRUE(defined("A"));
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  EXPECT_FALSE(defined("C"));
}

// The loader writes to its report only: neither parse errors nor the end of
// the file reach the library's trace.
TEST_F(LoadTest, NothingOnTheTrace) {
  StderrCapture capture;
  EXPECT_EQ(load(std::string(kA) + "TUL.Asn1 { name 'B', type }"), TUL_ERR_PARSE);
  EXPECT_EQ(load(kA), 0);
  EXPECT_EQ(capture.take(), "");
  EXPECT_EQ(TUL_get_option(TUL_OPTION_TRACE_ERROR), 1);
}

// Only the references of the file just read are reported.
TEST_F(LoadTest, WarningsConcernTheFileJustRead) {
  ASSERT_EQ(load("TUL.Asn1 { name 'U', type 'Missing' }"), 0);
  EXPECT_EQ(load("TUL.Asn1 { name 'V', type 'INTEGER' }\nTUL.Asn1 { name 'W', type 'Gone' }"), 0);
  EXPECT_EQ(report, "f:2: warning: 'W' refers to 'Gone', which is not defined\n");
}

TEST_F(LoadTest, Files) {
  TempDir temp;
  const std::string path = temp.file("defs", "\n" + std::string(kA));
  MemoryFile out;
  EXPECT_EQ(TUL_load_definitions_file(md, path.c_str(), out.get()), 0);
  EXPECT_EQ(TUL_load_definitions_file(md, path.c_str(), out.get()), 0);
  std::remove(path.c_str());
  EXPECT_EQ(TUL_load_definitions_file(md, path.c_str(), out.get()), TUL_ERR_OPEN);
  EXPECT_EQ(out.take(), path + ":2: warning: 'A' is already defined; this definition is ignored\n" + path +
                            ": cannot open: No such file or directory\n");
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  EXPECT_EQ(TUL_load_definitions_file(nullptr, path.c_str(), nullptr), TUL_ERR_ARGUMENT);
  EXPECT_EQ(TUL_load_definitions_file(md, nullptr, nullptr), TUL_ERR_ARGUMENT);
}

// A shortage anywhere fails the load with code 2 (or leaves it whole) and
// leaks nothing.
TEST_F(LoadTest, MemoryShortages) {
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  const std::string text = std::string(kA) + "TUL.Asn1 { name 'S', type 'SEQUENCE', fields { { name 'x', type 'A' } } }";
  for (long n = 1;; ++n) {
    SCOPED_TRACE(n);
    TearDown();
    SetUp();
    TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
    int code;
    bool fired;
    {
      FailNthAllocation fail(n);
      code = load(text);
      fired = fail.fired();
    }
    if (!fired) {
      EXPECT_EQ(code, 0);
      break;
    }
    EXPECT_TRUE(code == 0 || code == TUL_ERR_MEMORY || code == TUL_ERR_DEFINITION) << code << report;
  }
}

}  // namespace
}  // namespace tul::test
