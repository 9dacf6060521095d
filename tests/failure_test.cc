// Where a failed decode stopped: the member path, offset and tag that the
// library records for the last failed decode of a thread, beside the error
// object it returns unchanged.
#include <fstream>
#include <iterator>
#include <string>

#include "support/defs_file.h"
#include "support/dictionary_test.h"
#include "tul.h"

namespace {

using tul::test::example_path;

class FailureTest : public tul::test::DictionaryTest {
 protected:
  void SetUp() override {
    DictionaryTest::SetUp();
    TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
    ASSERT_EQ(tul::test::load_definitions_file(md, example_path("snmpv1.defs")), "");
    TUL_Object* extra = TUL_parse_str(md, "TUL.Asn1 { name 'P', type 'SEQUENCE', fields { { name 'a', type 'ANY' },"
                                          " { name 'b', type 'BOOLEAN' } } }");
    ASSERT_TRUE(extra && !extra->error);
    TUL_Object* entered = TUL_add_definition(md, extra);
    if (entered != extra) TUL_free(entered);
    TUL_free(extra);
  }

  // The error message of decoding the hexadecimal `hex` as `type`; "" when
  // it decodes.
  std::string decode(const char* type, const std::string& hex) {
    std::string octets;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) octets += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    TUL_Object* ber = TUL_new("BER-String", md, static_cast<int>(octets.size()), octets.data());
    TUL_Object* value = TUL_decode(type, ber, md);
    const std::string message = value && value->error ? text_of(value) : "";
    TUL_free(value);
    TUL_free(ber);
    return message;
  }
};

TEST_F(FailureTest, NamesThePathOffsetAndTagOfTheFailure) {
  std::ifstream in(example_path("trap.hex"));
  std::string trap;
  std::getline(in, trap);
  const std::string varbind = "300806032B0601020100";  // {1.3.6.1, INTEGER 0} as a list item
  const struct {
    const char* name;
    const char* type;
    std::string hex;
    std::string message;
    std::string path;
    long offset;
    int tag_class, tag_number;
    const char* element_type;  // null: the enclosing value found the tag wrong
  } rows[] = {
      {"a member's tag that does not belong", "Message", trap.substr(0, 80) + "99" + trap.substr(82),
       "'unexpected member tag found' in an object from type 'Trap-PDU'", "data.trap.time-stamp", 40, 2, 25, nullptr},
      {"a third list item, through CHOICE alternatives", "VarBindList",
       "3026" + varbind + varbind + "301006032B06014109010000000000000000",
       "'wrong encoding or data overflow' in an object from type 'Counter'",
       "[2].value.application-wide.counter", 29, 1, 1, "Counter"},
      {"the outermost value", "INTEGER", "0209010000000000000000", "'wrong encoding or data overflow'", "", 0, 0, 2,
       "INTEGER"},
  };
  TUL_set_wide_integers(1);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_NE(decode(row.type, row.hex).find(row.message), std::string::npos);
    const TUL_DecodeFailure* f = TUL_last_decode_failure();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->path, row.path);
    EXPECT_EQ(f->offset, row.offset);
    EXPECT_EQ(f->tag_class, row.tag_class);
    EXPECT_EQ(f->tag_number, row.tag_number);
    EXPECT_EQ(f->type ? std::string(f->type) : "<none>", row.element_type ? row.element_type : "<none>");
  }
  TUL_set_wide_integers(0);
}

// A failure the decoder recovers from (typed ANY falling back to a whole
// ANY) leaves nothing behind; a success keeps the last record; octets that
// are no BER clear it.
TEST_F(FailureTest, RecordsOnlyFailuresThatReachedTheElements) {
  TUL_set_typed_any(1);
  EXPECT_EQ(decode("P", "300E" "4109010000000000000000" "0101FF"), "");
  EXPECT_NE(decode("P", "300E" "4109010000000000000000" "020105"), "");
  const TUL_DecodeFailure* f = TUL_last_decode_failure();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(std::string(f->path) + "@" + std::to_string(f->offset), "b@13");
  EXPECT_EQ(decode("INTEGER", "020105"), "");
  EXPECT_EQ(TUL_last_decode_failure(), f);
  EXPECT_EQ(std::string(f->path), "b");
  EXPECT_NE(decode("INTEGER", "0205"), "");
  EXPECT_EQ(TUL_last_decode_failure(), nullptr);
  TUL_set_typed_any(0);
}

}  // namespace
