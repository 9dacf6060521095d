// The ASN.1 importer: each construct against the hand-written definitions
// it must equal, the tag-mode rule with its encodings, the bundled modules
// against the bundled definitions, and damaged texts.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dtd.h"
#include "support/dictionary_test.h"
#include "support/type_builder.h"

namespace {

using tul::test::DictionaryTest;

struct Outcome {
  int entered = 0, skipped = 0, values = 0, errors = 0, warnings = 0;
  std::vector<std::string> messages;  // "line:column [item] message"

  bool mentions(const std::string& part) const {
    for (const std::string& m : messages)
      if (m.find(part) != std::string::npos) return true;
    return false;
  }
  std::string all() const {
    std::string s;
    for (const std::string& m : messages) s += m + "\n";
    return s;
  }
};

Outcome import_text(TUL_Metadata* md, const std::string& text, int flags = 0) {
  Outcome out;
  TUL_ImportResult* r = TUL_import_string(md, "test.asn", text.data(), text.size(), flags);
  if (!r) return out;
  out = {r->types_entered, r->items_skipped, r->values_kept, r->errors, r->warnings, {}};
  for (int k = 0; k < r->diagnostic_count; ++k) {
    const TUL_ImportDiagnostic& d = r->diagnostics[k];
    out.messages.push_back(std::to_string(d.line) + ":" + std::to_string(d.column) + " [" + d.item + "] " + d.message);
  }
  TUL_free_import_result(r);
  return out;
}

// Everything of an entry record that decides how values of the type behave.
std::string signature(TUL_Metadata* md, const std::string& name) {
  TUL_Asn1TypeEntry* e = tul::find_type(md, TUL_unique_string(name.c_str()));
  if (!e) return "(none)";
  auto enums = [](int32_t n, const TUL_EnumList* list) {
    std::string s;
    for (int32_t k = 0; k < n; ++k) s += std::string(" ") + list[k].name + "=" + std::to_string(list[k].val);
    return s;
  };
  std::string s = std::string(e->type ? e->type : "") + " tag " + std::to_string(e->tag_flag) + "/" +
                  std::to_string(e->tag_val) + enums(e->enums, e->enum_list);
  for (int32_t k = 0; k < e->size; ++k) {
    const TUL_Asn1Type& m = e->members[k];
    s += std::string("\n  ") + (m.name ? m.name : "-") + ": " + m.type + " tag " + std::to_string(m.tag_flag) + "/" +
         std::to_string(m.tag_val) + " opt " + std::to_string(m.opt_def) + (m.anydefbyId ? " by " : "") +
         (m.anydefbyId ? m.anydefbyId : "") + enums(m.enums, m.enum_list);
  }
  return s;
}

// Enters definition texts; answers the names they define.
std::vector<std::string> enter_definitions(TUL_Metadata* md, const std::vector<std::string>& texts) {
  std::vector<std::string> names;
  for (const std::string& text : texts) {
    TUL_Object* v = TUL_parse_str(md, text.c_str());
    EXPECT_TRUE(v && !v->error) << text;
    if (!v || v->error) {
      TUL_free(v);
      continue;
    }
    names.emplace_back(TUL_read_str(TUL_assoc(v, "name")));
    TUL_add_definition(md, v);
    TUL_free(v);
  }
  return names;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The values of a definitions file: comment lines dropped, split before
// each type name at the start of a line.
std::vector<std::string> definitions_file(const std::string& path) {
  std::vector<std::string> texts;
  std::string line, current;
  std::ifstream in(path);
  while (std::getline(in, line)) {
    if (line.rfind("--", 0) == 0) continue;
    if (line.rfind("TUL.", 0) == 0 && !current.empty()) {
      texts.push_back(current);
      current.clear();
    }
    current += line + "\n";
  }
  texts.push_back(current);
  std::erase_if(texts, [](const std::string& t) { return t.find("TUL.") == std::string::npos; });
  return texts;
}

class ImportTest : public DictionaryTest {
 protected:
  void SetUp() override {
    DictionaryTest::SetUp();
    hand = TUL_new_Metadata();
    TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  }
  void TearDown() override {
    TUL_free_Metadata(hand);
    DictionaryTest::TearDown();
  }
  // Every type the hand-written texts define must be entered identically.
  void expect_same_types(const std::vector<std::string>& texts) {
    for (const std::string& name : enter_definitions(hand, texts)) {
      SCOPED_TRACE(name);
      EXPECT_EQ(signature(md, name), signature(hand, name));
    }
  }
  TUL_Metadata* hand = nullptr;
};

std::string module(const std::string& tag_default, const std::string& body) {
  return "M DEFINITIONS " + tag_default + " ::= BEGIN\n" + body + "\nEND\n";
}

struct ConstructRow {
  const char* name;  // what makes the row interesting
  std::string text;
  std::vector<std::string> expected;
  const char* warning;  // part of an expected warning, or null
};

TEST_F(ImportTest, EachConstructEqualsItsHandWrittenDefinition) {
  const ConstructRow rows[] = {
      {"bare tags are EXPLICIT without a default; OPTIONAL and DEFAULT",
       module("", "T ::= SEQUENCE { a [0] INTEGER, b [1] IMPLICIT BOOLEAN OPTIONAL, c INTEGER DEFAULT 5 }"),
       {"TUL.Asn1 { name 'T', type 'SEQUENCE', fields { { name 'a', type 'INTEGER', tagValue 0 },"
        " { name 'b', type 'BOOLEAN', tagValue 1, tagModifier implicit, existence optional },"
        " { name 'c', type 'INTEGER', existence default } } }"},
       nullptr},
      {"type-level tags: application class; a tag without mode is EXPLICIT",
       module("", "A ::= [APPLICATION 3] IMPLICIT INTEGER  P ::= [PRIVATE 7] A"),
       {"TUL.Asn1 { name 'A', type 'INTEGER', tagClass application, tagValue 3, tagModifier implicit }",
        "TUL.Asn1 { name 'P', type 'A', tagClass private, tagValue 7 }"},
       nullptr},
      {"IMPLICIT TAGS: CHOICE, ANY and references to them stay EXPLICIT, SET OF does not",
       module("IMPLICIT TAGS",
              "C ::= CHOICE { x INTEGER, y NULL }  R ::= C\n"
              "S ::= SEQUENCE { c [0] C, d [1] SET OF INTEGER, e [2] ANY, f [3] R, g [4] EXPLICIT INTEGER }"),
       {"TUL.Asn1 { name 'S', type 'SEQUENCE', fields { { name 'c', type 'C', tagValue 0, tagModifier explicit },"
        " { name 'd', type 'S.d', tagValue 1, tagModifier implicit },"
        " { name 'e', type 'ANY', tagValue 2, tagModifier explicit },"
        " { name 'f', type 'R', tagValue 3, tagModifier explicit },"
        " { name 'g', type 'INTEGER', tagValue 4, tagModifier explicit } } }",
        "TUL.Asn1 { name 'S.d', type 'SET OF', fields { { type 'INTEGER' } } }"},
       nullptr},
      {"a reference across modules of the batch decides the mode",
       "A DEFINITIONS IMPLICIT TAGS ::= BEGIN IMPORTS Inst FROM B; T ::= SEQUENCE { i [2] Inst } END\n"
       "B DEFINITIONS ::= BEGIN Inst ::= CHOICE { n NULL } END",
       {"TUL.Asn1 { name 'T', type 'SEQUENCE', fields { { name 'i', type 'Inst', tagValue 2, tagModifier explicit } } }"},
       nullptr},
      {"inline constructed members and OF elements get synthesized names",
       module("", "S ::= SEQUENCE { inner SEQUENCE { a INTEGER }, list SEQUENCE OF SEQUENCE { b BOOLEAN } }"),
       {"TUL.Asn1 { name 'S', type 'SEQUENCE', fields { { name 'inner', type 'S.inner' }, { name 'list', type 'S.list' } } }",
        "TUL.Asn1 { name 'S.inner', type 'SEQUENCE', fields { { name 'a', type 'INTEGER' } } }",
        "TUL.Asn1 { name 'S.list', type 'SEQUENCE OF', fields { { type 'S.list.item' } } }",
        "TUL.Asn1 { name 'S.list.item', type 'SEQUENCE', fields { { name 'b', type 'BOOLEAN' } } }"},
       nullptr},
      {"stacked tags need an intermediate type, on a type and on a member",
       module("", "T ::= [1] IMPLICIT [2] INTEGER  S ::= SEQUENCE { m [3] [4] IMPLICIT BOOLEAN }"),
       {"TUL.Asn1 { name 'T', type 'T.tagged', tagValue 1, tagModifier implicit }",
        "TUL.Asn1 { name 'T.tagged', type 'INTEGER', tagValue 2 }",
        "TUL.Asn1 { name 'S', type 'SEQUENCE', fields { { name 'm', type 'S.m', tagValue 3 } } }",
        "TUL.Asn1 { name 'S.m', type 'BOOLEAN', tagValue 4, tagModifier implicit }"},
       nullptr},
      {"named numbers: negative, a value reference b(a), enumerations numbered from 0",
       module("", "limit INTEGER ::= 9  N ::= INTEGER { low(-1), high(limit) }  E ::= ENUMERATED { a, b(5), c, ... }\n"
                  "S ::= SEQUENCE { e ENUMERATED { x, y } }"),
       {"TUL.Asn1 { name 'N', type 'INTEGER', enums { { label 'low', value -1 }, { label 'high', value 9 } } }",
        "TUL.Asn1 { name 'E', type 'ENUMERATED', enums { { label 'a', value 0 }, { label 'b', value 5 }, { label 'c', value 1 } } }",
        "TUL.Asn1 { name 'S', type 'SEQUENCE', fields { { name 'e', type 'ENUMERATED',"
        " enums { { label 'x', value 0 }, { label 'y', value 1 } } } } }"},
       nullptr},
      {"BIT STRING names are dropped with a warning; constraints are dropped",
       module("", "B ::= BIT STRING { up(0), down(1) } (SIZE (2))  C ::= INTEGER (0..4294967295)"),
       {"TUL.Asn1 { name 'B', type 'BIT STRING' }", "TUL.Asn1 { name 'C', type 'INTEGER' }"},
       "named bits"},
      {"unnamed 1988 components take the reference's name",
       module("", "AVA ::= SEQUENCE { AttributeType, AttributeValue }  AttributeType ::= OBJECT IDENTIFIER\n"
                  "AttributeValue ::= ANY"),
       {"TUL.Asn1 { name 'AVA', type 'SEQUENCE', fields { { name 'attributeType', type 'AttributeType' },"
        " { name 'attributeValue', type 'AttributeValue' } } }"},
       nullptr},
      {"ANY DEFINED BY names its identifying sibling",
       module("", "A ::= SEQUENCE { id OBJECT IDENTIFIER, v ANY DEFINED BY id OPTIONAL }"),
       {"TUL.Asn1 { name 'A', type 'SEQUENCE', fields { { name 'id', type 'OBJECT IDENTIFIER' },"
        " { name 'v', type 'ANY DEFINED BY', existence optional, anyDefinedById 'id' } } }"},
       nullptr},
      {"components after an extension marker and in version brackets become OPTIONAL",
       module("", "X ::= SEQUENCE { a INTEGER, ..., b INTEGER, [[ c BOOLEAN ]], ... , d NULL }"),
       {"TUL.Asn1 { name 'X', type 'SEQUENCE', fields { { name 'a', type 'INTEGER' },"
        " { name 'b', type 'INTEGER', existence optional }, { name 'c', type 'BOOLEAN', existence optional },"
        " { name 'd', type 'NULL' } } }"},
       "extension marker"},
      {"COMPONENTS OF copies the members, inline ones named after the includer",
       module("", "Base ::= SEQUENCE { a INTEGER, s SEQUENCE { z NULL } }  Ext ::= SEQUENCE { COMPONENTS OF Base, b BOOLEAN }"),
       {"TUL.Asn1 { name 'Ext', type 'SEQUENCE', fields { { name 'a', type 'INTEGER' }, { name 's', type 'Ext.s' },"
        " { name 'b', type 'BOOLEAN' } } }",
        "TUL.Asn1 { name 'Ext.s', type 'SEQUENCE', fields { { name 'z', type 'NULL' } } }"},
       nullptr},
      {"class fields: &id gives its type, &Value with a relation ANY DEFINED BY, without one ANY",
       module("", "EV ::= CLASS { &id OBJECT IDENTIFIER UNIQUE, &Value OPTIONAL } WITH SYNTAX { ID &id }\n"
                  "Set EV ::= { ... }\n"
                  "R ::= SEQUENCE { kind EV.&id ({Set}), info EV.&Value ({Set}{@kind}), other EV.&Value,"
                  " t TYPE-IDENTIFIER.&id }"),
       {"TUL.Asn1 { name 'R', type 'SEQUENCE', fields { { name 'kind', type 'OBJECT IDENTIFIER' },"
        " { name 'info', type 'ANY DEFINED BY', anyDefinedById 'kind' }, { name 'other', type 'ANY' },"
        " { name 't', type 'OBJECT IDENTIFIER' } } }"},
       nullptr},
      {"selection types and INSTANCE OF",
       module("", "C ::= CHOICE { a [1] INTEGER, b BOOLEAN }  Sel ::= a < C\n"
                  "I ::= SEQUENCE { x INSTANCE OF TYPE-IDENTIFIER }"),
       {"TUL.Asn1 { name 'Sel', type 'INTEGER', tagValue 1 }",
        "TUL.Asn1 { name 'I', type 'SEQUENCE', fields { { name 'x', type 'I.x', tagClass universal, tagValue 8, tagModifier implicit } } }",
        "TUL.Asn1 { name 'I.x', type 'SEQUENCE', fields { { name 'type-id', type 'OBJECT IDENTIFIER' },"
        " { name 'value', type 'ANY DEFINED BY', tagValue 0, anyDefinedById 'type-id' } } }"},
       nullptr},
      {"AUTOMATIC TAGS numbers untagged components, CHOICE alternatives EXPLICIT",
       module("AUTOMATIC TAGS", "C ::= CHOICE { p INTEGER, q NULL }  S ::= SEQUENCE { a INTEGER, c C }"),
       {"TUL.Asn1 { name 'S', type 'SEQUENCE', fields { { name 'a', type 'INTEGER', tagValue 0, tagModifier implicit },"
        " { name 'c', type 'C', tagValue 1, tagModifier explicit } } }"},
       nullptr},
      {"the built-in X.501 names and string types are entered when used",
       module("", "IMPORTS Name FROM InformationFramework; T ::= SEQUENCE { n Name, u UTF8String }"),
       {"TUL.Asn1 { name 'Name', type 'CHOICE', fields { { name 'rDNSequence', type 'RDNSequence' } } }",
        "TUL.Asn1 { name 'RDNSequence', type 'SEQUENCE OF', fields { { type 'RelativeDistinguishedName' } } }",
        "TUL.Asn1 { name 'AttributeValue', type 'ANY' }",
        "TUL.Asn1 { name 'UTF8String', type 'OCTET STRING', tagClass universal, tagValue 12, tagModifier implicit }"},
       nullptr},
      {"self-reference through a SEQUENCE OF is legal",
       module("", "Tree ::= SEQUENCE { label IA5String, kids SEQUENCE OF Tree }"),
       {"TUL.Asn1 { name 'Tree', type 'SEQUENCE', fields { { name 'label', type 'IA5String' }, { name 'kids', type 'Tree.kids' } } }",
        "TUL.Asn1 { name 'Tree.kids', type 'SEQUENCE OF', fields { { type 'Tree' } } }"},
       nullptr},
  };
  for (const ConstructRow& row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    const Outcome out = import_text(md, row.text);
    EXPECT_EQ(out.errors, 0) << out.all();
    if (row.warning) {
      EXPECT_TRUE(out.mentions(row.warning)) << out.all();
    }
    expect_same_types(row.expected);
  }
}

// Skipped and kept items: values, macros, classes, objects; OID values are
// evaluated with the name table.
TEST_F(ImportTest, ValuesAndMacrosAreSkippedOrKept) {
  const Outcome out = import_text(md, module("",
      "OBJECT-TYPE MACRO ::= BEGIN TYPE NOTATION ::= \"SYNTAX\" type(T) VALUE NOTATION ::= value(VALUE ObjectName) END\n"
      "gnm OBJECT IDENTIFIER ::= { itu-t recommendation m gnm(3100) }\n"
      "ms OBJECT IDENTIFIER ::= { joint-iso-ccitt ms(9) }\n"
      "sub OBJECT IDENTIFIER ::= { ms 3 2 7 13 }\n"
      "sysDescr OBJECT-TYPE SYNTAX OCTET STRING ACCESS read-only ::= { sub 1 }\n"
      "name PrintableString ::= \"x\"\n"
      "Op ::= OPERATION\n"
      "T ::= INTEGER"));
  EXPECT_EQ(out.errors, 0) << out.all();
  EXPECT_EQ(out.entered, 1);
  EXPECT_EQ(out.values, 4);  // gnm, ms, sub, sysDescr
  EXPECT_EQ(out.skipped, 3);  // the macro, the macro instance Op and the string value
}

TEST_F(ImportTest, ObjectIdentifierValuesEvaluateOrExplain) {
  struct Row {
    const char* value;
    const char* problem;  // null: evaluates
  } rows[] = {
      {"{ iso member-body 840 }", nullptr},
      {"{ unknownRoot 1 }", "unknownRoot is not defined"},
      {"{ 1 4294967296 }", "beyond 32 bits"},
      {"{ a 1 } a OBJECT IDENTIFIER ::= { v 2 }", "in a circle"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.value);
    const Outcome out = import_text(md, module("", std::string("v OBJECT IDENTIFIER ::= ") + row.value));
    if (row.problem)
      EXPECT_TRUE(out.mentions(row.problem)) << out.all();
    else
      EXPECT_EQ(out.errors, 0) << out.all();
  }
  std::string arcs = "{ 1";
  for (int k = 0; k < 127; ++k) arcs += " 1";
  EXPECT_TRUE(import_text(md, module("", "long OBJECT IDENTIFIER ::= " + arcs + " }")).mentions("127 arcs"));
}

// Under IMPLICIT TAGS a tag on a CHOICE stays EXPLICIT: the encoding keeps
// the alternative's own tag inside [0], while [1] replaces INTEGER's tag.
TEST_F(ImportTest, ImplicitTagsKeepChoiceTagsInTheEncoding) {
  const Outcome out = import_text(md, module("IMPLICIT TAGS",
      "C ::= CHOICE { x INTEGER, y BOOLEAN }  S ::= SEQUENCE { c [0] C, i [1] INTEGER, a [2] ANY OPTIONAL }"));
  ASSERT_EQ(out.errors, 0) << out.all();
  TUL_Object* v = TUL_parse_str(md, "S { c x : 5, i 7 }");
  ASSERT_TRUE(v && !v->error) << text_of(v);
  EXPECT_EQ(tul::test::encode_hex(v), "30 08 A0 03 02 01 05 81 01 07");
  TUL_Object* back = tul::test::decode_hex(md, "S", "3008A003020105810107");
  EXPECT_TRUE(TUL_equal(v, back));
  TUL_free(back);
  TUL_free(v);
  EXPECT_NE(signature(md, "S").find("a: ANY tag 34/2"), std::string::npos) << signature(md, "S");
}

const std::string kExamples = std::string(TUL_EXAMPLES) + "/";

std::string print(TUL_Object* v) {
  char* text = TUL_print2str(v);
  std::string s = text ? text : "";
  std::free(text);
  return s;
}

// Decodes `hex` as `type` in both dictionaries: same printed text, and the
// text parsed back in each encodes to the original octets.
void expect_same_values(TUL_Metadata* imported, TUL_Metadata* hand, const char* type, const std::string& hex) {
  SCOPED_TRACE(type);
  TUL_Object* a = tul::test::decode_hex(imported, type, hex);
  TUL_Object* b = tul::test::decode_hex(hand, type, hex);
  ASSERT_TRUE(a && !a->error && b && !b->error) << (a ? TUL_read_str(a) : "null") << " / " << (b ? TUL_read_str(b) : "null") << " " << hex;
  const std::string text = print(a);
  EXPECT_EQ(text, print(b));
  for (TUL_Metadata* md : {imported, hand}) {
    TUL_Object* parsed = TUL_parse_str(md, text.c_str());
    EXPECT_EQ(tul::test::encode_hex(parsed), tul::test::encode_hex(a));
    TUL_free(parsed);
  }
  EXPECT_EQ(tul::test::encode_hex(a), tul::test::encode_hex(b));
  EXPECT_EQ(hex.rfind(tul::test::encode_hex(a), 0), 0u);
  TUL_free(a);
  TUL_free(b);
}

std::string file_hex(const std::string& path) {
  std::string hex;
  for (char c : slurp(path)) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02X ", static_cast<unsigned char>(c));
    hex += pair;
  }
  return hex;
}

TEST_F(ImportTest, SnmpModuleEqualsTheHandWrittenDefinitions) {
  const Outcome out = import_text(md, slurp(kExamples + "snmpv1.asn"));
  ASSERT_EQ(out.errors + out.warnings, 0) << out.all();
  expect_same_types(definitions_file(kExamples + "snmpv1.defs"));
  for (const char* sample : {"trap.ber", "get.ber"}) {
    const std::string hex = file_hex(kExamples + sample);
    expect_same_values(md, hand, "Message", hex);
  }
}

TEST_F(ImportTest, CmipModuleEqualsTheHandWrittenDefinitions) {
  const Outcome out = import_text(md, slurp(kExamples + "cmip1.asn"));
  ASSERT_EQ(out.errors + out.warnings, 0) << out.all();
  expect_same_types(definitions_file(kExamples + "cmip1.defs"));
  const char* value =
      "EventReportArgument { managedObjectClass globalForm : { 2 9 3 2 3 13 },"
      " managedObjectInstance distinguishedName : { { { attributeType { 2 5 4 3 }, attributeValue '13024142'H } } },"
      " eventTime \"19990101000000Z\", eventType localForm : 4 }";
  TUL_Object* v = TUL_parse_str(hand, value);
  ASSERT_TRUE(v && !v->error) << text_of(v);
  std::string hex = tul::test::encode_hex(v);
  TUL_free(v);
  expect_same_values(md, hand, "EventReportArgument", hex);
  // not [11] and item [8] are EXPLICIT in a module without a default.
  v = TUL_parse_str(hand, "CMISFilter not : item : present : localForm : 3");
  ASSERT_TRUE(v && !v->error) << text_of(v);
  hex = tul::test::encode_hex(v);
  EXPECT_EQ(hex, "AB 07 A8 05 A7 03 81 01 03");
  TUL_free(v);
  expect_same_values(md, hand, "CMISFilter", hex);
}

// Damaged texts: a diagnostic with file position and the assignment, and
// the assignments around the damage still entered.
TEST_F(ImportTest, DamagedTextsGiveDiagnosticsAndTheRestImports) {
  struct Row {
    const char* name;
    std::string body;
    const char* message;
    const char* position;  // "line:column [item]" prefix, or null
    bool after_survives = true;
  } rows[] = {
      {"parameterized assignment", "P {T} ::= SEQUENCE { a T }", "parameterized assignment P", "3:3 [P]"},
      {"construct without a meta-schema form", "E ::= EMBEDDED PDV", "EMBEDDED PDV is not supported", "3:7 [E]"},
      {"reference cycle", "A ::= B\nB ::= [1] A", "refers to itself", "3:1 [A]"},
      {"unbalanced braces", "U ::= SEQUENCE { a INTEGER", "expected ','", nullptr, false},
      {"unterminated string", "s PrintableString ::= \"open", "never closed", "3:23", false},
      {"non-ASCII", "X ::= SEQUENCE { a\xE2\x80\x93" "b INTEGER }", "non-ASCII character", "3:19"},
      {"RFC text: a wrapped comment leaves a bare word", "W ::= SEQUENCE { time-stamp TimeTicks, -- since the\ntrap\n}",
       "expected a type at '}'", "5:1 [W]"},
      {"stray token after a type", "S ::= INTEGER ]", "unexpected text after the assignment", "3:15 [S]"},
      {"tag number beyond 32 bits", "T ::= [4294967296] INTEGER", "tag number beyond", "3:8 [T]"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    const Outcome out = import_text(md, module("", "Before ::= INTEGER\n" + row.body + "\nAfter ::= BOOLEAN"));
    EXPECT_TRUE(out.mentions(row.message)) << out.all();
    if (row.position) {
      EXPECT_TRUE(out.mentions(row.position)) << out.all();
    }
    EXPECT_GE(out.errors, 1);
    EXPECT_EQ(signature(md, "Before"), "INTEGER tag 0/0");
    if (row.after_survives) {
      EXPECT_EQ(signature(md, "After"), "BOOLEAN tag 0/0") << out.all();
    }
  }
}

TEST_F(ImportTest, HostileTextsEndInDiagnostics) {
  struct Row {
    const char* name;
    std::string text;
    const char* message;
  } rows[] = {
      {"unterminated comment", module("", "A ::= INTEGER /* open"), "comment '/*' is never closed"},
      {"100000 nested braces", module("", "A ::= SEQUENCE " + std::string(100000, '{')), "expected"},
      {"deeply nested types", module("", "A ::= " + [] {
                                    std::string s;
                                    for (int k = 0; k < 1000; ++k) s += "SEQUENCE OF ";
                                    return s + "INTEGER";
                                  }()),
       "nested deeper than"},
      {"1 MB identifier", module("", std::string(1 << 20, 'A') + " ::= INTEGER"), "longer than 256"},
      {"no module", "just prose", "no module header"},
      {"no END", "M DEFINITIONS ::= BEGIN A ::= INTEGER", "has no END"},
      {"unknown file", "", nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (!row.message) continue;
    const Outcome out = import_text(md, row.text);
    EXPECT_TRUE(out.mentions(row.message)) << out.all().substr(0, 2000);
  }
  const char* missing = "/nonexistent/m.asn";
  TUL_ImportResult* r = TUL_import_files(md, &missing, 1, 0);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->errors, 1);
  EXPECT_STREQ(r->diagnostics[0].file, missing);
  TUL_free_import_result(r);
}

TEST_F(ImportTest, ConflictsAndCheckModeAndDashes) {
  // CMIP-1 and X.501 both define DistinguishedName: a different structure is
  // reported naming both modules, the first definition kept.
  Outcome out = import_text(md, "A DEFINITIONS ::= BEGIN D ::= INTEGER END B DEFINITIONS ::= BEGIN D ::= BOOLEAN END");
  EXPECT_TRUE(out.mentions("D is defined differently in modules A and B")) << out.all();
  EXPECT_EQ(signature(md, "D"), "INTEGER tag 0/0");
  out = import_text(md, module("", "Only ::= INTEGER"), TUL_IMPORT_CHECK);
  EXPECT_EQ(out.entered, 1);
  EXPECT_EQ(signature(md, "Only"), "(none)");
  const std::string dashed = module("", "v\xE2\x80\x93x OBJECT IDENTIFIER ::= { iso 3 }  T ::= INTEGER");
  EXPECT_TRUE(import_text(md, dashed).mentions("non-ASCII"));
  out = import_text(md, dashed, TUL_IMPORT_DASHES);
  EXPECT_EQ(out.errors, 0) << out.all();
  EXPECT_TRUE(out.mentions("Unicode dash read as '-'"));
  EXPECT_EQ(out.values, 1);
}

// Whatever allocation fails, the import answers null or a complete result
// and leaks nothing.
// An ASN.1 module, and GDMO templates with a module of their own, a
// behaviour and a derived attribute.
TEST_F(ImportTest, FailedAllocationsLeakNothing) {
  const struct {
    const char* file;
    std::string text;
  } rows[] = {
      {"m.asn", module("IMPLICIT TAGS", "IMPORTS Name FROM InformationFramework;"
                                        " S ::= SEQUENCE { n [0] Name, l SET OF INTEGER, b BIT STRING {a(1)} }")},
      {"m.gdmo",
       "V DEFINITIONS ::= BEGIN arc OBJECT IDENTIFIER ::= { 1 3 9 } T ::= INTEGER { a(1) } END\n"
       "a ATTRIBUTE WITH ATTRIBUTE SYNTAX V.T; BEHAVIOUR b BEHAVIOUR DEFINED AS \"x\";; REGISTERED AS {arc 1};\n"
       "d ATTRIBUTE DERIVED FROM a; REGISTERED AS {arc 2};\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.file);
    for (long n = 1;; ++n) {
      TUL_Metadata* fresh = TUL_new_Metadata();
      tul::test::FailNthAllocation fail(n);
      TUL_ImportResult* r = TUL_import_string(fresh, row.file, row.text.data(), row.text.size(), 0);
      const bool fired = fail.fired();
      TUL_free_import_result(r);
      TUL_free_Metadata(fresh);
      if (!fired) {
        ASSERT_NE(r, nullptr);
        break;
      }
    }
  }
}

}  // namespace
