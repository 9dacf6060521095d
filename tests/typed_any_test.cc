// The opt-in typed ANY switch: members and alternatives declared plain ANY
// decode as the type their element's tag names, and fall back to the whole
// element when that names no type or the typed decode fails.
#include <gtest/gtest.h>

#include "support/dictionary_test.h"
#include "support/type_builder.h"

namespace tul::test {
namespace {

class TypedAnyTest : public DictionaryTest {
 protected:
  void SetUp() override {
    DictionaryTest::SetUp();
    // The SNMP application types, as an SNMP application defines them.
    define_type(md, "Counter", "INTEGER", {}, TUL_TAG_APPLICATION | TUL_TAG_IMPLICIT, 1);
    define_type(md, "TimeTicks", "INTEGER", {}, TUL_TAG_APPLICATION | TUL_TAG_IMPLICIT, 3);
    define_type(md, "Binding", "SEQUENCE", {{"name", "OBJECT IDENTIFIER"}, {"value", "ANY"}});
    define_type(md, "Pick", "CHOICE", {implicit_member("n", "INTEGER", 0), {"other", "ANY"}});
    define_type(md, "Stamped", "SEQUENCE", {{"time-stamp", "TimeTicks"}});
  }
  void TearDown() override {
    TUL_set_typed_any(0);
    DictionaryTest::TearDown();
  }
};

TEST_F(TypedAnyTest, MembersTakeTheTypeTheirTagNamesAndRoundTrip) {
  const struct {
    const char* name;
    const char* type;
    std::string hex, off, on;
  } rows[] = {
      {"INTEGER", "Binding", "30 06 06 01 2B 02 01 03", "Binding { name {1 3}, value ANY '020103'H }",
       "Binding { name {1 3}, value INTEGER 3 }"},
      {"application Counter", "Binding", "30 07 06 01 2B 41 02 04 D2", "Binding { name {1 3}, value ANY '410204D2'H }",
       "Binding { name {1 3}, value Counter 1234 }"},
      {"OBJECT IDENTIFIER", "Binding", "30 07 06 01 2B 06 02 2B 06", "Binding { name {1 3}, value ANY '06022B06'H }",
       "Binding { name {1 3}, value OBJECT IDENTIFIER {1 3 6} }"},
      {"a Counter beyond 32 bits stays whole", "Binding", "30 0A 06 01 2B 41 05 00 80 00 00 00",
       "Binding { name {1 3}, value ANY '41050080000000'H }", "Binding { name {1 3}, value ANY '41050080000000'H }"},
      {"a context tag names no type", "Binding", "30 06 06 01 2B 85 01 07", "Binding { name {1 3}, value ANY '850107'H }",
       "Binding { name {1 3}, value ANY '850107'H }"},
      {"CHOICE alternative", "Pick", "04 02 68 69", "Pick other : ANY '04026869'H", "Pick other : OCTET STRING '6869'H"},
  };
  for (int on : {0, 1}) {
    TUL_set_typed_any(on);
    for (const auto& row : rows) {
      SCOPED_TRACE(std::string(row.name) + (on ? ", typed" : ", raw"));
      StderrCapture capture;
      EXPECT_EQ(decode_or_parse(md, row.type, row.hex), on ? row.on : row.off);
      EXPECT_EQ(capture.take(), "");
    }
  }
}

// Only members declared ANY change: a declared INTEGER-based type that does
// not fit still fails the decode.
TEST_F(TypedAnyTest, DeclaredTypesStillFail) {
  TUL_set_typed_any(1);
  StderrCapture capture;
  EXPECT_EQ(decode_error_text(md, "Stamped", "30 07 43 05 00 80 00 00 00"),
            "#17 decode error: 'wrong encoding or data overflow' in an object from type 'TimeTicks'");
}

}  // namespace
}  // namespace tul::test
