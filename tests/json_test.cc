// Tests of the JSON lines of values: the mapping of each kind of value, and
// that any octets give a line that reads back as valid JSON.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "support/dictionary_test.h"
#include "support/type_builder.h"
#include "support/value.h"
#include "tul.h"

namespace {

using namespace tul::test;
using Json = nlohmann::json;

class JsonTest : public DictionaryTest {
 protected:
  void SetUp() override {
    DictionaryTest::SetUp();
    const char* definitions[] = {
        "TUL.Asn1 { name 'Colour', type 'ENUMERATED', enums { { label 'red', value 0 }, { label 'green', value 1 } } }",
        "TUL.Asn1 { name 'Pick', type 'CHOICE', fields { { name 'n', type 'INTEGER' }, { name 's', type 'IA5String' } } }",
        "TUL.Asn1 { name 'Deep', type 'CHOICE', fields { { name 'leaf', type 'INTEGER' }, { name 'down', type 'Deep' } } }",
        "TUL.Asn1 { name 'Picks', type 'SEQUENCE OF', fields { { type 'Pick' } } }",
        "TUL.Asn1 { name 'Rec', type 'SEQUENCE', fields { { name 'a', type 'INTEGER' },"
        " { name 'b', type 'OCTET STRING', tagClass context, tagValue 0, tagModifier implicit, existence optional },"
        " { name 'c', type 'Picks' }, { name 'd', type 'ANY' } } }",
        nullptr};
    ASSERT_EQ(TUL_load_Metadata_string(md, const_cast<char**>(definitions)), 0);
  }

  // The line of `v`, which must parse as JSON.
  static Json line_of(TUL_Object* v) {
    char* text = TUL_print_json_string(v);
    EXPECT_NE(text, nullptr);
    const std::string line = text ? text : "";
    std::free(text);
    EXPECT_TRUE(Json::accept(line)) << line;
    return Json::accept(line) ? Json::parse(line) : Json();
  }
};

TEST_F(JsonTest, EachKindOfValue) {
  const struct {
    const char* text;
    const char* value;
  } rows[] = {
      {"BOOLEAN TRUE", "true"},
      {"INTEGER -7", "-7"},
      {"Colour green", "\"green\""},
      {"Colour 5", "5"},
      {"REAL 2.5", "2.5"},
      {"REAL PLUS-INFINITY", "\"PLUS-INFINITY\""},
      {"REAL MINUS-INFINITY", "\"MINUS-INFINITY\""},
      {"NULL NULL", "null"},
      {"OBJECT IDENTIFIER {1 3 6 1}", "\"1.3.6.1\""},
      {"BIT STRING '1011'B", "\"1011\""},
      {"OCTET STRING '7075626C6963'H", "\"public\""},
      {"OCTET STRING 'C000020A'H", "{\"hex\":\"C000020A\"}"},
      {"OCTET STRING ''H", "\"\""},
      {"IA5String \"a\\\"b\"", "\"a\\\"b\""},
      {"ANY '020105'H", "{\"hex\":\"020105\",\"tag\":\"UNIVERSAL 2\"}"},
      {"ANY '5F8101020105'H", "{\"hex\":\"5F8101020105\",\"tag\":\"APPLICATION 129\"}"},
      {"Rec { a 1, c { n : 2, s : \"x\" }, d ANY '0500'H }",
       R"({"a":1,"c":[{"n":2},{"s":"x"}],"d":{"hex":"0500","tag":"UNIVERSAL 5"}})"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    Value v(TUL_parse_str(md, row.text));
    ASSERT_TRUE(ok(v));
    const Json line = line_of(v.get());
    EXPECT_EQ(line["type"], TUL_object_type(v.get()));
    EXPECT_EQ(line["value"], Json::parse(row.value));
  }
  // Wide integers stay exact numbers.
  TUL_set_wide_integers(1);
  Value wide(TUL_new_int64("INTEGER", md, INT64_MIN));
  EXPECT_EQ(line_of(wide.get())["value"].get<int64_t>(), INT64_MIN);
  TUL_set_wide_integers(0);
}

TEST_F(JsonTest, AnyOctetsGiveValidUtf8Json) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  for (const char* type : {"OCTET STRING", "IA5String", "PrintableString", "BER-String"}) {
    SCOPED_TRACE(type);
    for (int c = 0; c <= 256; ++c) {
      const std::string octets = c < 256 ? std::string(1, static_cast<char>(c)) : all;
      Value v(TUL_new(type, md, static_cast<int>(octets.size()), octets.data()));
      if (!ok(v)) continue;  // a BER-String takes whole encodings only
      const Json line = line_of(v.get());
      if (std::string(type) == "IA5String" && c >= 0x20 && c < 0x7F) {
        EXPECT_EQ(line["value"], octets);
      }
    }
  }
}

// Whatever nests deep enough to parse writes as JSON too.
TEST_F(JsonTest, DeepestValue) {
  std::string text = "Deep ";
  for (int i = 1; i < 256; ++i) text += "down : ";
  Value deepest(TUL_parse_str(md, (text + "leaf : 1").c_str()));
  ASSERT_TRUE(ok(deepest));
  Json value = line_of(deepest.get())["value"];
  for (int i = 1; i < 256; ++i) value = Json(value["down"]);
  EXPECT_EQ(value, Json::parse(R"({"leaf":1})"));
}

TEST_F(JsonTest, StreamAndFailures) {
  Value v(TUL_parse_str(md, "INTEGER 3"));
  FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(TUL_print_json(v.get(), out), 1);
  EXPECT_EQ(TUL_print_json(nullptr, out), 0);
  EXPECT_EQ(TUL_print_json(v.get(), nullptr), 0);
  std::rewind(out);
  char text[64] = {};
  EXPECT_EQ(std::fread(text, 1, sizeof text - 1, out), 29u);
  EXPECT_STREQ(text, "{\"type\":\"INTEGER\",\"value\":3}\n");
  std::fclose(out);
  EXPECT_EQ(TUL_print_json_string(nullptr), nullptr);
  for (long n = 1;; ++n) {
    FailNthAllocation fail(n);
    char* line = TUL_print_json_string(v.get());
    const bool fired = fail.fired();
    EXPECT_TRUE(!line || std::string(line) == "{\"type\":\"INTEGER\",\"value\":3}");
    std::free(line);
    if (!fired) break;
  }
}

}  // namespace
